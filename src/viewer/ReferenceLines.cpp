#include "viewer/ReferenceLines.h"

#include "viewer/SlicePlane.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {

// The half length of the segment laid along the intersection before
// clipping; larger than any patient.
constexpr double halfSegmentMm = 1000.0;

// Liang–Barsky clipping of from→to against 0 … width × 0 … height.
std::optional<QLineF> clipToRect(const QPointF &from, const QPointF &to, double width, double height)
{
    const double dx = to.x() - from.x();
    const double dy = to.y() - from.y();
    double t0 = 0.0, t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {from.x(), width - from.x(), from.y(), height - from.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return std::nullopt;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 >= t1)
            return std::nullopt; // outside, or touching a corner only
    }
    return QLineF(from.x() + t0 * dx, from.y() + t0 * dy, from.x() + t1 * dx, from.y() + t1 * dy);
}

} // namespace

std::optional<QLineF> referenceLine(const SliceGeometry &source, const SliceGeometry &target, int targetColumns,
                                    int targetRows)
{
    const std::optional<SlicePlane> first = slicePlane(source);
    const std::optional<SlicePlane> second = slicePlane(target);
    if (!first || !second || targetColumns <= 0 || targetRows <= 0)
        return std::nullopt;
    const PatientPoint &n1 = first->normal;
    const PatientPoint &n2 = second->normal;

    PatientPoint direction = crossProduct(n1, n2);
    const double directionSquared = dotProduct(direction, direction);
    if (directionSquared < 1e-8)
        return std::nullopt; // parallel planes never meet

    // The point of the line in the span of n1 and n2: p = a·n1 + b·n2 with
    // n1·p = h1 and n2·p = h2.
    const double h1 = dotProduct(n1, first->origin);
    const double h2 = dotProduct(n2, second->origin);
    const double n11 = dotProduct(n1, n1), n12 = dotProduct(n1, n2), n22 = dotProduct(n2, n2);
    const double det = n11 * n22 - n12 * n12;
    if (std::abs(det) < 1e-8)
        return std::nullopt;
    const double a = (h1 * n22 - h2 * n12) / det;
    const double b = (h2 * n11 - h1 * n12) / det;
    const PatientPoint onBoth{a * n1[0] + b * n2[0], a * n1[1] + b * n2[1], a * n1[2] + b * n2[2]};

    const double length = std::sqrt(directionSquared);
    if (std::abs(length - 1.0) > 1e-5) {
        for (double &c : direction)
            c /= length;
    }

    PatientPoint start{}, end{};
    for (int i = 0; i < 3; ++i) {
        start[i] = onBoth[i] - halfSegmentMm * direction[i];
        end[i] = onBoth[i] + halfSegmentMm * direction[i];
    }
    const std::optional<QPointF> from = patientToPixel(target, start);
    const std::optional<QPointF> to = patientToPixel(target, end);
    if (!from || !to)
        return std::nullopt;
    // The image length of one millimetre along the line; the line runs along
    // the view direction when it (nearly) vanishes.
    if (QLineF(*from, *to).length() / (2.0 * halfSegmentMm) < 1e-6)
        return std::nullopt;
    return clipToRect(*from, *to, targetColumns, targetRows);
}

QString referenceLinesStatus(int loadedPanels, int panelsWithCoordinates, int linesFound)
{
    if (loadedPanels < 2)
        return QStringLiteral("Референсные линии: нужно минимум 2 панели с загруженными сериями.");
    if (panelsWithCoordinates == 0)
        return QStringLiteral(
            "Референсные линии: ни у одной серии нет координат ImagePositionPatient/Orientation — скорее всего, "
            "эти исследования импортированы ДО того, как их начали сохранять. Переимпортируйте исследование "
            "(папку с исходными файлами) заново.");
    if (linesFound == 0)
        return QStringLiteral(
            "Референсные линии: координаты есть, но видимые плоскости практически параллельны (например, две "
            "аксиальные серии) — пересечения физически нет, это ожидаемо.");
    return QString();
}

} // namespace render
