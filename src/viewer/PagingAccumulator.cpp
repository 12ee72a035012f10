#include "viewer/PagingAccumulator.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {
constexpr double pixelsPerSlice = 8.0;
constexpr double maximumSpeedFactor = 6.0;
// Far more than any series; keeps the conversion to int defined.
constexpr double maximumSlicesPerMove = 1e6;
} // namespace

int PagingAccumulator::addMove(double dy, qint64 elapsedMs)
{
    if (!std::isfinite(dy))
        return 0;
    const double dt = static_cast<double>(std::max<qint64>(elapsedMs, 1));
    const double factor = std::min(std::abs(dy) / dt * 1.5 + 1.0, maximumSpeedFactor);
    m_pending += factor * dy;
    // Whole steps of 8 pixels leave, towards zero; the remainder keeps its sign.
    const double slices =
        std::clamp(std::trunc(m_pending / pixelsPerSlice), -maximumSlicesPerMove, maximumSlicesPerMove);
    m_pending -= slices * pixelsPerSlice;
    return static_cast<int>(slices);
}

} // namespace render
