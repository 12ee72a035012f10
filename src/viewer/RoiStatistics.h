#pragma once

#include "viewer/FrameDecoder.h"

#include <QList>
#include <QPointF>

namespace render {

// Value statistics of the pixels inside an ROI. All fields are 0 when no
// pixel counts, so an empty ROI never shows stale numbers.
struct RoiStatistics
{
    double mean = 0.0;
    double standardDeviation = 0.0; // population deviation
    double minimum = 0.0;
    double maximum = 0.0;
    int count = 0;
};

// Pixels whose centres (x + 0.5, y + 0.5) lie inside the ellipse centred at
// (cx, cy) with radii rx and ry. Empty when the frame is not ok or a radius is not
// positive.
RoiStatistics ellipseStatistics(const DecodedFrame &frame, double cx, double cy, double rx, double ry);

// Pixels whose centres (x + 0.5, y + 0.5) lie inside the polygon by the
// even-odd rule. Empty when the frame is not ok or there are fewer than three
// vertices.
RoiStatistics polygonStatistics(const DecodedFrame &frame, const QList<QPointF> &vertices);

} // namespace render
