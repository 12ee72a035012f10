#include "pacs/PacsClient.h"

#include "dicom/CodecRegistration.h"
#include "dicom/DcmtkAccess.h"
#include "GetStudySCU.h"
#include "PacsAssociation.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QDir>

#include <memory>
#include <vector>

namespace pacs {

using detail::setError;

namespace {

// A presentation context ID is an odd number below 256.
constexpr int maxPresentationContexts = 128;

// Compressed transfer syntaxes a C-GET peer may send in: proposing them lets
// a compressed archive arrive as stored (a peer that cannot decode one would
// otherwise fail the whole retrieve).
const QStringList &compressedTransferSyntaxes()
{
    static const QStringList list{
        QStringLiteral("1.2.840.10008.1.2.4.80"), // JPEG-LS lossless
        QStringLiteral("1.2.840.10008.1.2.4.81"), // JPEG-LS near-lossless
        QStringLiteral("1.2.840.10008.1.2.4.90"), // JPEG 2000 lossless only
        QStringLiteral("1.2.840.10008.1.2.4.91"), // JPEG 2000
        QStringLiteral("1.2.840.10008.1.2.4.70"), // JPEG lossless, first-order prediction
        QStringLiteral("1.2.840.10008.1.2.4.57"), // JPEG lossless
        QStringLiteral("1.2.840.10008.1.2.4.50"), // JPEG baseline
        QStringLiteral("1.2.840.10008.1.2.4.51"), // JPEG extended
        QStringLiteral("1.2.840.10008.1.2.5"),    // RLE lossless
    };
    return list;
}

bool isProposedByDefault(const QString &transferSyntax)
{
    return proposedTransferSyntaxes().contains(transferSyntax);
}

// Releases the association of an SCU when a call leaves, whichever way.
class Release
{
public:
    explicit Release(DcmSCU &scu) : m_scu(scu) {}
    ~Release()
    {
        if (m_scu.isConnected())
            m_scu.releaseAssociation();
    }
    Release(const Release &) = delete;
    Release &operator=(const Release &) = delete;

private:
    DcmSCU &m_scu;
};

bool openAssociation(DcmSCU &scu, const PacsServerConfig &node, const PacsConfig &local,
                     const char *abstractSyntax, QString *error)
{
    dicom::prepareDcmtkLibrary();
    if (!detail::configure(scu, node, local, error))
        return false;
    scu.addPresentationContext(abstractSyntax, detail::toOFList(proposedTransferSyntaxes()));
    return detail::connect(scu, node, error);
}

QString resultText(DcmItem &item, const DcmTagKey &tag)
{
    OFString value;
    if (item.findAndGetOFStringArray(tag, value).bad())
        return {};
    return QString::fromUtf8(value.c_str(), qsizetype(value.length()));
}

// A failed final status of a retrieve; the condition alone is good even when
// the peer refused the whole request.
template <class Responses>
bool retrieveRefused(const Responses &responses, Uint16 *status)
{
    if (responses.empty())
        return false;
    const Uint16 last = responses.back()->m_status;
    *status = last;
    return last != STATUS_Success && last != STATUS_Pending && (last & 0xf000) != 0xb000 && last != 0xff01;
}

template <class T>
void deleteAll(OFList<T *> &list)
{
    for (T *item : list)
        delete item;
    list.clear();
}

} // namespace

QStringList proposedTransferSyntaxes()
{
    return {QStringLiteral("1.2.840.10008.1.2.1"), QStringLiteral("1.2.840.10008.1.2")};
}

QStringList defaultStorageSopClasses()
{
    return {
        QStringLiteral("1.2.840.10008.5.1.4.1.1.2"),     // CT Image
        QStringLiteral("1.2.840.10008.5.1.4.1.1.4"),     // MR Image
        QStringLiteral("1.2.840.10008.5.1.4.1.1.6.1"),   // Ultrasound Image
        QStringLiteral("1.2.840.10008.5.1.4.1.1.7"),     // Secondary Capture
        QStringLiteral("1.2.840.10008.5.1.4.1.1.1.1"),   // Digital X-Ray for presentation
        QStringLiteral("1.2.840.10008.5.1.4.1.1.1"),     // Computed Radiography
        QStringLiteral("1.2.840.10008.5.1.4.1.1.12.1"),  // X-Ray Angiographic
        QStringLiteral("1.2.840.10008.5.1.4.1.1.128"),   // PET Image
        QStringLiteral("1.2.840.10008.5.1.4.1.1.20"),    // NM Image
        QStringLiteral("1.2.840.10008.5.1.4.1.1.104.1"), // Encapsulated PDF
    };
}

int effectiveAnswerTimeoutSeconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("VELMARIS_PACS_TIMEOUT_S", &ok);
    return ok && seconds > 0 ? seconds : answerTimeoutSeconds;
}

bool echoServer(const PacsServerConfig &node, const PacsConfig &local, QString *error)
{
    DcmSCU scu;
    if (!openAssociation(scu, node, local, verificationSopClass, error))
        return false;
    const Release release(scu);
    const T_ASC_PresentationContextID pc = scu.findAnyPresentationContextID(verificationSopClass, "");
    if (pc == 0) {
        setError(error, QStringLiteral("Сервер не поддерживает C-ECHO (Verification SOP Class)"));
        return false;
    }
    const OFCondition cond = scu.sendECHORequest(pc);
    if (cond.bad()) {
        setError(error, detail::conditionMessage(cond, node));
        return false;
    }
    return true;
}

QList<StudyResult> findStudies(const PacsServerConfig &node, const PacsConfig &local, const StudyQuery &query,
                               QString *error)
{
    QList<StudyResult> results;
    DcmSCU scu;
    if (!openAssociation(scu, node, local, studyRootFindSopClass, error))
        return results;
    OFList<QRResponse *> responses;
    {
        const Release release(scu);
        const T_ASC_PresentationContextID pc = scu.findAnyPresentationContextID(studyRootFindSopClass, "");
        if (pc == 0) {
            setError(error, QStringLiteral("Сервер не поддерживает Study Root Query/Retrieve (C-FIND)"));
            return results;
        }
        const auto utf8 = [](const QString &text) { return OFString(text.toUtf8().constData()); };
        QString date;
        if (!query.dateFrom.isEmpty() || !query.dateTo.isEmpty())
            date = QStringLiteral("%1-%2").arg(query.dateFrom, query.dateTo);
        DcmDataset identifier;
        identifier.putAndInsertOFStringArray(DCM_QueryRetrieveLevel, "STUDY");
        identifier.putAndInsertOFStringArray(DCM_PatientName,
                                             query.patientName.isEmpty() ? OFString("*") : utf8(query.patientName));
        identifier.putAndInsertOFStringArray(DCM_PatientID, utf8(query.patientId));
        identifier.putAndInsertOFStringArray(DCM_StudyDate, utf8(date));
        identifier.putAndInsertOFStringArray(DCM_StudyTime, "");
        identifier.putAndInsertOFStringArray(DCM_StudyDescription, "");
        identifier.putAndInsertOFStringArray(DCM_StudyInstanceUID, "");
        identifier.putAndInsertOFStringArray(DCM_ModalitiesInStudy, utf8(query.modalities));
        identifier.putAndInsertOFStringArray(DCM_AccessionNumber, "");
        identifier.putAndInsertOFStringArray(DCM_NumberOfStudyRelatedSeries, "");
        identifier.putAndInsertOFStringArray(DCM_NumberOfStudyRelatedInstances, "");
        const OFCondition cond = scu.sendFINDRequest(pc, &identifier, &responses);
        if (cond.bad())
            setError(error, detail::conditionMessage(cond, node));
    }
    for (QRResponse *response : responses) {
        if (response->m_dataset == nullptr)
            continue;
        DcmDataset &d = *response->m_dataset;
        StudyResult result{resultText(d, DCM_PatientName),
                           resultText(d, DCM_PatientID),
                           resultText(d, DCM_StudyDate),
                           resultText(d, DCM_StudyTime),
                           resultText(d, DCM_StudyDescription),
                           resultText(d, DCM_ModalitiesInStudy),
                           resultText(d, DCM_StudyInstanceUID),
                           resultText(d, DCM_AccessionNumber),
                           resultText(d, DCM_NumberOfStudyRelatedSeries),
                           resultText(d, DCM_NumberOfStudyRelatedInstances)};
        if (!result.studyInstanceUid.isEmpty())
            results.append(result);
    }
    deleteAll(responses);
    return results;
}

bool moveStudy(const PacsServerConfig &node, const PacsConfig &local, const QString &studyInstanceUid,
               QString *error)
{
    DcmSCU scu;
    if (!openAssociation(scu, node, local, studyRootMoveSopClass, error))
        return false;
    const Release release(scu);
    const T_ASC_PresentationContextID pc = scu.findAnyPresentationContextID(studyRootMoveSopClass, "");
    if (pc == 0) {
        setError(error, QStringLiteral("Сервер не поддерживает Study Root Query/Retrieve (C-MOVE)"));
        return false;
    }
    DcmDataset identifier;
    identifier.putAndInsertOFStringArray(DCM_QueryRetrieveLevel, "STUDY");
    identifier.putAndInsertOFStringArray(DCM_StudyInstanceUID, studyInstanceUid.toLatin1().constData());
    const QString destination =
        local.moveDestinationAeTitle.isEmpty() ? local.localAeTitle : local.moveDestinationAeTitle;
    OFList<RetrieveResponse *> responses;
    const OFCondition cond =
        scu.sendMOVERequest(pc, destination.toUtf8().constData(), &identifier, &responses);
    Uint16 status = 0;
    const bool refused = retrieveRefused(responses, &status);
    deleteAll(responses);
    if (cond.bad()) {
        setError(error, detail::conditionMessage(cond, node));
        return false;
    }
    if (refused) {
        setError(error, QStringLiteral("Сервер отклонил C-MOVE в %1: статус 0x%2")
                            .arg(destination)
                            .arg(status, 4, 16, QLatin1Char('0')));
        return false;
    }
    return true;
}

bool getStudy(const PacsServerConfig &node, const PacsConfig &local, const QString &studyInstanceUid,
              const QString &destinationFolder, int *storedCount, QString *error, const StoredFileCallback &onFile)
{
    dicom::prepareDcmtkLibrary();
    GetStudySCU scu(destinationFolder, onFile);
    if (!detail::configure(scu, node, local, error))
        return false;
    const OFList<OFString> uncompressed = detail::toOFList(proposedTransferSyntaxes());
    scu.addPresentationContext(studyRootGetSopClass, uncompressed);
    // The storage contexts carry a role selection that makes us their SCP:
    // peers such as dcmqrscp send nothing on a context without it.
    for (const QString &sopClass : defaultStorageSopClasses()) {
        const OFString abstract(sopClass.toLatin1().constData());
        scu.addPresentationContext(abstract, uncompressed, ASC_SC_ROLE_SCP);
        for (const QString &syntax : compressedTransferSyntaxes())
            scu.addPresentationContext(abstract, detail::toOFList({syntax}), ASC_SC_ROLE_SCP);
    }
    if (!detail::connect(scu, node, error))
        return false;
    OFCondition cond;
    OFList<RetrieveResponse *> responses;
    {
        const Release release(scu);
        const T_ASC_PresentationContextID pc = scu.findAnyPresentationContextID(studyRootGetSopClass, "");
        if (pc == 0) {
            setError(error, QStringLiteral("Сервер не поддерживает Study Root Query/Retrieve (C-GET)"));
            return false;
        }
        DcmDataset identifier;
        identifier.putAndInsertOFStringArray(DCM_QueryRetrieveLevel, "STUDY");
        identifier.putAndInsertOFStringArray(DCM_StudyInstanceUID, studyInstanceUid.toLatin1().constData());
        cond = scu.sendCGETRequest(pc, &identifier, &responses);
    }
    Uint16 status = 0;
    const bool refused = retrieveRefused(responses, &status);
    deleteAll(responses);
    if (storedCount)
        *storedCount = scu.storedCount();
    if (cond.bad()) {
        setError(error, detail::conditionMessage(cond, node));
        return false;
    }
    if (scu.failedCount() > 0) {
        setError(error, QStringLiteral("Не удалось сохранить %1 из %2 полученных объектов в %3: %4")
                            .arg(scu.failedCount())
                            .arg(scu.failedCount() + scu.storedCount())
                            .arg(QDir::toNativeSeparators(destinationFolder), scu.lastWriteError()));
        return false;
    }
    if (refused) {
        setError(error, QStringLiteral("Сервер отклонил C-GET: статус 0x%1").arg(status, 4, 16, QLatin1Char('0')));
        return false;
    }
    return true;
}

bool storeFiles(const PacsServerConfig &node, const PacsConfig &local, const QStringList &filePaths,
                QString *error, const StoreProgressCallback &progress)
{
    if (filePaths.isEmpty()) {
        setError(error, QStringLiteral("Нет файлов для отправки"));
        return false;
    }
    // Decoding to the accepted syntax needs the codecs; the registration
    // nests, so a caller's own does no harm.
    const dicom::CodecRegistration codecs;
    DcmSCU scu;
    if (!detail::configure(scu, node, local, error))
        return false;

    // Every class of the files, and beside the plain contexts one for each
    // compressed syntax the files are in, so that a peer that takes it gets
    // the object exactly as stored.
    QStringList sopClasses = defaultStorageSopClasses();
    QList<QPair<QString, QString>> ownSyntaxes;
    for (const QString &path : filePaths) {
        const auto file = dicom::loadDcmtkFile(path);
        if (!file)
            continue;
        DcmDataset &dataset = *file->getDataset();
        OFString sopClass;
        if (dataset.findAndGetOFString(DCM_SOPClassUID, sopClass).bad() || sopClass.empty())
            continue;
        const QString sop = QString::fromLatin1(sopClass.c_str());
        if (!sopClasses.contains(sop))
            sopClasses.append(sop);
        const QString syntax = QString::fromLatin1(DcmXfer(dataset.getOriginalXfer()).getXferID());
        if (!syntax.isEmpty() && !isProposedByDefault(syntax) && !ownSyntaxes.contains({sop, syntax}))
            ownSyntaxes.append({sop, syntax});
    }
    int contexts = 0;
    const OFList<OFString> uncompressed = detail::toOFList(proposedTransferSyntaxes());
    for (const QString &sop : sopClasses) {
        if (contexts == maxPresentationContexts)
            break;
        scu.addPresentationContext(sop.toLatin1().constData(), uncompressed);
        ++contexts;
    }
    for (const auto &[sop, syntax] : ownSyntaxes) {
        if (contexts == maxPresentationContexts)
            break; // the rest is decoded on the way
        scu.addPresentationContext(sop.toLatin1().constData(), detail::toOFList({syntax}));
        ++contexts;
    }
    // Files whose own syntax the peer refused are decoded to the plain one;
    // nothing is ever re-encoded, so lossy data never gets a second loss.
    scu.setDatasetConversionMode(OFTrue);
    scu.setProgressNotificationMode(OFFalse);
    if (!detail::connect(scu, node, error))
        return false;

    int sent = 0;
    int failed = 0;
    const int total = int(filePaths.size());
    {
        const Release release(scu);
        for (int i = 0; i < total; ++i) {
            bool ok = false;
            if (const auto file = dicom::loadDcmtkFile(filePaths.at(i))) {
                DcmDataset *dataset = file->getDataset();
                OFString sopClass;
                dataset->findAndGetOFString(DCM_SOPClassUID, sopClass);
                const OFString own = DcmXfer(dataset->getOriginalXfer()).getXferID();
                T_ASC_PresentationContextID pc = 0;
                if (!sopClass.empty()) {
                    pc = scu.findPresentationContextID(sopClass, own);
                    if (pc == 0)
                        pc = scu.findPresentationContextID(sopClass, UID_LittleEndianExplicitTransferSyntax);
                    if (pc == 0)
                        pc = scu.findPresentationContextID(sopClass, UID_LittleEndianImplicitTransferSyntax);
                }
                if (pc != 0 && scu.isConnected()) {
                    Uint16 status = 0xffff;
                    const OFCondition cond = scu.sendSTORERequest(pc, OFFilename(), dataset, status);
                    ok = cond.good() && status == STATUS_Success;
                }
            }
            if (ok)
                ++sent;
            else
                ++failed;
            if (progress)
                progress(i + 1, total);
        }
    }
    if (failed == 0)
        return true;
    setError(error, QStringLiteral("Отправлено %1 из %2 — не удалось отправить %3 файлов").arg(sent).arg(total).arg(failed));
    return false;
}

} // namespace pacs
