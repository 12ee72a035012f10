#pragma once

#include <QtGlobal>

#include <array>
#include <vector>

namespace render {

// A regular grid of float voxel values (HU for CT) with its spacing and, when
// the series carries the geometry, its placement in patient space. Voxel
// (x, y, z) is voxels[(z × height + y) × width + x]; in volume millimetres it
// lies at (x × spacingX, y × spacingY, z × spacingZ).
struct Volume
{
    qint32 width = 0;
    qint32 height = 0;
    qint32 depth = 0;
    double spacingX = 1.0;
    double spacingY = 1.0;
    double spacingZ = 1.0;
    // The smallest and largest value stored while loading.
    double minValue = 0.0;
    double maxValue = 0.0;
    bool hasPatientGeometry = false;
    // Patient mm of voxel (0, 0, 0), and the displacement from one voxel to
    // the next along each index axis.
    std::array<float, 3> origin{0.0f, 0.0f, 0.0f};
    std::array<float, 3> stepX{0.0f, 0.0f, 0.0f};
    std::array<float, 3> stepY{0.0f, 0.0f, 0.0f};
    std::array<float, 3> stepZ{0.0f, 0.0f, 0.0f};
    std::vector<float> voxels;

    // All three counts at least 1.
    bool isValid() const { return width >= 1 && height >= 1 && depth >= 1; }
};

// The stored value, or 0 when any index lies outside the volume.
inline float voxelAt(const Volume &volume, int x, int y, int z)
{
    if (x < 0 || y < 0 || z < 0 || x >= volume.width || y >= volume.height || z >= volume.depth)
        return 0.0f;
    return volume.voxels[(std::size_t(z) * std::size_t(volume.height) + std::size_t(y)) * std::size_t(volume.width)
                         + std::size_t(x)];
}

} // namespace render
