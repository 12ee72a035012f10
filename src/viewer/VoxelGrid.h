#pragma once

#include <array>
#include <span>

namespace render {

// A read-only view of a float voxel block placed in patient space: voxel
// (x, y, z) lies at origin + x·spacing[0]·axes[0] + y·spacing[1]·axes[1] +
// z·spacing[2]·axes[2], x running fastest in the block. The view does not own
// the voxels; whoever builds it keeps them alive while it is used.
struct VoxelGrid
{
    std::array<double, 3> origin{0.0, 0.0, 0.0};
    std::array<std::array<double, 3>, 3> axes{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}}}; // unit vectors
    std::array<double, 3> spacing{1.0, 1.0, 1.0};
    std::array<int, 3> size{0, 0, 0};
    std::span<const float> voxels;

    // Has voxels matching its size and positive spacings.
    bool isUsable() const;

    // Trilinear sample at fractional voxel indices; NaN outside the grid.
    double sampleIndex(double x, double y, double z) const;

    // Trilinear sample at a patient point; NaN outside the grid or when the
    // grid is not usable.
    double sampleAt(const std::array<double, 3> &point) const;
};

} // namespace render
