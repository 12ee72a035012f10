#pragma once

#include <QImage>

namespace render {

// The picture as 32-bit RGB with every colour component replaced by
// 255 − value. It acts on the rendered picture, so MONOCHROME1 data (already
// shown with low values bright) end up dark-on-bright again.
QImage invertedImage(const QImage &image);

} // namespace render
