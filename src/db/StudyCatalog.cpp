#include "db/StudyCatalog.h"

#include "db/Database.h"

namespace db {

bool StudyCatalog::studyRows(QList<StudyTableRow> *rows, QString *error) const
{
    const QList<StudyRecord> studies = m_database->listStudies();
    *error = m_database->lastError();
    if (!error->isEmpty())
        return false;
    *rows = buildStudyRows(studies);
    return true;
}

bool StudyCatalog::seriesOf(const QString &studyUid, QList<SeriesRecord> *series, QString *error) const
{
    *series = m_database->listSeries(studyUid);
    *error = m_database->lastError();
    return error->isEmpty();
}

QList<SeriesRecord> StudyCatalog::seriesOf(const QString &studyUid) const
{
    return m_database->listSeries(studyUid);
}

QList<SeriesSlices> StudyCatalog::seriesWithSlices(const QString &studyUid) const
{
    QList<SeriesSlices> result;
    for (const SeriesRecord &series : m_database->listSeries(studyUid))
        result.append({series, m_database->listInstances(series.series_instance_uid)});
    return result;
}

QList<SliceRef> StudyCatalog::slicesOf(const QString &seriesUid) const
{
    return m_database->listInstances(seriesUid);
}

QStringList StudyCatalog::filesOf(const QString &studyUid) const
{
    return m_database->studyFilePaths(studyUid);
}

std::optional<StudyRecord> StudyCatalog::study(const QString &studyUid) const
{
    for (const StudyRecord &record : m_database->listStudies()) {
        if (record.study_instance_uid == studyUid)
            return record;
    }
    return std::nullopt;
}

ComparisonChoices StudyCatalog::comparisonChoices(const QString &studyUid) const
{
    ComparisonChoices choices;
    for (const StudyRecord &record : m_database->listStudies()) {
        if (record.study_instance_uid == studyUid)
            choices.current = record;
        else
            choices.others.append(record);
    }
    // Only the same person's studies: the ID alone may be shared by several.
    const StudyRecord current = choices.current.value_or(StudyRecord{});
    choices.samePatient = m_database->listOtherStudiesOfPatient(current.patient_id, studyUid, current.patient_name);
    return choices;
}

bool StudyCatalog::setProtected(const QStringList &studyUids, bool isProtected, QString *error) const
{
    for (const QString &uid : studyUids) {
        if (!m_database->setStudyProtected(uid, isProtected)) {
            *error = m_database->lastError();
            return false;
        }
    }
    return true;
}

bool StudyCatalog::removeFromList(const QStringList &studyUids, QString *error) const
{
    for (const QString &uid : studyUids) {
        if (!m_database->deleteStudy(uid)) {
            *error = m_database->lastError();
            return false;
        }
    }
    return true;
}

bool StudyCatalog::studyExists(const QString &studyUid) const
{
    return !studyUid.isEmpty() && m_database->studyExists(studyUid);
}

StudyFilePlan StudyCatalog::filePlan(const QString &studyUid, const QString &dataDirectory) const
{
    return planStudyFiles(*m_database, dataDirectory, studyUid);
}

bool StudyCatalog::removeCompletely(const QString &studyUid, const StudyFilePlan &plan, QString *error) const
{
    const int deleted = deleteFilesAndEmptyFolders(plan.managed);
    if (!m_database->deleteStudy(studyUid)) {
        *error = QStringLiteral("Файлы удалены (%1), но не удалось удалить запись в базе:\n%2")
                     .arg(deleted)
                     .arg(m_database->lastError());
        return false;
    }
    return true;
}

} // namespace db
