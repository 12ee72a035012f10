#pragma once

#include "viewer/MeasurementMode.h"

#include <QList>
#include <QString>

#include <optional>

namespace velmaris {

// The tools of the MPR tool bar. The numbers are the MPR window's own (they
// differ from the viewer's MeasurementMode): 5 is not offered here.
enum class MprTool : int {
    Browse = 0,
    Pan = 1,
    Zoom = 2,
    Windowing = 3,
    Ruler = 4,
    Angle = 6,
    EllipseRoi = 7,
    RotateAxes = 8,
    Drawing = 9,
    Text = 10,
    Arrow = 11,
    Polygon = 12,
    SmoothContour = 13,
    EllipseArea = 14,
};

struct MprToolInfo
{
    MprTool tool;
    QString label;
    QString toolTip;
};

// The tool bar's tools in their order.
const QList<MprToolInfo> &mprTools();

// The measuring tool of the 2D viewport a tool draws with; none for the
// viewing tools.
std::optional<render::MeasurementMode> mprMeasurementMode(MprTool tool);

} // namespace velmaris
