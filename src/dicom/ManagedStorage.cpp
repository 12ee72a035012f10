#include "dicom/ManagedStorage.h"

#include <QDir>
#include <QFileInfo>

namespace dicom {

namespace {

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

QStringList managedFolderNames()
{
    return {QStringLiteral("imported_from_zip"), QStringLiteral("pacs_downloads"),
            QStringLiteral("minipacs_received")};
}

bool isManagedPath(const QString &filePath, const QString &dataDirectory)
{
    if (filePath.isEmpty() || dataDirectory.isEmpty())
        return false;
    const QString file = cleanAbsolute(filePath);
    const QString data = cleanAbsolute(dataDirectory);
    for (const QString &name : managedFolderNames()) {
        // The trailing separator is what makes the comparison one of whole
        // components rather than of characters.
        const QString folder = QDir(data).filePath(name) + QLatin1Char('/');
        if (file.startsWith(folder))
            return true;
    }
    return false;
}

} // namespace dicom
