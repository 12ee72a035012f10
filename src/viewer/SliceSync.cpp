#include "viewer/SliceSync.h"

#include "viewer/SlicePlane.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace render {

namespace {

// Unit normals whose cross product is shorter than this count as parallel,
// the same test the reference lines use to find no intersection.
constexpr double parallelSquaredLength = 1e-8;

// The follower's slice nearest to the leader's along their shared normal;
// none when the two slices do not share a frame of reference and a plane
// direction.
std::optional<int> slicePairedByPosition(const db::SliceRef &leader, const db::SliceRef &follower,
                                         const QList<db::SliceRef> &target)
{
    if (leader.frame_of_reference_uid.isEmpty() || leader.frame_of_reference_uid != follower.frame_of_reference_uid)
        return std::nullopt;
    const SliceGeometry leaderGeometry = sliceGeometry(leader);
    const std::optional<SlicePlane> leaderPlane = slicePlane(leaderGeometry);
    const std::optional<SlicePlane> followerPlane = slicePlane(sliceGeometry(follower));
    if (!leaderPlane || !followerPlane)
        return std::nullopt;
    const PatientPoint across = crossProduct(leaderPlane->normal, followerPlane->normal);
    if (dotProduct(across, across) >= parallelSquaredLength)
        return std::nullopt;
    QList<SliceGeometry> geometry;
    geometry.reserve(target.size());
    for (const db::SliceRef &slice : target)
        geometry.append(sliceGeometry(slice));
    return nearestSliceAlong(geometry, leaderPlane->normal, leaderGeometry.position);
}

} // namespace

double sliceFraction(int index, int total)
{
    if (total <= 1)
        return 0.0;
    return static_cast<double>(index) / static_cast<double>(total - 1);
}

int sliceForFraction(double fraction, int count)
{
    if (count < 2)
        return 0;
    // NaN would survive std::clamp and lround would turn it into garbage.
    const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    return static_cast<int>(std::lround(clamped * (count - 1)));
}

int syncedSliceIndex(int sourceIndex, int sourceTotal, int targetTotal)
{
    return sliceForFraction(sliceFraction(sourceIndex, sourceTotal), targetTotal);
}

int syncedSliceIndex(const QList<db::SliceRef> &source, int sourceIndex, const QList<db::SliceRef> &target,
                     int targetIndex)
{
    const int sourceTotal = static_cast<int>(source.size());
    const int targetTotal = static_cast<int>(target.size());
    if (sourceIndex >= 0 && sourceIndex < sourceTotal && targetIndex >= 0 && targetIndex < targetTotal) {
        if (const auto paired = slicePairedByPosition(source.at(sourceIndex), target.at(targetIndex), target))
            return *paired;
    }
    return syncedSliceIndex(sourceIndex, sourceTotal, targetTotal);
}

} // namespace render
