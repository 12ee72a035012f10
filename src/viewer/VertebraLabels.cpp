#include "viewer/VertebraLabels.h"

#include <QLineF>

#include <algorithm>

namespace render {

namespace {

constexpr int noSpatialTimeoutMs = 5000;
constexpr int removedTimeoutMs = 3000;

} // namespace

QStringList vertebraNames()
{
    QStringList names;
    names.reserve(25);
    for (int i = 1; i <= 7; ++i)
        names.append(QStringLiteral("C%1").arg(i));
    for (int i = 1; i <= 12; ++i)
        names.append(QStringLiteral("Th%1").arg(i));
    for (int i = 1; i <= 5; ++i)
        names.append(QStringLiteral("L%1").arg(i));
    names.append(QStringLiteral("S1"));
    return names;
}

QString vertebraStartHint(const QString &firstName)
{
    return QStringLiteral("Кликните по телу позвонка %1, затем по следующим по порядку.").arg(firstName);
}

void VertebraLabeler::start(int firstIndex, Direction direction)
{
    m_next = std::clamp(firstIndex, 0, static_cast<int>(vertebraNames().size()) - 1);
    m_direction = direction;
}

VertebraClick VertebraLabeler::click(const SliceGeometry &slice, const QPointF &imagePixel)
{
    VertebraClick result;
    const std::optional<PatientPoint> point = pixelToPatient(slice, imagePixel);
    const std::optional<SlicePlane> plane = slicePlane(slice);
    if (!point || !plane) {
        result.statusMessage = QStringLiteral("Метки позвонков: у этой серии нет пространственных координат "
                                              "(ImagePositionPatient/ImageOrientationPatient).");
        result.statusTimeoutMs = noSpatialTimeoutMs;
        return result;
    }

    // Of several labels near the click the closest on screen goes, so that
    // the one the user aimed at is removed.
    int nearest = -1;
    double nearestDistance = vertebraRemoveRadiusPx;
    for (int i = 0; i < m_labels.size(); ++i) {
        if (distanceToPlane(*plane, m_labels.at(i).point) > vertebraPlaneToleranceMm)
            continue;
        const std::optional<QPointF> projected = patientToPixel(slice, m_labels.at(i).point);
        if (!projected)
            continue;
        const double distance = QLineF(*projected, imagePixel).length();
        if (distance <= nearestDistance) {
            nearest = i;
            nearestDistance = distance;
        }
    }
    if (nearest >= 0) {
        result.outcome = VertebraClick::Outcome::Removed;
        result.name = m_labels.takeAt(nearest).name;
        result.statusMessage = QStringLiteral("Метка %1 удалена.").arg(result.name);
        result.statusTimeoutMs = removedTimeoutMs;
        return result;
    }

    const QStringList names = vertebraNames();
    if (m_next < 0 || m_next >= names.size()) {
        result.outcome = VertebraClick::Outcome::AllPlaced;
        result.statusMessage = QStringLiteral("Все метки по порядку уже расставлены — выберите инструмент заново, "
                                              "чтобы начать с другого позвонка.");
        return result;
    }

    result.name = names.at(m_next);
    m_labels.append({result.name, *point});
    m_next += static_cast<int>(m_direction);
    if (m_next >= 0 && m_next < names.size()) {
        result.outcome = VertebraClick::Outcome::Placed;
        result.statusMessage = QStringLiteral("Поставлена метка %1. Следующая: %2.").arg(result.name, names.at(m_next));
    } else {
        result.outcome = VertebraClick::Outcome::PlacedLast;
        result.statusMessage = QStringLiteral("Поставлена метка %1 — это последняя по порядку.").arg(result.name);
    }
    return result;
}

QList<VisibleVertebraLabel> VertebraLabeler::visibleLabels(const SliceGeometry &slice) const
{
    QList<VisibleVertebraLabel> visible;
    const std::optional<SlicePlane> plane = slicePlane(slice);
    if (!plane)
        return visible;
    for (const VertebraLabel &label : m_labels) {
        if (distanceToPlane(*plane, label.point) > vertebraPlaneToleranceMm)
            continue;
        if (const std::optional<QPointF> projected = patientToPixel(slice, label.point))
            visible.append({label.name, *projected});
    }
    return visible;
}

} // namespace render
