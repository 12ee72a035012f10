#include "viewer/PixelProportions.h"

#include <cmath>

namespace render {

double pixelAspect(double rowSpacing, double columnSpacing, double pixelAspectRatio)
{
    if (rowSpacing > 0.0 && columnSpacing > 0.0)
        return rowSpacing / columnSpacing;
    return pixelAspectRatio > 0.0 ? pixelAspectRatio : 1.0;
}

QImage withTrueProportions(const QImage &picture, double aspect)
{
    // Within a thousandth the difference is below a pixel on any real matrix.
    if (picture.isNull() || !(aspect > 0.0) || std::abs(aspect - 1.0) < 1e-3)
        return picture;
    int width = picture.width();
    int height = picture.height();
    if (aspect > 1.0)
        height = int(std::lround(height * aspect));
    else
        width = int(std::lround(width / aspect));
    return picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace render
