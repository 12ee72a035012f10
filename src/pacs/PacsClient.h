#pragma once

#include "pacs/PacsConfig.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The workstation's DICOM service-class-user layer: blocking calls, one
// association each, that never throw and report failure as false (or an
// empty list) plus a Russian message. Any thread may call them.
namespace pacs {

struct StudyQuery
{
    QString patientName;
    QString patientId;
    QString modalities; // codes joined with a backslash, or empty
    QString dateFrom;   // "yyyyMMdd" or empty
    QString dateTo;     // "yyyyMMdd" or empty
};

// One study-level C-FIND answer; an absent element gives an empty string.
struct StudyResult
{
    QString patientName;
    QString patientId;
    QString studyDate;
    QString studyTime;
    QString studyDescription;
    QString modalitiesInStudy;
    QString studyInstanceUid;
    QString accessionNumber;
    QString numberOfSeries;
    QString numberOfInstances;
};

inline constexpr char verificationSopClass[] = "1.2.840.10008.1.1";
inline constexpr char studyRootFindSopClass[] = "1.2.840.10008.5.1.4.1.2.2.1";
inline constexpr char studyRootMoveSopClass[] = "1.2.840.10008.5.1.4.1.2.2.2";
inline constexpr char studyRootGetSopClass[] = "1.2.840.10008.5.1.4.1.2.2.3";

// Explicit, then Implicit VR Little Endian: proposed for every context.
QStringList proposedTransferSyntaxes();
// The ten storage classes used by C-GET, C-STORE and the storage listener.
QStringList defaultStorageSopClasses();

// Without limits an unreachable or silent node would hold the calling thread
// for minutes. VELMARIS_PACS_TIMEOUT_S, when set, replaces the answer limit
// (so that tests need not wait half a minute for a silent node).
inline constexpr int connectionTimeoutSeconds = 10;
inline constexpr int answerTimeoutSeconds = 30; // DIMSE and ACSE
int effectiveAnswerTimeoutSeconds();

using StoredFileCallback = std::function<void(const QString &filePath)>;
using StoreProgressCallback = std::function<void(int done, int total)>;

bool echoServer(const PacsServerConfig &node, const PacsConfig &local, QString *error = nullptr);

// Partial results come back together with an error text when the query fails
// midway.
QList<StudyResult> findStudies(const PacsServerConfig &node, const PacsConfig &local, const StudyQuery &query,
                               QString *error = nullptr);

// The objects go to local.moveDestinationAeTitle, or to local.localAeTitle
// when that is empty.
bool moveStudy(const PacsServerConfig &node, const PacsConfig &local, const QString &studyInstanceUid,
               QString *error = nullptr);

// Stores every object of the study in destinationFolder under a name of its
// own; onFile is called with each path actually written. An object that
// could not be written is answered with a failure, not counted and makes the
// call fail with the number lost.
bool getStudy(const PacsServerConfig &node, const PacsConfig &local, const QString &studyInstanceUid,
              const QString &destinationFolder, int *storedCount = nullptr, QString *error = nullptr,
              const StoredFileCallback &onFile = {});

// Sends every file; a bad file never stops the others, the counts are
// reported at the end. progress is called once per file.
bool storeFiles(const PacsServerConfig &node, const PacsConfig &local, const QStringList &filePaths,
                QString *error = nullptr, const StoreProgressCallback &progress = {});

} // namespace pacs
