#pragma once

// Internal to the dicom library: the value decoding shared by the cached
// decoder (loadDecodedFrame) and the readers that keep a file of their own
// (FrameValueReader). Never included from a public header.

#include "dicom/FrameDecoding.h"

#include <dcmtk/dcmdata/dcfilefo.h>

namespace dicom::detail {

// Decodes frame `frameIndex` (clamped) of an already parsed file into `out`
// with the checks and messages of loadDecodedFrame. Decompresses the file's
// Pixel Data in place, so the caller must own `file` for the call.
bool decodeFrameValues(DcmFileFormat &file, const QString &path, int frameIndex, DecodedFrame &out,
                       QString *error);

} // namespace dicom::detail
