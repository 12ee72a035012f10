#include "db/StudyDeletion.h"

#include "db/Database.h"
#include "dicom/ManagedStorage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace db {

StudyFilePlan planStudyFiles(Database &database, const QString &dataDirectory, const QString &studyUid)
{
    StudyFilePlan plan;
    for (const QString &file : database.studyFilePaths(studyUid)) {
        if (dicom::isManagedPath(file, dataDirectory))
            plan.managed << file;
        else
            ++plan.unmanagedCount;
    }
    return plan;
}

int deleteFilesAndEmptyFolders(const QStringList &files)
{
    int deleted = 0;
    QStringList folders;
    for (const QString &file : files) {
        if (!QFile::remove(file))
            continue;
        ++deleted;
        const QString folder = QFileInfo(file).absolutePath();
        if (!folders.contains(folder))
            folders << folder;
    }
    // rmdir only succeeds on an empty folder, which is exactly the rule.
    for (const QString &folder : folders)
        QDir().rmdir(folder);
    return deleted;
}

} // namespace db
