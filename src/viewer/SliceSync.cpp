#include "viewer/SliceSync.h"

#include <algorithm>
#include <cmath>

namespace render {

double sliceFraction(int index, int total)
{
    if (total <= 1)
        return 0.0;
    return static_cast<double>(index) / static_cast<double>(total - 1);
}

int sliceForFraction(double fraction, int count)
{
    if (count < 2)
        return 0;
    // NaN would survive std::clamp and lround would turn it into garbage.
    const double clamped = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    return static_cast<int>(std::lround(clamped * (count - 1)));
}

int syncedSliceIndex(int sourceIndex, int sourceTotal, int targetTotal)
{
    return sliceForFraction(sliceFraction(sourceIndex, sourceTotal), targetTotal);
}

} // namespace render
