#include "GetStudySCU.h"

#include "pacs/UniqueFile.h"

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmnet/dimse.h>

#include <QDateTime>
#include <QFile>

#include <memory>

namespace pacs {

GetStudySCU::GetStudySCU(const QString &destinationFolder, StoredFileCallback onFile)
    : m_folder(destinationFolder), m_onFile(std::move(onFile))
{
}

OFCondition GetStudySCU::handleSTORERequest(const T_ASC_PresentationContextID, DcmDataset *incomingObject,
                                            OFBool &continueCGETSession, Uint16 &cStoreReturnStatus)
{
    continueCGETSession = OFTrue;
    if (incomingObject == nullptr) {
        cStoreReturnStatus = STATUS_STORE_Error_CannotUnderstand;
        return EC_IllegalParameter;
    }
    // The file object takes the dataset over, which is what the library
    // expects of this handler (it does not free it itself).
    DcmFileFormat file(incomingObject, OFFalse);
    // Compressed objects are kept as they came: decoding them here would only
    // cost time and, for codecs we lack, the object itself.
    E_TransferSyntax xfer = file.getDataset()->getCurrentXfer();
    if (xfer == EXS_LittleEndianImplicit || xfer == EXS_Unknown)
        xfer = EXS_LittleEndianExplicit;

    QString problem;
    const QString path = createUniqueFile(m_folder, QDateTime::currentMSecsSinceEpoch(), &problem);
    if (!path.isEmpty()) {
        const OFCondition cond = file.saveFile(OFFilename(QFile::encodeName(path).constData()), xfer,
                                               EET_ExplicitLength, EGL_recalcGL, EPD_withoutPadding, 0, 0,
                                               EWM_createNewMeta);
        if (cond.good()) {
            ++m_stored;
            if (m_onFile)
                m_onFile(path);
            cStoreReturnStatus = STATUS_Success;
            return EC_Normal;
        }
        problem = QString::fromLocal8Bit(cond.text());
        QFile::remove(path); // our own reservation, never another object
    }
    // Acknowledging an object we do not have would lose it silently: the
    // peer learns of the failure and the caller of the count.
    ++m_failed;
    m_lastWriteError = problem;
    cStoreReturnStatus = STATUS_STORE_Refused_OutOfResources;
    return EC_Normal;
}

} // namespace pacs
