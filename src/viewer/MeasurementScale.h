#pragma once

namespace render {

// Millimetres per pixel for measurements: the hand calibration when positive,
// else the mean of the row and column spacing when both are positive, else
// the positive one; 0 when there is no scale (labels in px).
double measurementScale(double calibrationMmPerPixel, double rowSpacing, double columnSpacing);

} // namespace render
