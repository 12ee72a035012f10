#pragma once

#include "viewer/VoxelGrid.h"
#include "volume/Centerline.h"
#include "volume/Volume.h"

// Volume millimetres: voxel index × spacing, the frame in which curved
// reconstructions and vessel tracing take their points.
namespace render {

// The volume as a grid whose "patient" space is volume millimetres, so the
// trilinear sampler reads volume-millimetre points directly. The grid views
// the volume's voxels: the volume must outlive it.
VoxelGrid volumeMmGrid(const Volume &volume);

// A patient point in volume millimetres, by the volume's placement; the
// point itself when the volume has no patient geometry.
Vec3d volumeMmFromPatient(const Volume &volume, const Vec3d &patient);
// The inverse: a volume-millimetre point in patient space.
Vec3d patientFromVolumeMm(const Volume &volume, const Vec3d &volumeMm);

} // namespace render
