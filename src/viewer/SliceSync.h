#pragma once

#include "db/SliceRef.h"

#include <QList>

// Synchronised paging: which slice a follower panel shows while the leader
// pages. Kept in one place so that the window's broadcast and the panel's
// setSliceByFraction cannot drift apart in their rounding.
namespace render {

// index ÷ (total − 1); 0 when total is 1 or less.
double sliceFraction(int index, int total);

// lround((count − 1) × fraction) with the fraction clamped to 0 … 1;
// 0 when count is below 2.
int sliceForFraction(double fraction, int count);

// The slice a follower of `targetTotal` slices shows while the leader shows
// `sourceIndex` of `sourceTotal`: 50 of 100 gives 10 of 20.
int syncedSliceIndex(int sourceIndex, int sourceTotal, int targetTotal);

// The slice of `target` (now showing `targetIndex`) that follows slice
// `sourceIndex` of `source`. When both shown slices have spatial data,
// parallel normals (either way round) and the same frame of reference, it is
// the slice nearest by position along the normal, as the 3D cursor picks it:
// series that cover different ranges or spacings stay level with each other.
// Otherwise, and for a frame of reference that is not known, the fraction
// rule above.
int syncedSliceIndex(const QList<db::SliceRef> &source, int sourceIndex, const QList<db::SliceRef> &target,
                     int targetIndex);

} // namespace render
