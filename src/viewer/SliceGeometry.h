#pragma once

#include <array>

namespace render {

// Where a 2D slice lies in patient space (millimetres), as needed to find the
// patient point under each pixel.
struct SliceGeometry
{
    std::array<double, 3> position{0.0, 0.0, 0.0};        // centre of the first pixel
    std::array<double, 3> rowDirection{1.0, 0.0, 0.0};    // along a row (x grows)
    std::array<double, 3> columnDirection{0.0, 1.0, 0.0}; // down a column (y grows)
    double pixelSpacingX = 0.0;                           // between columns
    double pixelSpacingY = 0.0;                           // between rows
    bool hasSpatialInfo = false;
};

} // namespace render
