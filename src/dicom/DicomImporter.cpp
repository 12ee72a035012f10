#include "dicom/DicomImporter.h"

#include "dicom/FolderScan.h"

#include <QThread>

namespace dicom {

void DicomImporter::importDirectory(const QString &directoryPath)
{
    FolderScanHandlers handlers;
    handlers.fileFound = [this](const DicomFileSummary &summary) { emit fileFound(summary); };
    handlers.progress = [this](int scanned, int found) { emit progress(scanned, found); };
    // The only way to stop a walk: the owner asks the thread to wind down
    // when the program closes.
    handlers.cancelled = [] { return QThread::currentThread()->isInterruptionRequested(); };
    FolderScanResult result;
    QString error;
    if (!scanFolder(directoryPath, handlers, &result, &error)) {
        emit errorOccurred(error);
        emit finished(0, 0);
        return;
    }
    emit finished(result.found, result.skipped);
}

} // namespace dicom
