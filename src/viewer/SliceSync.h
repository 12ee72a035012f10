#pragma once

// Synchronised paging: a panel's slice position as a fraction of its range,
// and the slice another panel shows for that fraction. Kept in one place so
// that the window's broadcast and the panel's setSliceByFraction cannot
// drift apart in their rounding.
namespace render {

// index ÷ (total − 1); 0 when total is 1 or less.
double sliceFraction(int index, int total);

// lround((count − 1) × fraction) with the fraction clamped to 0 … 1;
// 0 when count is below 2.
int sliceForFraction(double fraction, int count);

// The slice a follower of `targetTotal` slices shows while the leader shows
// `sourceIndex` of `sourceTotal`: 50 of 100 gives 10 of 20.
int syncedSliceIndex(int sourceIndex, int sourceTotal, int targetTotal);

} // namespace render
