#include "viewer/CinePlayback.h"

#include <algorithm>

namespace render {

int cineIntervalMs(int rate)
{
    return 1000 / std::max(rate, cineMinRate);
}

int nextCineSlice(int index, int count)
{
    if (count <= 1)
        return index;
    return (index + 1) % count;
}

} // namespace render
