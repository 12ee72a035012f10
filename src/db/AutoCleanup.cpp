#include "db/AutoCleanup.h"

#include "db/Database.h"
#include "db/StudyDeletion.h"

#include <QFileInfo>
#include <QSet>

namespace db {

namespace {

qint64 sizeOnDisk(const QStringList &files)
{
    qint64 total = 0;
    for (const QString &file : files) {
        const QFileInfo info(file);
        if (info.isFile())
            total += info.size();
    }
    return total;
}

// Removes the study's managed files and then its records. A file that will
// not go stays behind, but the records go anyway: the start-up clean-up has no
// one to ask, and a kept record would be chosen again at every start.
bool deleteStudyWithManagedFiles(Database &database, const QString &studyUid, const QString &dataDirectory)
{
    deleteFilesAndEmptyFolders(planStudyFiles(database, dataDirectory, studyUid).managed);
    return database.deleteStudy(studyUid);
}

} // namespace

int runAutoCleanup(Database &database, const CleanupSettings &settings, const QString &dataDirectory,
                   const QDate &today)
{
    if (!settings.byAgeEnabled && !settings.bySizeEnabled)
        return 0;

    // Oldest first, undated studies before all others.
    const QList<StudyRecord> studies = database.listStudies();
    QStringList chosen;
    QSet<QString> chosenSet;
    const auto choose = [&chosen, &chosenSet](const QString &uid) {
        chosen.append(uid);
        chosenSet.insert(uid);
    };

    if (settings.byAgeEnabled) {
        const QDate cutoff = today.addDays(-settings.maxAgeDays);
        for (const StudyRecord &study : studies) {
            const QDate date = QDate::fromString(study.study_date, QStringLiteral("yyyyMMdd"));
            if (!study.is_protected && date.isValid() && date < cutoff)
                choose(study.study_instance_uid);
        }
    }

    if (settings.bySizeEnabled) {
        // Studies already chosen by age still count here: the size rule
        // judges the archive as it stands, not as it will be.
        qint64 total = 0;
        for (const StudyRecord &study : studies)
            total += sizeOnDisk(database.studyFilePaths(study.study_instance_uid));
        for (const StudyRecord &study : studies) {
            if (study.is_protected || chosenSet.contains(study.study_instance_uid))
                continue;
            if (total <= settings.maxSizeBytes)
                break;
            choose(study.study_instance_uid);
            total -= sizeOnDisk(database.studyFilePaths(study.study_instance_uid));
        }
    }

    int deleted = 0;
    for (const QString &uid : chosen) {
        if (deleteStudyWithManagedFiles(database, uid, dataDirectory))
            ++deleted;
    }
    return deleted;
}

} // namespace db
