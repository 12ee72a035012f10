#pragma once

#include "dicom/FrameDecoding.h"

#include <QString>

namespace velmaris::cli {

// Writes a rendered picture as an 8-bit PNG (grey, or RGB for a colour
// picture) with a resolution of 100 dots per inch, byte for byte as Qt's
// image writer stores the same picture. The file is replaced only once complete. On failure returns false
// with the reason in *error.
bool writePng(const QString &path, const dicom::RenderedPicture &picture, QString *error);

} // namespace velmaris::cli
