#pragma once

#include "viewer/SliceGeometry.h"
#include "viewer/SlicePlane.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

// Vertebra labels: named points in patient space placed click by click in
// anatomical order, shown in every panel whose slice passes near them.
namespace render {

// C1 … C7, Th1 … Th12, L1 … L5, S1: 25 names from the skull down.
QStringList vertebraNames();

// The hint of the tool's dialog for the chosen first label.
QString vertebraStartHint(const QString &firstName);

inline constexpr double vertebraPlaneToleranceMm = 12.0; // shown / removable
inline constexpr double vertebraRemoveRadiusPx = 14.0;   // click to an existing label

struct VertebraLabel
{
    QString name;
    PatientPoint point{0.0, 0.0, 0.0};
};

// A label as drawn in one panel.
struct VisibleVertebraLabel
{
    QString name;
    QPointF imagePixel;
};

struct VertebraClick
{
    enum class Outcome { NoSpatialInfo, Removed, Placed, PlacedLast, AllPlaced };

    Outcome outcome = Outcome::NoSpatialInfo;
    QString name;          // the label removed or placed
    QString statusMessage;
    int statusTimeoutMs = 0; // 0: shown until replaced
};

class VertebraLabeler
{
public:
    enum class Direction { TowardsSacrum = 1, TowardsSkull = -1 };

    // The next label and the direction of the following clicks, as chosen in
    // the tool's dialog; labels already placed stay. An index outside the
    // sequence is clamped into it.
    void start(int firstIndex, Direction direction);

    // A click at an image pixel of a panel showing `slice`: removes a label
    // lying near the slice and the click, or else places the next one.
    VertebraClick click(const SliceGeometry &slice, const QPointF &imagePixel);

    // Labels within the plane tolerance of the slice, at their projections.
    QList<VisibleVertebraLabel> visibleLabels(const SliceGeometry &slice) const;

    void clear() { m_labels.clear(); }

    const QList<VertebraLabel> &labels() const { return m_labels; }
    int nextIndex() const { return m_next; }
    Direction direction() const { return m_direction; }

private:
    QList<VertebraLabel> m_labels;
    int m_next = 0; // C1
    Direction m_direction = Direction::TowardsSacrum;
};

} // namespace render
