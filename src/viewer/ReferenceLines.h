#pragma once

#include "viewer/SliceGeometry.h"

#include <QLineF>
#include <QString>

#include <optional>

// Reference lines: where another panel's slice cuts the slice a panel shows,
// drawn in that panel's image.
namespace render {

// The intersection of the source slice's plane with the target slice's
// plane, in the target's image pixel coordinates (pixel (x, y) at
// position + x·spacingX·row + y·spacingY·column), clipped to the target
// image rectangle 0 … columns × 0 … rows. None for (nearly) parallel planes,
// missing spatial data, or a line that misses the image.
std::optional<QLineF> referenceLine(const SliceGeometry &source, const SliceGeometry &target, int targetColumns,
                                    int targetRows);

// What the status bar says after the lines were recomputed, or an empty
// string when there is nothing to report. loadedPanels: panels holding a
// series; panelsWithCoordinates: those whose current slice has spatial data;
// linesFound: lines handed to all panels together.
QString referenceLinesStatus(int loadedPanels, int panelsWithCoordinates, int linesFound);

} // namespace render
