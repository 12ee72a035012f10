#pragma once

// For the libraries that speak DCMTK themselves (the network services): the
// dicom library's guarded way into a file, so that a file read for sending or
// serving meets the same protection against hostile input as one read for
// viewing. Windows and the other core libraries use the DCMTK-free readers.

#include <QString>

#include <memory>

class DcmFileFormat;
class DcmItem;
class DcmTagKey;

namespace dicom {

// Silences DCMTK's parser chatter and makes sure the data dictionary is
// there. Safe to call from any thread, many times.
void prepareDcmtkLibrary();

// Loads a file (with or without meta header) behind the nesting guard and
// without throwing; values above 4 KiB stay in the file until accessed.
// Null on failure, with DCMTK's condition text when asked.
std::unique_ptr<DcmFileFormat> loadDcmtkFile(const QString &path, QString *conditionText = nullptr);

// An element's value as text in the data set's character set; empty when absent.
QString dcmtkText(DcmItem &item, const DcmTagKey &tag);

} // namespace dicom
