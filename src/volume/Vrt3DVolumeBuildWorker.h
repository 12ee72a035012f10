#pragma once

#include "volume/VolumeBuildWorker.h"

namespace render {

// The build of the 3D window: slices without orientation, turned by the plane hint of the series description (SliceOrientationUse::Drop).
class Vrt3DVolumeBuildWorker : public VolumeBuildWorker
{
    Q_OBJECT
public:
    using VolumeBuildWorker::VolumeBuildWorker;
};

} // namespace render
