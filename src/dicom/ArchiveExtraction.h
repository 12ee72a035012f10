#pragma once

#include <QString>

namespace dicom {

class ExtractionBudget;

// Unpacks every regular file of an archive into `folder` as "e00000000",
// "e00000001", ...: entry names are never used for paths, so an entry called
// "../x" cannot land outside the folder. Entries that cannot be opened or
// written are left out quietly. Fails when the archive cannot be opened or
// would not fit the budget; the caller then discards the folder.
bool extractZipArchive(const QString &archivePath, const QString &folder, ExtractionBudget &budget,
                       QString *error);

// The same for 7z. A read error after the archive opened ends the extraction
// quietly: what came before it stays.
bool extract7zArchive(const QString &archivePath, const QString &folder, ExtractionBudget &budget,
                      QString *error);

} // namespace dicom
