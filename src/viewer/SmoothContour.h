#pragma once

#include <QList>
#include <QPainterPath>
#include <QPointF>

namespace render {

// A finished smoothed contour: a closed curve of cubic Bézier segments through
// every vertex, pᵢ → pᵢ₊₁ with control points pᵢ + (pᵢ₊₁ − pᵢ₋₁)/6 and
// pᵢ₊₁ − (pᵢ₊₂ − pᵢ)/6, indices modulo the vertex count. Below three
// vertices the vertices are joined by straight lines.
QPainterPath closedSmoothContour(const QList<QPointF> &vertices);

// The preview while drawing: the same rule as an open curve, with the
// neighbours beyond the ends taken as the end points themselves. Two points
// give a straight line, one point a bare start.
QPainterPath openSmoothContour(const QList<QPointF> &points);

} // namespace render
