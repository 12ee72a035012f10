#pragma once

#include "volume/VolumeBuildWorker.h"

namespace render {

// The build of the MPR window: slices with their orientation (seriesVolumeSlices with SliceOrientationUse::Keep).
class MprVolumeBuildWorker : public VolumeBuildWorker
{
    Q_OBJECT
public:
    using VolumeBuildWorker::VolumeBuildWorker;
};

} // namespace render
