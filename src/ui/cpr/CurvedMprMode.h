#pragma once

#include <QString>

namespace velmaris {

// The three faces of the curved-reconstruction window.
enum class CurvedMprMode { Curved, Vessel, Panoramic };

// The window's title; the two vascular modes add the centre line's length
// once a line is built (a negative length leaves it out). The panoramic
// title always carries its warning instead.
QString curvedMprWindowTitle(CurvedMprMode mode, double lengthMm = -1.0);

// The text of the beta banner at the top of the window.
QString curvedMprBannerText(CurvedMprMode mode);

} // namespace velmaris
