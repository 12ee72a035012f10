#pragma once

// Internal to the dicom library: the value decoding shared by the cached
// decoder (loadDecodedFrame) and the readers that keep a file of their own
// (FrameValueReader). Never included from a public header.

#include "dicom/FrameDecoding.h"

#include <dcmtk/dcmdata/dcfilefo.h>

#include <map>
#include <vector>

namespace dicom::detail {

// Frames of compressed Pixel Data decoded alone, by frame index (8-bit
// samples packed two to an element).
using DecodedFrames = std::map<int, std::vector<Uint16>>;

// Decodes frame `frameIndex` (clamped) of an already parsed file into `out`
// with the checks and messages of loadDecodedFrame. Decompresses the file's
// Pixel Data in place, so the caller must own `file` for the call.
// A compressed loop of many frames decodes only the frame asked for, kept in
// decodedFrames (when given) while the same file is paged.
bool decodeFrameValues(DcmFileFormat &file, const QString &path, int frameIndex, DecodedFrame &out,
                       QString *error, DecodedFrames *decodedFrames = nullptr);

} // namespace dicom::detail
