#pragma once

#include "volume/Volume.h"

#include <algorithm>
#include <array>

namespace velmaris::testing {

// A volume made in memory: voxel (x, y, z) holds value(x, y, z); the extremes
// are those of the values, as the builder records them.
template<typename Value>
render::Volume filledVolume(int w, int h, int d, Value value, const std::array<double, 3> &spacing = {1.0, 1.0, 1.0})
{
    render::Volume v{.width = w, .height = h, .depth = d, .spacingX = spacing[0], .spacingY = spacing[1],
                     .spacingZ = spacing[2], .voxels = {}};
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                v.voxels.push_back(float(value(x, y, z)));
    if (!v.voxels.empty()) {
        const auto [low, high] = std::minmax_element(v.voxels.begin(), v.voxels.end());
        v.minValue = *low;
        v.maxValue = *high;
    }
    return v;
}

} // namespace velmaris::testing
