#pragma once

#include <QImage>

namespace render {

// A pixel's height over its width: from the row and column spacing when both
// are positive, else from Pixel Aspect Ratio (vertical over horizontal size),
// else 1.
double pixelAspect(double rowSpacing, double columnSpacing, double pixelAspectRatio = 1.0);

// The picture stretched so that its pixels come out square: the shorter side
// of a pixel is enlarged, so no detail is lost. The picture itself when the
// pixels are square already.
QImage withTrueProportions(const QImage &picture, double aspect);

} // namespace render
