#pragma once

#include <QString>
#include <QStringList>

namespace dicom {

class ExtractionBudget;

// The entries an extraction had to leave out although the archive listed
// them: data that failed its check (a CRC error) or broke off, and names that
// cannot be read. Each is named as the archive names it ("элемент №N" when
// even the name is unreadable).
struct ExtractionReport
{
    QStringList damagedEntries;
};

// Unpacks every regular file of an archive into `folder` as "e00000000",
// "e00000001", ...: entry names are never used for paths, so an entry called
// "../x" cannot land outside the folder. Entries that cannot be written are
// left out quietly; damaged ones are listed in `report`. Fails when the
// archive cannot be opened or would not fit the budget; the caller then
// discards the folder. An archive whose central directory libzip refuses (a
// name flagged UTF-8 that is not) is read entry by entry instead.
bool extractZipArchive(const QString &archivePath, const QString &folder, ExtractionBudget &budget,
                       QString *error, ExtractionReport *report = nullptr);

// The same for 7z. A read error the reader cannot get past ends the
// extraction: what came before it stays.
bool extract7zArchive(const QString &archivePath, const QString &folder, ExtractionBudget &budget,
                      QString *error, ExtractionReport *report = nullptr);

} // namespace dicom
