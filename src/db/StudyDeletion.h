#pragma once

#include <QString>
#include <QStringList>

namespace db {

class Database;

// A study's files split by whether the program may delete them: only files
// in managed storage are ever removed; folder imports stay the user's.
struct StudyFilePlan
{
    QStringList managed;
    int unmanagedCount = 0;
};

StudyFilePlan planStudyFiles(Database &database, const QString &dataDirectory, const QString &studyUid);

// Deletes the files, then each of their folders that is left empty. Returns
// how many files were deleted.
int deleteFilesAndEmptyFolders(const QStringList &files);

} // namespace db
