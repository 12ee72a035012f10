#pragma once

#include "viewer/SliceGeometry.h"
#include "viewer/SlicePlane.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <optional>

// The 3D cursor: a point clicked in one panel, shown in every other panel on
// the slice that passes closest to it.
namespace render {

// Where another panel goes for the cursor point: its slice and the point's
// projection into that slice's image pixels.
struct CursorTarget
{
    int sliceIndex = 0;
    QPointF imagePixel;
};

// For a panel showing slice `currentIndex` of `series`: the slice whose plane
// lies nearest to `point` along the current slice's normal (the first on
// ties; slices without spatial data are passed over). None when the current
// slice has no spatial data or a (nearly) zero normal.
std::optional<CursorTarget> cursorTarget(const QList<SliceGeometry> &series, int currentIndex,
                                         const PatientPoint &point);

// Shown when the clicked panel's slice has no spatial data.
QString cursorNoSpatialInfoMessage();

} // namespace render
