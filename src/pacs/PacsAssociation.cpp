#include "PacsAssociation.h"

#include "pacs/PacsClient.h"

#include <dcmtk/dcmnet/cond.h>

namespace pacs::detail {

OFList<OFString> toOFList(const QStringList &uids)
{
    OFList<OFString> list;
    for (const QString &uid : uids)
        list.push_back(OFString(uid.toLatin1().constData()));
    return list;
}

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

bool configure(DcmSCU &scu, const PacsServerConfig &node, const PacsConfig &local, QString *error)
{
    if (node.port < 1 || node.port > 65535) {
        setError(error, QStringLiteral("Неверный порт %1: допустимы значения от 1 до 65535").arg(node.port));
        return false;
    }
    scu.setAETitle(local.localAeTitle.toUtf8().constData());
    scu.setPeerAETitle(node.aeTitle.toUtf8().constData());
    scu.setPeerHostName(node.host.toUtf8().constData());
    scu.setPeerPort(Uint16(node.port));
    scu.setConnectionTimeout(connectionTimeoutSeconds);
    const int answer = effectiveAnswerTimeoutSeconds();
    scu.setACSETimeout(Uint32(answer));
    scu.setDIMSETimeout(Uint32(answer));
    // The DIMSE time-out only applies to non-blocking reads.
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    return true;
}

bool connect(DcmSCU &scu, const PacsServerConfig &node, QString *error)
{
    OFCondition cond = scu.initNetwork();
    if (cond.good())
        cond = scu.negotiateAssociation();
    if (cond.bad()) {
        setError(error, conditionMessage(cond, node));
        return false;
    }
    return true;
}

QString conditionMessage(const OFCondition &condition, const PacsServerConfig &node)
{
    const QString text = QString::fromLocal8Bit(condition.text());
    if (condition.module() == OFM_dcmnet
        && (condition.code() == DULC_READTIMEOUT || condition.code() == DIMSEC_NODATAAVAILABLE)) {
        return QStringLiteral("Узел %1:%2 не ответил за %3 с (%4)")
            .arg(node.host)
            .arg(node.port)
            .arg(effectiveAnswerTimeoutSeconds())
            .arg(text);
    }
    if (condition.module() == OFM_dcmnet && condition.code() == DULC_TCPINITERROR
        && (text.contains(QLatin1String("timed out"), Qt::CaseInsensitive)
            || text.contains(QLatin1String("timeout"), Qt::CaseInsensitive))) {
        return QStringLiteral("Не удалось подключиться к %1:%2 за %3 с (%4)")
            .arg(node.host)
            .arg(node.port)
            .arg(connectionTimeoutSeconds)
            .arg(text);
    }
    return text;
}

} // namespace pacs::detail
