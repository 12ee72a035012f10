#include "viewer/ImageInversion.h"

namespace render {

QImage invertedImage(const QImage &image)
{
    QImage result = image.convertToFormat(QImage::Format_RGB32);
    result.invertPixels(QImage::InvertRgb);
    return result;
}

} // namespace render
