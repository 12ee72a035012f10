#pragma once

#include "viewer/VoxelGrid.h"
#include "volume/Volume.h"

namespace render {

// The volume as a grid placed in patient space, for sampling at patient
// points (a fusion layer). Not usable when the volume has no patient
// geometry. The grid views the volume's voxels: the volume must outlive it.
VoxelGrid voxelGridOf(const Volume &volume);

} // namespace render
