#include "volume/VolumeMm.h"

namespace render {

namespace {

Vec3d asVec(const std::array<float, 3> &v)
{
    return {double(v[0]), double(v[1]), double(v[2])};
}

} // namespace

VoxelGrid volumeMmGrid(const Volume &volume)
{
    VoxelGrid grid;
    grid.spacing = {volume.spacingX, volume.spacingY, volume.spacingZ};
    grid.size = {volume.width, volume.height, volume.depth};
    grid.voxels = std::span<const float>(volume.voxels.data(), volume.voxels.size());
    return grid;
}

Vec3d volumeMmFromPatient(const Volume &volume, const Vec3d &patient)
{
    if (!volume.hasPatientGeometry)
        return patient;
    const Vec3d d = patient - asVec(volume.origin);
    const Vec3d steps[3] = {asVec(volume.stepX), asVec(volume.stepY), asVec(volume.stepZ)};
    const double spacing[3] = {volume.spacingX, volume.spacingY, volume.spacingZ};
    Vec3d result{};
    for (int i = 0; i < 3; ++i) {
        const double length2 = dot(steps[i], steps[i]);
        result[std::size_t(i)] = length2 > 0.0 ? dot(d, steps[i]) / length2 * spacing[i] : 0.0;
    }
    return result;
}

Vec3d patientFromVolumeMm(const Volume &volume, const Vec3d &volumeMm)
{
    if (!volume.hasPatientGeometry)
        return volumeMm;
    const double spacing[3] = {volume.spacingX, volume.spacingY, volume.spacingZ};
    Vec3d result = asVec(volume.origin);
    result = result + asVec(volume.stepX) * (volumeMm[0] / spacing[0]);
    result = result + asVec(volume.stepY) * (volumeMm[1] / spacing[1]);
    result = result + asVec(volume.stepZ) * (volumeMm[2] / spacing[2]);
    return result;
}

} // namespace render
