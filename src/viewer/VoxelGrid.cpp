#include "viewer/VoxelGrid.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace render {

namespace {

// Index positions that miss the grid by less than this still count as inside:
// patient coordinates stored as float put points on the outer voxel planes a
// hair outside, and a whole slice on the grid border would otherwise vanish.
constexpr double edgeTolerance = 1e-3;

// Clamps an index position into 0 … count − 1 and splits it into the lower
// voxel and the fraction towards the next one; false when it lies outside.
bool locate(double position, int count, int &lower, double &fraction)
{
    if (!(position >= -edgeTolerance && position <= count - 1 + edgeTolerance))
        return false; // also rejects NaN
    const double clamped = std::min(std::max(position, 0.0), double(count - 1));
    lower = std::min(static_cast<int>(clamped), count - 1);
    if (lower == count - 1 && count > 1)
        lower = count - 2;
    fraction = count > 1 ? clamped - lower : 0.0;
    return true;
}

} // namespace

bool VoxelGrid::isUsable() const
{
    if (size[0] < 1 || size[1] < 1 || size[2] < 1)
        return false;
    if (!(spacing[0] > 0.0 && spacing[1] > 0.0 && spacing[2] > 0.0))
        return false;
    return voxels.size() == static_cast<std::size_t>(size[0]) * size[1] * size[2];
}

double VoxelGrid::sampleIndex(double x, double y, double z) const
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int x0 = 0, y0 = 0, z0 = 0;
    double fx = 0.0, fy = 0.0, fz = 0.0;
    if (!locate(x, size[0], x0, fx) || !locate(y, size[1], y0, fy) || !locate(z, size[2], z0, fz))
        return nan;
    const int x1 = std::min(x0 + 1, size[0] - 1);
    const int y1 = std::min(y0 + 1, size[1] - 1);
    const int z1 = std::min(z0 + 1, size[2] - 1);
    const auto at = [this](int ix, int iy, int iz) {
        return double(voxels[(static_cast<std::size_t>(iz) * size[1] + iy) * size[0] + ix]);
    };
    const double c00 = at(x0, y0, z0) * (1.0 - fx) + at(x1, y0, z0) * fx;
    const double c10 = at(x0, y1, z0) * (1.0 - fx) + at(x1, y1, z0) * fx;
    const double c01 = at(x0, y0, z1) * (1.0 - fx) + at(x1, y0, z1) * fx;
    const double c11 = at(x0, y1, z1) * (1.0 - fx) + at(x1, y1, z1) * fx;
    const double c0 = c00 * (1.0 - fy) + c10 * fy;
    const double c1 = c01 * (1.0 - fy) + c11 * fy;
    return c0 * (1.0 - fz) + c1 * fz;
}

double VoxelGrid::sampleAt(const std::array<double, 3> &point) const
{
    if (!isUsable())
        return std::numeric_limits<double>::quiet_NaN();
    const std::array<double, 3> d{point[0] - origin[0], point[1] - origin[1], point[2] - origin[2]};
    std::array<double, 3> index{};
    for (int axis = 0; axis < 3; ++axis) {
        const auto &a = axes[axis];
        index[axis] = (d[0] * a[0] + d[1] * a[1] + d[2] * a[2]) / spacing[axis];
    }
    return sampleIndex(index[0], index[1], index[2]);
}

} // namespace render
