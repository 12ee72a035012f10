#include "viewer/MeasurementGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace render {

namespace {

// Direction of a line on screen in degrees, counter-clockwise from the +x
// axis; the image's y axis points down, hence the sign flip.
double screenDirection(const QPointF &from, const QPointF &to)
{
    return std::atan2(-(to.y() - from.y()), to.x() - from.x()) * 180.0 / std::numbers::pi;
}

// Counter-clockwise turn from one direction to another, in 0 … 360.
double counterClockwise(double fromDegrees, double toDegrees)
{
    double a = std::fmod(toDegrees - fromDegrees, 360.0);
    if (a < 0.0)
        a += 360.0;
    return a;
}

double foldCobb(double a)
{
    if (a > 180.0)
        a = 360.0 - a;
    if (a > 90.0)
        a = 180.0 - a;
    return a;
}

} // namespace

double angleDegrees(const QPointF &vertex, const QPointF &a, const QPointF &b)
{
    const double turn = counterClockwise(screenDirection(vertex, a), screenDirection(vertex, b));
    return turn > 180.0 ? 360.0 - turn : turn;
}

double cobbAngleDegrees(const QPointF &p0, const QPointF &p1, const QPointF &p2, const QPointF &p3)
{
    return foldCobb(counterClockwise(screenDirection(p0, p1), screenDirection(p2, p3)));
}

double lineTiltDegrees(const QPointF &p0, const QPointF &p1)
{
    return foldCobb(counterClockwise(0.0, screenDirection(p0, p1)));
}

double ellipseArea(double a, double b)
{
    return std::numbers::pi * a * b;
}

double ellipsePerimeter(double a, double b)
{
    // The 1e-9 keeps a zero-sized ellipse from dividing by zero.
    const double h = 3.0 * (a - b) * (a - b) / ((a + b) * (a + b) + 1e-9);
    return std::numbers::pi * (a + b) * (1.0 + h / (10.0 + std::sqrt(4.0 - h)));
}

double polygonArea(const QList<QPointF> &vertices)
{
    const qsizetype n = vertices.size();
    if (n < 3)
        return 0.0;
    double twice = 0.0;
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF &p = vertices[i];
        const QPointF &q = vertices[(i + 1) % n];
        twice += p.x() * q.y() - q.x() * p.y();
    }
    return std::abs(twice) / 2.0;
}

double polygonPerimeter(const QList<QPointF> &vertices)
{
    const qsizetype n = vertices.size();
    if (n < 2)
        return 0.0;
    double sum = 0.0;
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF d = vertices[(i + 1) % n] - vertices[i];
        sum += std::hypot(d.x(), d.y());
    }
    return sum;
}

bool pointInPolygon(double x, double y, const QList<QPointF> &vertices)
{
    const qsizetype n = vertices.size();
    if (n < 3)
        return false;
    bool inside = false;
    for (qsizetype i = 0, j = n - 1; i < n; j = i++) {
        const QPointF &vi = vertices[i];
        const QPointF &vj = vertices[j];
        // The first test excludes horizontal edges, so the division is safe.
        if ((vi.y() > y) != (vj.y() > y)
            && x < (vj.x() - vi.x()) * (y - vi.y()) / (vj.y() - vi.y()) + vi.x())
            inside = !inside;
    }
    return inside;
}

double distanceToSegment(const QPointF &p, const QPointF &a, const QPointF &b)
{
    const QPointF ab = b - a;
    const double lengthSquared = QPointF::dotProduct(ab, ab);
    double t = lengthSquared > 0.0 ? QPointF::dotProduct(p - a, ab) / lengthSquared : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF d = p - (a + t * ab);
    return std::hypot(d.x(), d.y());
}

} // namespace render
