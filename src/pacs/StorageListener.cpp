#include "pacs/StorageListener.h"

#include "InternalStorageSCP.h"
#include "PacsAssociation.h"
#include "pacs/PacsClient.h"

#include <dcmtk/dcmnet/cond.h>

#include <memory>

namespace pacs {

StorageListener::StorageListener(quint16 port, QString aeTitle, QString outputDir, QObject *parent)
    : QObject(parent), m_port(port), m_aeTitle(std::move(aeTitle)), m_outputDir(std::move(outputDir))
{
}

void StorageListener::stop()
{
    m_stopRequested.store(true);
}

void StorageListener::run()
{
    {
        auto scp = std::make_unique<InternalStorageSCP>(this, m_outputDir);
        scp->setPort(m_port);
        scp->setAETitle(m_aeTitle.toUtf8().constData());
        const OFList<OFString> syntaxes = detail::toOFList(proposedTransferSyntaxes());
        // No Verification: this provider only takes the objects of our own
        // retrieves.
        for (const QString &sopClass : defaultStorageSopClasses())
            scp->addPresentationContext(sopClass.toLatin1().constData(), syntaxes, ASC_SC_ROLE_DEFAULT, "DEFAULT");
        scp->setConnectionBlockingMode(DUL_NOBLOCK);
        scp->setConnectionTimeout(connectionTimeoutSeconds);

        const auto report = [this](const OFCondition &cond) {
            emit errorOccurred(
                QStringLiteral("Ошибка приёма соединения: %1").arg(QString::fromLocal8Bit(cond.text())));
        };
        bool announced = false;
        while (!m_stopRequested.load()) {
            // A port that cannot be opened (taken, or refused to us) would
            // fail the same way on every pass: said once, the listener ends,
            // and the download waiting for it can end too.
            OFCondition cond = scp->openListenPort();
            if (cond.bad()) {
                report(cond);
                break;
            }
            if (!announced) {
                announced = true;
                emit listening();
            }
            cond = scp->acceptAssociations();
            if (cond.bad() && cond != NET_EC_StopAfterConnectionTimeout && cond != DUL_NOASSOCIATIONREQUEST
                && !m_stopRequested.load())
                report(cond);
        }
    }
    emit stopped();
}

} // namespace pacs
