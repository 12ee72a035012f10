#pragma once

class QApplication;

namespace velmaris {

// Fusion style with the dark or the light palette and style sheet. Can be
// called again at any time to switch the running application.
void applyTheme(QApplication &app, bool dark);

} // namespace velmaris
