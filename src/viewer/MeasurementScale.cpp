#include "viewer/MeasurementScale.h"

namespace render {

double measurementScale(double calibrationMmPerPixel, double rowSpacing, double columnSpacing)
{
    if (calibrationMmPerPixel > 0.0)
        return calibrationMmPerPixel;
    const bool row = rowSpacing > 0.0;
    const bool column = columnSpacing > 0.0;
    if (row && column)
        return (rowSpacing + columnSpacing) / 2.0;
    if (row)
        return rowSpacing;
    if (column)
        return columnSpacing;
    return 0.0;
}

} // namespace render
