#pragma once

#include <array>
#include <optional>

// Turning a loaded stack so that its index axes follow the patient axes.
namespace render {

// For each source axis (x, y, z of the loaded stack): the result axis it
// becomes and whether it runs reversed there.
struct AxisCodes
{
    std::array<int, 3> axis{0, 1, 2};
    std::array<bool, 3> negative{false, false, false};

    bool isIdentity() const
    {
        return axis == std::array<int, 3>{0, 1, 2} && negative == std::array<bool, 3>{false, false, false};
    }
};

// The dominant patient axis and its sign of the row, the column and their
// normal; none for a degenerate or ambiguous orientation.
std::optional<AxisCodes> orientationAxes(const std::array<double, 3> &row, const std::array<double, 3> &column);

// Frames without orientation: 0 axial (unchanged), 1 sagittal stack, 2
// coronal stack; any other hint leaves the stack unchanged.
AxisCodes planeHintAxes(int planeHint);

// Where the permutation puts every voxel of a source block: source voxel
// (x, y, z) lands at index offset + x·stride[0] + y·stride[1] + z·stride[2]
// of a block of `size` (x fastest). No interpolation.
struct VoxelPlacement
{
    std::array<int, 3> size{0, 0, 0};
    std::array<long long, 3> stride{0, 0, 0};
    long long offset = 0;
};

VoxelPlacement voxelPlacement(const std::array<int, 3> &sourceSize, const AxisCodes &codes);

} // namespace render
