#pragma once

#include "db/SliceRef.h"
#include "volume/VolumeSlice.h"

#include <QList>

namespace render {

// Which window the slices are for: the MPR window keeps the frames'
// orientation (its volume follows the patient axes and gets patient
// geometry); the 3D window leaves it out and turns its volume by the plane
// hint instead.
enum class SliceOrientationUse { Keep, Drop };

// One VolumeSlice per row, in the rows' order. When every row has spatial
// information, a slice's position is its Image Position (Patient) projected
// on the first slice's unit normal, and its image position is filled in:
// Slice Location is optional and may run against the normal. Without spatial
// information on every row (or with a degenerate first orientation), the
// position is the Slice Location.
QList<VolumeSlice> seriesVolumeSlices(const QList<db::SliceRef> &rows, SliceOrientationUse use);

} // namespace render
