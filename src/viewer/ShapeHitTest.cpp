#include "viewer/ShapeHitTest.h"

#include "viewer/MeasurementGeometry.h"

#include <cmath>

namespace render {

namespace {

constexpr double toleranceScreenPixels = 6.0;

bool nearSegment(const QPointF &p, const QPointF &a, const QPointF &b, double tolerance)
{
    return distanceToSegment(p, a, b) <= tolerance;
}

bool nearPolyline(const QList<QPointF> &points, const QPointF &p, double tolerance, bool closed)
{
    const qsizetype n = points.size();
    const qsizetype edges = closed ? n : n - 1;
    for (qsizetype i = 0; i < edges; ++i) {
        if (nearSegment(p, points[i], points[(i + 1) % n], tolerance))
            return true;
    }
    return false;
}

bool insideInscribedEllipse(const QPointF &corner0, const QPointF &corner1, const QPointF &p)
{
    const double a = std::abs(corner1.x() - corner0.x()) / 2.0;
    const double b = std::abs(corner1.y() - corner0.y()) / 2.0;
    if (!(a > 0.0) || !(b > 0.0))
        return false;
    const double dx = (p.x() - (corner0.x() + corner1.x()) / 2.0) / a;
    const double dy = (p.y() - (corner0.y() + corner1.y()) / 2.0) / b;
    return dx * dx + dy * dy <= 1.0;
}

} // namespace

double shapeHitTolerance(double viewScaleX)
{
    return viewScaleX > 0.0 ? toleranceScreenPixels / viewScaleX : toleranceScreenPixels;
}

bool shapeHit(MeasurementMode kind, const QList<QPointF> &points, const QPointF &point, double tolerance)
{
    if (points.size() < 2)
        return false;
    switch (kind) {
    case MeasurementMode::Ruler:
    case MeasurementMode::Arrow:
        return nearSegment(point, points[0], points[1], tolerance);
    case MeasurementMode::Angle:
        return points.size() >= 3
               && (nearSegment(point, points[0], points[1], tolerance)
                   || nearSegment(point, points[0], points[2], tolerance));
    case MeasurementMode::Drawing:
        return nearPolyline(points, point, tolerance, false);
    case MeasurementMode::Polygon:
    case MeasurementMode::SmoothContour:
        return nearPolyline(points, point, tolerance, true);
    case MeasurementMode::CobbAngle:
        return nearSegment(point, points[0], points[1], tolerance)
               || (points.size() >= 4 && nearSegment(point, points[2], points[3], tolerance));
    case MeasurementMode::EllipseRoi:
    case MeasurementMode::EllipseArea:
        return insideInscribedEllipse(points[0], points[1], point);
    default:
        return false;
    }
}

} // namespace render
