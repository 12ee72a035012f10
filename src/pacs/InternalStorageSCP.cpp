#include "InternalStorageSCP.h"

#include "pacs/StorageListener.h"
#include "pacs/UniqueFile.h"

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmnet/dimse.h>

#include <QDateTime>
#include <QFile>

namespace pacs {

InternalStorageSCP::InternalStorageSCP(StorageListener *listener, QString outputDir)
    : m_listener(listener), m_outputDir(std::move(outputDir))
{
}

InternalStorageSCP::~InternalStorageSCP() = default;

OFBool InternalStorageSCP::stopAfterConnectionTimeout()
{
    return m_listener->isStopRequested();
}

OFCondition InternalStorageSCP::handleIncomingCommand(T_DIMSE_Message *incomingMsg,
                                                      const DcmPresentationContextInfo &presInfo)
{
    if (incomingMsg->CommandField != DIMSE_C_STORE_RQ)
        return DcmSCP::handleIncomingCommand(incomingMsg, presInfo);
    return storeObject(incomingMsg->msg.CStoreRQ, presInfo.presentationContextID);
}

OFCondition InternalStorageSCP::storeObject(T_DIMSE_C_StoreRQ &request, T_ASC_PresentationContextID presentationId)
{
    DcmDataset *dataset = nullptr;
    OFCondition cond = receiveSTORERequest(request, presentationId, dataset);
    if (cond.bad()) {
        delete dataset;
        emit m_listener->errorOccurred(
            QStringLiteral("Ошибка приёма файла по C-STORE: %1").arg(QString::fromLocal8Bit(cond.text())));
        return cond;
    }
    // The file object takes the dataset over: no copy of a whole image.
    DcmFileFormat file(dataset, OFFalse);
    QString problem;
    const QString path = createUniqueFile(m_outputDir, QDateTime::currentMSecsSinceEpoch(), &problem);
    if (!path.isEmpty()) {
        const OFCondition saved = file.saveFile(OFFilename(QFile::encodeName(path).constData()),
                                                EXS_LittleEndianExplicit, EET_ExplicitLength, EGL_recalcGL,
                                                EPD_withoutPadding, 0, 0, EWM_createNewMeta);
        if (saved.good()) {
            emit m_listener->fileReceived(path);
            return sendSTOREResponse(presentationId, request, STATUS_Success);
        }
        problem = QString::fromLocal8Bit(saved.text());
        QFile::remove(path); // our own reservation, never another object
    }
    // The sender must learn that we do not have the object: a success here
    // would lose it without anyone knowing.
    emit m_listener->errorOccurred(QStringLiteral("Не удалось сохранить принятый файл: %1").arg(problem));
    return sendSTOREResponse(presentationId, request, STATUS_STORE_Refused_OutOfResources);
}

} // namespace pacs
