#include "viewer/Cursor3D.h"

namespace render {

std::optional<CursorTarget> cursorTarget(const QList<SliceGeometry> &series, int currentIndex,
                                         const PatientPoint &point)
{
    if (currentIndex < 0 || currentIndex >= series.size())
        return std::nullopt;
    const std::optional<PatientPoint> normal = sliceNormal(series.at(currentIndex));
    if (!normal || dotProduct(*normal, *normal) < 1e-6)
        return std::nullopt;

    const std::optional<int> best = nearestSliceAlong(series, *normal, point);
    if (!best)
        return std::nullopt;
    const std::optional<QPointF> pixel = patientToPixel(series.at(*best), point);
    if (!pixel)
        return std::nullopt;
    return CursorTarget{*best, *pixel};
}

QString cursorNoSpatialInfoMessage()
{
    return QStringLiteral("3D-курсор: у этой серии нет пространственных координат — переимпортируйте "
                          "исследование заново, чтобы они появились.");
}

} // namespace render
