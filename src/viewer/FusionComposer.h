#pragma once

#include "viewer/SliceGeometry.h"
#include "viewer/VoxelGrid.h"
#include "viewer/WindowLevel.h"

#include <QImage>

namespace render {

// A second series laid over a panel in colour: its voxels with their own
// window, a colour map and an opacity.
struct FusionLayer
{
    enum ColourMap { Hot = 0, Jet = 1, Grey = 2 };

    VoxelGrid grid;
    WindowLevel window;
    int colourMap = Hot; // an unknown index is drawn in grey
    double opacity = 0.5; // 0 … 1
};

// Blends the layer over the (already inverted, if asked) picture, pixel by
// pixel at the patient point under each pixel. The result is 32-bit RGB;
// pixels where the layer has no value, or lies at or below its window's
// lower bound, keep the picture's colour. Nothing is blended without slice
// geometry or a usable grid.
QImage composeFusion(const QImage &picture, const SliceGeometry &slice, const FusionLayer &layer);

} // namespace render
