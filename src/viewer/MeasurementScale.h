#pragma once

#include "viewer/PixelProportions.h"

#include <QList>
#include <QPointF>

namespace render {

// The size of one image pixel along the image's x axis (columns) and y axis
// (rows). In millimetres when `millimetres` is set; otherwise in units of a
// pixel's width, so that lengths still follow the picture's true proportions
// (x = 1, y = the pixel's height over its width).
struct PixelScale
{
    double x = 1.0;
    double y = 1.0;
    bool millimetres = false;

    // A pixel's height over its width: how much taller than wide a pixel is
    // drawn so that the picture keeps its true proportions.
    double aspect() const { return x > 0.0 ? y / x : 1.0; }
    // A point of the image in scaled units.
    QPointF map(const QPointF &imagePixel) const { return {imagePixel.x() * x, imagePixel.y() * y}; }
    QList<QPointF> map(const QList<QPointF> &imagePixels) const;
};

// The scale of measurements. A hand calibration (millimetres per pixel width)
// wins when positive and keeps the pixels' proportions; otherwise the pixel
// spacing gives millimetres: row spacing along y, column spacing along x, and
// the one that is known in both directions when only one is; without either
// the labels count pixel widths.
PixelScale measurementScale(double calibrationMmPerPixel, double rowSpacing, double columnSpacing,
                            double pixelAspectRatio = 1.0);

} // namespace render
