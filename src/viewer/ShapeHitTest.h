#pragma once

#include "viewer/MeasurementMode.h"

#include <QList>
#include <QPointF>

namespace render {

// The hit tolerance in image units for 6 screen pixels at the view's
// horizontal scale factor; 6 when that factor is not positive.
double shapeHitTolerance(double viewScaleX);

// Whether `point` (image pixels) hits the shape of a measurement of `kind`
// with these points: within `tolerance` of its segments, or inside the
// inscribed ellipse for the ellipse kinds. Shapes with fewer than two points,
// freehand ROIs, text labels and non-measurement kinds are never hit.
bool shapeHit(MeasurementMode kind, const QList<QPointF> &points, const QPointF &point, double tolerance);

} // namespace render
