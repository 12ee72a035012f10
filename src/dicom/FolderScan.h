#pragma once

#include "dicom/DicomFileSummary.h"

#include <QString>

#include <functional>

namespace dicom {

struct FolderScanResult
{
    int scanned = 0; // files looked at
    int found = 0;   // files that gave a summary
    int skipped = 0; // everything else
};

struct FolderScanHandlers
{
    std::function<void(const DicomFileSummary &)> fileFound;
    // Called after every 25th file and once at the end.
    std::function<void(int scanned, int found)> progress;
    // Asked before each file; true ends the walk early (program shutting down).
    std::function<bool()> cancelled;
};

// Walks every file below a folder (hidden files and links to folders left
// out), tests each for the DICM preamble and reads its summary. Fails only when
// the path is not a folder; unreadable files just count as skipped.
bool scanFolder(const QString &directoryPath, const FolderScanHandlers &handlers,
                FolderScanResult *result, QString *error = nullptr);

} // namespace dicom
