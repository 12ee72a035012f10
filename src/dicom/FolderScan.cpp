#include "dicom/FolderScan.h"

#include "dicom/DicomSummaryReader.h"

#include <QDirIterator>
#include <QFileInfo>

namespace dicom {

namespace {
constexpr int progressInterval = 25; // per-file progress would flood the receiver
}

bool scanFolder(const QString &directoryPath, const FolderScanHandlers &handlers,
                FolderScanResult *result, QString *error)
{
    FolderScanResult counts;
    const QFileInfo root(directoryPath);
    if (!root.exists() || !root.isDir()) {
        if (error)
            *error = QStringLiteral("Путь не существует или не является папкой: %1").arg(directoryPath);
        if (result)
            *result = counts;
        return false;
    }

    // Without FollowSymlinks the iterator does not descend into linked folders,
    // so link loops cannot trap the walk.
    QDirIterator it(directoryPath, QDir::Files | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (handlers.cancelled && handlers.cancelled())
            break;
        const QString path = it.next();
        ++counts.scanned;
        std::optional<DicomFileSummary> summary;
        if (isDicomFile(path))
            summary = readSummary(path);
        if (summary) {
            ++counts.found;
            if (handlers.fileFound)
                handlers.fileFound(*summary);
        } else {
            ++counts.skipped;
        }
        if (counts.scanned % progressInterval == 0 && handlers.progress)
            handlers.progress(counts.scanned, counts.found);
    }
    if (handlers.progress)
        handlers.progress(counts.scanned, counts.found);
    if (result)
        *result = counts;
    return true;
}

} // namespace dicom
