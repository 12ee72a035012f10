#pragma once

#include <QString>

namespace dicom {

// Writes a copy with the patient identity replaced and identifying attributes
// emptied. Compressed sources are written as Explicit VR Little Endian.
bool anonymizeFile(const QString &sourcePath, const QString &destinationPath,
                   const QString &newPatientName, const QString &newPatientId,
                   QString *error = nullptr);

// Writes a JPEG-LS lossless copy of an uncompressed file; anything that cannot be
// compressed is copied byte for byte.
bool copyCompressedLossless(const QString &sourcePath, const QString &destinationPath,
                            QString *error = nullptr);

} // namespace dicom
