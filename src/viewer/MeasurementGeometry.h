#pragma once

#include <QList>
#include <QPointF>

// The numbers behind the measurement labels, in image pixels. Angles are
// measured on screen, where the image's y axis points down.
namespace render {

// Angle at `vertex` from the line vertex→a to the line vertex→b,
// counter-clockwise on screen, folded into 0 … 180 degrees.
double angleDegrees(const QPointF &vertex, const QPointF &a, const QPointF &b);

// Cobb angle between the separate lines p0–p1 and p2–p3, folded into
// 0 … 90 degrees.
double cobbAngleDegrees(const QPointF &p0, const QPointF &p1, const QPointF &p2, const QPointF &p3);

// The angle of one line to the horizontal, folded into 0 … 90 degrees like a
// Cobb angle; shown while the second Cobb line is still missing.
double lineTiltDegrees(const QPointF &p0, const QPointF &p1);

// π·a·b for half-axes a and b.
double ellipseArea(double a, double b);

// Ramanujan's second approximation for half-axes a and b.
double ellipsePerimeter(double a, double b);

// Shoelace area of the closed ring of vertices; 0 below three vertices.
double polygonArea(const QList<QPointF> &vertices);

// Sum of the edge lengths including the closing edge; 0 below two vertices.
double polygonPerimeter(const QList<QPointF> &vertices);

// Even-odd crossing rule; false below three vertices.
bool pointInPolygon(double x, double y, const QList<QPointF> &vertices);

// Distance from p to the segment a–b (the projection clamped to its ends).
double distanceToSegment(const QPointF &p, const QPointF &a, const QPointF &b);

} // namespace render
