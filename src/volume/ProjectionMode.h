#pragma once

#include <QString>

namespace render {

// The MIP-family projections and volume rendering. The MIP shader gets the
// first three as 0, 1, 2.
enum class ProjectionMode { Maximum = 0, Minimum = 1, Mean = 2, Vrt = 3 };

// "MIP", "MinIP", "AvgIP" for the overlay; "VRT" for volume rendering.
QString projectionModeShortName(ProjectionMode mode);

} // namespace render
