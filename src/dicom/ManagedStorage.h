#pragma once

#include <QString>
#include <QStringList>

namespace dicom {

// Names of the folders in the data directory whose files the program wrote
// itself (archive imports, PACS downloads, Mini-PACS receipts). Only files in
// them are ever deleted; folder imports are indexed in place and stay the
// user's.
QStringList managedFolderNames();

// Whether filePath lies inside one of the managed folders of dataDirectory.
// Both paths are made absolute and cleaned, then compared by whole path
// components, so ".../pacs_downloads_old/x" or ".../pacs_downloads/../x" is
// not managed, and neither is a managed folder itself.
bool isManagedPath(const QString &filePath, const QString &dataDirectory);

} // namespace dicom
