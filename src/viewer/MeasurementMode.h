#pragma once

#include <QString>

namespace render {

// The tool of an image panel. The numbers are stored in the quick-tool
// settings, so they must never be renumbered.
enum class MeasurementMode : int {
    Browse = 0,
    Zoom = 1,
    Windowing = 2,
    Ruler = 3,
    Angle = 4,
    EllipseRoi = 5,
    Cursor3D = 6,
    Drawing = 7,
    FreehandRoi = 8,
    Text = 9,
    Arrow = 10,
    Polygon = 11,
    SmoothContour = 12,
    EllipseArea = 13,
    CobbAngle = 14,
    Paging = 15,
    // Point picking for the curved reconstruction and the automatic tracing;
    // they have no label and are never offered as a tool.
    CurvedMprPath = 16,
    VesselSeed = 17,
    AirwaySeed = 18,
    Magnifier = 19,
    Calibration = 20,
    VertebraLabels = 21,
};

// True for the values a user can choose as a tool (0 … 15 and 19 … 21).
bool isSelectableMode(int value);
// The tools that make a measurement, a drawing or a label on the slice (and
// the calibration line), as opposed to viewing and point-picking modes.
bool isMeasuringTool(MeasurementMode mode);

// The Russian menu label ("Линейка", "Угол Кобба" …); empty for the
// point-picking modes.
QString measurementModeLabel(MeasurementMode mode);

} // namespace render
