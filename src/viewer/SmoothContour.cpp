#include "viewer/SmoothContour.h"

#include <algorithm>

namespace render {

namespace {

void straightPolyline(QPainterPath &path, const QList<QPointF> &points)
{
    path.moveTo(points.first());
    for (qsizetype i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
}

} // namespace

QPainterPath closedSmoothContour(const QList<QPointF> &vertices)
{
    QPainterPath path;
    const qsizetype n = vertices.size();
    if (n == 0)
        return path;
    if (n < 3) {
        straightPolyline(path, vertices);
        return path;
    }
    const auto at = [&](qsizetype i) { return vertices[((i % n) + n) % n]; };
    path.moveTo(vertices.first());
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF c1 = at(i) + (at(i + 1) - at(i - 1)) / 6.0;
        const QPointF c2 = at(i + 1) - (at(i + 2) - at(i)) / 6.0;
        path.cubicTo(c1, c2, at(i + 1));
    }
    path.closeSubpath();
    return path;
}

QPainterPath openSmoothContour(const QList<QPointF> &points)
{
    QPainterPath path;
    const qsizetype n = points.size();
    if (n == 0)
        return path;
    if (n < 3) {
        straightPolyline(path, points);
        return path;
    }
    const auto at = [&](qsizetype i) { return points[std::clamp<qsizetype>(i, 0, n - 1)]; };
    path.moveTo(points.first());
    for (qsizetype i = 0; i + 1 < n; ++i) {
        const QPointF c1 = at(i) + (at(i + 1) - at(i - 1)) / 6.0;
        const QPointF c2 = at(i + 1) - (at(i + 2) - at(i)) / 6.0;
        path.cubicTo(c1, c2, at(i + 1));
    }
    return path;
}

} // namespace render
