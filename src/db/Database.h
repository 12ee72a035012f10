#pragma once

#include "db/ArchiveStatistics.h"
#include "db/SeriesRecord.h"
#include "db/SliceRef.h"
#include "db/StudyRecord.h"
#include "dicom/DicomFileSummary.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

namespace db {

struct PatientInfo
{
    QString sex;
    double weight_kg = 0.0;
    double height_cm = 0.0;
};

// The local index of the archive: patients, studies, series and instances (one
// row per frame). Files themselves are never stored here. Use it only from the
// thread that opened it.
class Database : public QObject
{
    Q_OBJECT
public:
    explicit Database(QObject *parent);
    ~Database() override;

    // A file path or ":memory:". A missing file becomes a new index. A file
    // that is damaged, or empty without having been created here, is refused
    // and left exactly as it was.
    bool open(const QString &path);
    // Why the last operation failed; empty when it succeeded. This is how an
    // empty list tells itself apart from a failed query.
    QString lastError() const;
    QString connectionName() const;

    bool insertSummary(const dicom::DicomFileSummary &summary);
    // Inserts many summaries in one transaction. Each keeps the upsert rules of
    // insertSummary; results[i] says whether summary i was stored and errors[i]
    // holds its error text (empty on success). Returns the number stored.
    int insertSummaries(const QVector<dicom::DicomFileSummary> &summaries,
                        QVector<bool> *results = nullptr, QStringList *errors = nullptr);

    QList<StudyRecord> listStudies();
    // Newest first. With a patient name only the studies whose own name is
    // the same (compared as dicom::normalizedPersonName) are kept: different
    // people may share one Patient ID.
    QList<StudyRecord> listOtherStudiesOfPatient(const QString &patientId,
                                                 const QString &excludeStudyUid,
                                                 const QString &patientName = QString());
    QList<SeriesRecord> listSeries(const QString &studyUid);
    QList<SliceRef> listInstances(const QString &seriesUid);
    QStringList studyFilePaths(const QString &studyUid);
    QStringList allFilePaths();
    bool studyExists(const QString &studyUid);
    // The study that holds the instance row of this SOP Instance UID; empty
    // when there is none (or the query failed: lastError says which).
    QString studyOfInstance(const QString &sopInstanceUid);
    bool setStudyProtected(const QString &studyUid, bool isProtected);
    std::optional<PatientInfo> patientInfoForStudy(const QString &studyUid);
    bool deleteStudy(const QString &studyUid);
    ArchiveStatistics statistics();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace db
