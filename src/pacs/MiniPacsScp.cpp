#include "MiniPacsScp.h"

#include "db/Database.h"
#include "dicom/DcmtkAccess.h"
#include "pacs/MiniPacsMatching.h"
#include "pacs/PacsClient.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace pacs {

using minipacs::DateMatcher;
using minipacs::ModalitiesMatcher;
using minipacs::TextMatcher;
using minipacs::UidMatcher;

namespace {

constexpr Uint16 statusSuccess = 0x0000;
constexpr Uint16 statusPending = 0xFF00;
constexpr Uint16 statusStoreOutOfResources = 0xA700;
constexpr Uint16 statusUnableToProcess = 0xC000;
constexpr Uint16 statusMoveDestinationUnknown = 0xA801;
constexpr Uint16 statusMoveOutOfResources = 0xA702;
constexpr Uint16 statusMoveWithFailures = 0xB000;

constexpr int listenPeriodSeconds = 2;

const char *const queryRetrieveClasses[] = {
    UID_VerificationSOPClass,
    UID_FINDStudyRootQueryRetrieveInformationModel,
    UID_FINDPatientRootQueryRetrieveInformationModel,
    UID_MOVEStudyRootQueryRetrieveInformationModel,
    UID_MOVEPatientRootQueryRetrieveInformationModel,
};

OFList<OFString> uncompressedSyntaxes()
{
    OFList<OFString> list;
    list.push_back(UID_LittleEndianExplicitTransferSyntax);
    list.push_back(UID_LittleEndianImplicitTransferSyntax);
    return list;
}

// In the order of preference when a peer offers several for one context.
OFList<OFString> storageSyntaxes()
{
    OFList<OFString> list = uncompressedSyntaxes();
    list.push_back(UID_JPEGProcess1TransferSyntax);
    list.push_back(UID_JPEGProcess14SV1TransferSyntax);
    list.push_back(UID_JPEGLSLosslessTransferSyntax);
    list.push_back(UID_JPEG2000LosslessOnlyTransferSyntax);
    list.push_back(UID_JPEG2000TransferSyntax);
    list.push_back(UID_RLELosslessTransferSyntax);
    return list;
}

const QSet<QString> &queryRetrieveClassSet()
{
    static const QSet<QString> set = [] {
        QSet<QString> s;
        for (const char *uid : queryRetrieveClasses)
            s.insert(QString::fromLatin1(uid));
        return s;
    }();
    return set;
}

const QSet<QString> &storageClassSet()
{
    static const QSet<QString> set = [] {
        QSet<QString> s;
        for (int i = 0; i < numberOfDcmAllStorageSOPClassUIDs; ++i)
            s.insert(QString::fromLatin1(dcmAllStorageSOPClassUIDs[i]));
        return s;
    }();
    return set;
}

// A UID as DICOM defines it: digits and dots, at most 64 characters, no
// empty component; only such a string may name a file or folder as it is.
bool isValidUid(const QString &uid)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]+(\\.[0-9]+)*$"));
    return !uid.isEmpty() && uid.size() <= 64 && pattern.match(uid).hasMatch();
}

QString safeName(const QString &uid)
{
    if (isValidUid(uid))
        return uid;
    return QStringLiteral("x") + QString::fromLatin1(
               QCryptographicHash::hash(uid.toUtf8(), QCryptographicHash::Sha1).toHex());
}

QString text(DcmItem &item, const DcmTagKey &tag)
{
    return dicom::dcmtkText(item, tag).trimmed();
}

void putText(DcmItem &item, const DcmTagKey &tag, const QString &value)
{
    item.putAndInsertString(tag, value.toUtf8().constData());
}

// The answer of one matched record: its values for the attributes the
// level knows; everything else the peer asked for is answered empty.
using Values = std::vector<std::pair<DcmTagKey, QString>>;

DcmDataset buildResponse(DcmDataset &request, const QString &level, const Values &values,
                         const std::vector<DcmTagKey> &keys)
{
    DcmDataset response;
    response.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
    response.putAndInsertString(DCM_QueryRetrieveLevel, level.toLatin1().constData());
    const auto valueOf = [&values](const DcmTagKey &tag) -> const QString * {
        for (const auto &[key, value] : values) {
            if (key == tag)
                return &value;
        }
        return nullptr;
    };
    for (unsigned long i = 0; i < request.card(); ++i) {
        DcmElement *element = request.getElement(i);
        const DcmTagKey tag = element->getTag();
        if (tag == DCM_SpecificCharacterSet || tag == DCM_QueryRetrieveLevel || tag.getElement() == 0)
            continue;
        if (const QString *value = valueOf(tag))
            putText(response, tag, *value);
        else
            response.insertEmptyElement(tag);
    }
    for (const DcmTagKey &key : keys) {
        if (!request.tagExists(key)) {
            if (const QString *value = valueOf(key))
                putText(response, key, *value);
        }
    }
    return response;
}

} // namespace

MiniPacsScp::MiniPacsScp(db::Database *database, const QString &aeTitle, const QString &storageFolder, Hooks hooks,
                         const std::atomic_bool *stop)
    : m_database(database), m_aeTitle(aeTitle), m_storageFolder(QDir::cleanPath(QDir(storageFolder).absolutePath())),
      m_hooks(std::move(hooks)), m_stop(stop)
{
    // The first classes fill the default profile (which must be valid before
    // anything listens); the rest come in through each peer's own profile.
    const OFList<OFString> plain = uncompressedSyntaxes();
    for (const char *uid : queryRetrieveClasses)
        addPresentationContext(uid, plain);
    const OFList<OFString> storage = storageSyntaxes();
    for (int i = 0; i < numberOfDcmAllStorageSOPClassUIDs; ++i) {
        if (addPresentationContext(dcmAllStorageSOPClassUIDs[i], storage).bad())
            break;
    }
    DcmSCPConfig &config = getConfig();
    config.setConnectionBlockingMode(DUL_NOBLOCK);
    config.setConnectionTimeout(listenPeriodSeconds);
    // Associations are served one at a time: a peer that goes silent may hold
    // everyone else up only this long.
    const Uint32 answer = Uint32(effectiveAnswerTimeoutSeconds());
    config.setACSETimeout(answer);
    config.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    config.setDIMSETimeout(answer);
}

MiniPacsScp::~MiniPacsScp() = default;

QString MiniPacsScp::storagePath(const QString &storageFolder, const QString &studyUid, const QString &sopUid)
{
    const QString folder = studyUid.isEmpty() ? QStringLiteral("unknown") : safeName(studyUid);
    return QDir(storageFolder).filePath(folder + QLatin1Char('/') + safeName(sopUid) + QStringLiteral(".dcm"));
}

void MiniPacsScp::log(const QString &text) const
{
    if (m_hooks.log)
        m_hooks.log(text);
}

QString MiniPacsScp::callingAe() const
{
    return QString::fromLatin1(getPeerAETitle().c_str()).trimmed();
}

OFBool MiniPacsScp::stopAfterConnectionTimeout()
{
    return m_stop->load();
}

void MiniPacsScp::notifyAssociationRequest(const T_ASC_Parameters &params, DcmSCPActionType &desiredAction)
{
    DcmSCP::notifyAssociationRequest(params, desiredAction);
    QStringList wanted;
    LST_HEAD *head = params.DULparams.requestedPresentationContext;
    if (head != nullptr) {
        auto *pc = static_cast<DUL_PRESENTATIONCONTEXT *>(LST_Head(&head));
        (void)LST_Position(&head, reinterpret_cast<LST_NODE *>(pc));
        while (pc != nullptr) {
            const QString uid = QString::fromLatin1(pc->abstractSyntax).trimmed();
            if ((queryRetrieveClassSet().contains(uid) || storageClassSet().contains(uid)) && !wanted.contains(uid))
                wanted.append(uid);
            pc = static_cast<DUL_PRESENTATIONCONTEXT *>(LST_Next(&head));
        }
    }
    if (wanted.isEmpty()) {
        // Nothing we serve: the default profile refuses it.
        getConfig().setAndCheckAssociationProfile("DEFAULT");
        return;
    }
    QStringList sorted = wanted;
    sorted.sort();
    // Peers tend to propose the same set every time: one profile per set.
    const QString profile = QStringLiteral("PEER")
                            + QString::fromLatin1(QCryptographicHash::hash(sorted.join(QLatin1Char(' ')).toLatin1(),
                                                                           QCryptographicHash::Sha1)
                                                      .toHex()
                                                      .left(16))
                                  .toUpper();
    if (!m_profiles.contains(profile)) {
        const OFList<OFString> plain = uncompressedSyntaxes();
        const OFList<OFString> storage = storageSyntaxes();
        for (const QString &uid : wanted) {
            const bool query = queryRetrieveClassSet().contains(uid);
            addPresentationContext(uid.toLatin1().constData(), query ? plain : storage, ASC_SC_ROLE_DEFAULT,
                                   profile.toLatin1().constData());
        }
        m_profiles.insert(profile);
    }
    getConfig().setAndCheckAssociationProfile(profile.toLatin1().constData());
}

OFCondition MiniPacsScp::handleIncomingCommand(T_DIMSE_Message *incomingMsg, const DcmPresentationContextInfo &presInfo)
{
    switch (incomingMsg->CommandField) {
    case DIMSE_C_STORE_RQ:
        return handleStore(incomingMsg->msg.CStoreRQ, presInfo.presentationContextID);
    case DIMSE_C_FIND_RQ:
        return handleFind(incomingMsg->msg.CFindRQ, presInfo.presentationContextID);
    case DIMSE_C_MOVE_RQ:
        return handleMove(incomingMsg->msg.CMoveRQ, presInfo.presentationContextID);
    default:
        return DcmSCP::handleIncomingCommand(incomingMsg, presInfo);
    }
}

OFCondition MiniPacsScp::handleStore(T_DIMSE_C_StoreRQ &request, T_ASC_PresentationContextID presId)
{
    DcmDataset *received = nullptr;
    OFCondition cond = receiveSTORERequest(request, presId, received);
    if (cond.bad()) {
        delete received;
        log(QStringLiteral("Ошибка приёма снимка от %1: %2").arg(callingAe(), QString::fromLocal8Bit(cond.text())));
        return cond;
    }
    // The file object owns the dataset from here on.
    DcmFileFormat file(received, OFFalse);
    DcmDataset &dataset = *file.getDataset();
    const QString studyUid = text(dataset, DCM_StudyInstanceUID);
    QString sopUid = text(dataset, DCM_SOPInstanceUID);
    if (sopUid.isEmpty())
        sopUid = QString::number(QDateTime::currentMSecsSinceEpoch());
    const QString path = storagePath(m_storageFolder, studyUid, sopUid);
    const E_TransferSyntax xfer = dataset.getOriginalXfer();

    QString problem;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        problem = QStringLiteral("не удалось создать папку %1").arg(QFileInfo(path).absolutePath());
    } else {
        // Written beside and renamed over the target: a second object with the
        // same UID replaces the first whole, and a reader never sees half a file.
        const QString partial = path + QStringLiteral(".part");
        const QByteArray partialName = QFile::encodeName(partial);
        cond = file.saveFile(OFFilename(partialName.constData()), xfer, EET_ExplicitLength, EGL_recalcGL,
                             EPD_withoutPadding, 0, 0, EWM_createNewMeta);
        if (cond.bad()) {
            problem = QString::fromLocal8Bit(cond.text());
            QFile::remove(partial);
        } else if (std::rename(partialName.constData(), QFile::encodeName(path).constData()) != 0) {
            problem = QString::fromLocal8Bit(std::strerror(errno));
            QFile::remove(partial);
        }
    }
    if (!problem.isEmpty()) {
        log(QStringLiteral("Не удалось сохранить снимок: %1").arg(problem));
        return sendSTOREResponse(presId, request, statusStoreOutOfResources);
    }
    ++m_received;
    if (m_hooks.stored)
        m_hooks.stored(path);
    return sendSTOREResponse(presId, request, statusSuccess);
}

OFCondition MiniPacsScp::handleFind(T_DIMSE_C_FindRQ &request, T_ASC_PresentationContextID presId)
{
    DcmDataset *received = nullptr;
    OFCondition cond = receiveFINDRequest(request, presId, received);
    std::unique_ptr<DcmDataset> identifier(received);
    if (cond.bad())
        return cond;
    const OFString sopClass = request.AffectedSOPClassUID;
    const Uint16 messageId = request.MessageID;
    const QString level = text(*identifier, DCM_QueryRetrieveLevel).toUpper();

    const TextMatcher name(text(*identifier, DCM_PatientName));
    const TextMatcher patientId(text(*identifier, DCM_PatientID));
    const DateMatcher date(text(*identifier, DCM_StudyDate));
    const UidMatcher studyUid(text(*identifier, DCM_StudyInstanceUID));
    const TextMatcher accession(text(*identifier, DCM_AccessionNumber));
    const TextMatcher description(text(*identifier, DCM_StudyDescription));
    const ModalitiesMatcher modalities(text(*identifier, DCM_ModalitiesInStudy));
    const auto studyMatches = [&](const db::StudyRecord &s, bool withDate) {
        return name.matches(s.patient_name) && patientId.matches(s.patient_id)
               && (!withDate || date.matches(s.study_date)) && studyUid.matches(s.study_instance_uid)
               && accession.matches(s.accession_number) && description.matches(s.study_description)
               && modalities.matches(s.modalities);
    };

    std::vector<Values> matches;
    std::vector<DcmTagKey> keys;
    if (level == QLatin1String("STUDY")) {
        keys = {DCM_StudyInstanceUID};
        for (const db::StudyRecord &s : m_database->listStudies()) {
            if (!studyMatches(s, true))
                continue;
            matches.push_back({{DCM_PatientName, s.patient_name},
                               {DCM_PatientID, s.patient_id},
                               {DCM_PatientBirthDate, s.birth_date},
                               {DCM_PatientSex, s.sex},
                               {DCM_StudyDate, s.study_date},
                               {DCM_StudyTime, s.study_time},
                               {DCM_StudyDescription, s.study_description},
                               {DCM_AccessionNumber, s.accession_number},
                               {DCM_StudyInstanceUID, s.study_instance_uid},
                               {DCM_ModalitiesInStudy, QString(s.modalities).replace(QLatin1Char(','), QLatin1Char('\\'))},
                               {DCM_NumberOfStudyRelatedSeries, QString::number(s.series_count)},
                               {DCM_NumberOfStudyRelatedInstances, QString::number(s.instance_count)},
                               {DCM_RetrieveAETitle, m_aeTitle}});
        }
    } else if (level == QLatin1String("PATIENT")) {
        keys = {DCM_PatientID};
        const QList<db::StudyRecord> studies = m_database->listStudies();
        QHash<QString, int> studiesOfPatient;
        for (const db::StudyRecord &s : studies)
            ++studiesOfPatient[s.patient_id];
        QSet<QString> seen;
        for (const db::StudyRecord &s : studies) {
            if (seen.contains(s.patient_id) || !studyMatches(s, false))
                continue;
            seen.insert(s.patient_id);
            matches.push_back({{DCM_PatientName, s.patient_name},
                               {DCM_PatientID, s.patient_id},
                               {DCM_PatientBirthDate, s.birth_date},
                               {DCM_PatientSex, s.sex},
                               {DCM_NumberOfPatientRelatedStudies, QString::number(studiesOfPatient.value(s.patient_id))}});
        }
    } else if (level == QLatin1String("SERIES")) {
        keys = {DCM_StudyInstanceUID, DCM_SeriesInstanceUID};
        const QString studyKey = text(*identifier, DCM_StudyInstanceUID);
        const UidMatcher seriesUid(text(*identifier, DCM_SeriesInstanceUID));
        const TextMatcher modality(text(*identifier, DCM_Modality));
        const TextMatcher number(text(*identifier, DCM_SeriesNumber));
        // Series are only listed within named studies: no walk over everything.
        if (!studyKey.contains(QLatin1Char('*'))) {
            for (const QString &study : studyUid.uids()) {
                for (const db::SeriesRecord &s : m_database->listSeries(study)) {
                    if (!seriesUid.matches(s.series_instance_uid) || !modality.matches(s.modality)
                        || !number.matches(s.series_number))
                        continue;
                    matches.push_back({{DCM_StudyInstanceUID, s.study_instance_uid},
                                       {DCM_SeriesInstanceUID, s.series_instance_uid},
                                       {DCM_Modality, s.modality},
                                       {DCM_SeriesNumber, s.series_number},
                                       {DCM_SeriesDescription, s.series_description},
                                       {DCM_BodyPartExamined, s.body_part_examined},
                                       {DCM_NumberOfSeriesRelatedInstances, QString::number(s.instance_count)},
                                       {DCM_RetrieveAETitle, m_aeTitle}});
                }
            }
        }
    } else {
        log(QStringLiteral("C-FIND от %1: уровень «%2» не поддерживается").arg(callingAe(), level));
        return sendFINDResponse(presId, messageId, sopClass, nullptr, statusUnableToProcess);
    }

    for (const Values &values : matches) {
        DcmDataset response = buildResponse(*identifier, level, values, keys);
        cond = sendFINDResponse(presId, messageId, sopClass, &response, statusPending);
        if (cond.bad())
            return cond;
    }
    log(QStringLiteral("C-FIND от %1 (%2): найдено %3").arg(callingAe(), level).arg(matches.size()));
    return sendFINDResponse(presId, messageId, sopClass, nullptr, statusSuccess);
}

OFCondition MiniPacsScp::handleMove(T_DIMSE_C_MoveRQ &request, T_ASC_PresentationContextID presId)
{
    DcmDataset *received = nullptr;
    OFString moveDestination;
    OFCondition cond = receiveMOVERequest(request, presId, received, moveDestination);
    std::unique_ptr<DcmDataset> identifier(received);
    if (cond.bad())
        return cond;
    const OFString sopClass = request.AffectedSOPClassUID;
    const Uint16 messageId = request.MessageID;
    const QString level = text(*identifier, DCM_QueryRetrieveLevel).toUpper();
    const QString destination = QString::fromLatin1(moveDestination.c_str()).trimmed();

    PacsConfig config = m_hooks.config ? m_hooks.config() : loadPacsConfig();
    const PacsServerConfig *node = nullptr;
    for (const PacsServerConfig &candidate : config.servers) {
        if (candidate.aeTitle.trimmed().compare(destination, Qt::CaseInsensitive) == 0) {
            node = &candidate;
            break;
        }
    }
    if (node == nullptr) {
        log(QStringLiteral("C-MOVE от %1: получатель «%2» неизвестен — добавьте его в «Настройки PACS»")
                .arg(callingAe(), destination));
        return sendMOVEResponse(presId, messageId, sopClass, nullptr, statusMoveDestinationUnknown);
    }

    QStringList files;
    QSet<QString> seen;
    const auto take = [&](const QStringList &paths) {
        for (const QString &path : paths) {
            if (!seen.contains(path)) {
                seen.insert(path);
                files.append(path);
            }
        }
    };
    if (level == QLatin1String("STUDY")) {
        for (const QString &uid : minipacs::splitValues(text(*identifier, DCM_StudyInstanceUID)))
            take(m_database->studyFilePaths(uid));
    } else if (level == QLatin1String("SERIES")) {
        for (const QString &uid : minipacs::splitValues(text(*identifier, DCM_SeriesInstanceUID))) {
            QStringList paths;
            for (const db::SliceRef &slice : m_database->listInstances(uid))
                paths.append(slice.file_path);
            take(paths);
        }
    } else if (level == QLatin1String("PATIENT")) {
        const QStringList patients = minipacs::splitValues(text(*identifier, DCM_PatientID));
        for (const db::StudyRecord &study : m_database->listStudies()) {
            if (patients.contains(study.patient_id))
                take(m_database->studyFilePaths(study.study_instance_uid));
        }
    } else {
        log(QStringLiteral("C-MOVE от %1: уровень «%2» не поддерживается").arg(callingAe(), level));
        return sendMOVEResponse(presId, messageId, sopClass, nullptr, statusUnableToProcess);
    }
    const int total = int(files.size());
    log(QStringLiteral("C-MOVE от %1: %2 файлов → %3 (%4:%5)")
            .arg(callingAe())
            .arg(total)
            .arg(node->aeTitle, node->host)
            .arg(node->port));
    if (total == 0)
        return sendMOVEResponse(presId, messageId, sopClass, nullptr, statusSuccess);

    config.localAeTitle = m_aeTitle;
    // The counts of a response are 16-bit.
    const auto count = [](int n) { return Uint16(std::clamp(n, 0, 0xFFFF)); };
    int completed = 0;
    QString error;
    const bool ok = storeFiles(*node, config, files, &error, [&](int done, int all) {
        completed = done;
        if (all - done > 0)
            sendMOVEResponse(presId, messageId, sopClass, nullptr, statusPending, nullptr, count(all - done),
                             count(done));
    });
    if (ok) {
        log(QStringLiteral("C-MOVE выполнен: отправлено %1 файлов на %2").arg(total).arg(node->aeTitle));
        return sendMOVEResponse(presId, messageId, sopClass, nullptr, statusSuccess, nullptr, 0, count(total));
    }
    log(QStringLiteral("C-MOVE на %1 с ошибкой: %2").arg(node->aeTitle, error));
    const int failed = std::max(0, total - completed);
    return sendMOVEResponse(presId, messageId, sopClass, nullptr,
                            completed >= 1 ? statusMoveWithFailures : statusMoveOutOfResources, nullptr, 0,
                            count(completed), count(failed));
}

} // namespace pacs
