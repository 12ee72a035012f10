#include "volume/VolumeVoxelGrid.h"

#include <cmath>

namespace render {

VoxelGrid voxelGridOf(const Volume &volume)
{
    VoxelGrid grid;
    if (!volume.isValid() || !volume.hasPatientGeometry)
        return grid;
    const std::array<const std::array<float, 3> *, 3> steps = {&volume.stepX, &volume.stepY, &volume.stepZ};
    for (int i = 0; i < 3; ++i) {
        const std::array<float, 3> &step = *steps[i];
        const double length =
            std::sqrt(double(step[0]) * step[0] + double(step[1]) * step[1] + double(step[2]) * step[2]);
        if (!(length > 0.0))
            return VoxelGrid();
        grid.spacing[i] = length;
        for (int k = 0; k < 3; ++k)
            grid.axes[i][k] = step[k] / length;
        grid.origin[i] = volume.origin[i];
    }
    grid.size = {volume.width, volume.height, volume.depth};
    grid.voxels = std::span<const float>(volume.voxels.data(), volume.voxels.size());
    return grid;
}

} // namespace render
