#pragma once

#include "viewer/WindowLevel.h"

#include <optional>

namespace render {

// The window and inversion of one image panel. The panel shows the file's own
// window until the user chooses one (drag, preset); from then on every slice
// is drawn with the user's window until another series is loaded or a
// reconstruction is left.
class DisplayState
{
public:
    WindowLevel window() const { return m_window; }
    bool hasUserWindow() const { return m_userWindow; }
    bool isInverted() const { return m_inverted; }
    void setInverted(bool inverted) { m_inverted = inverted; }

    // The window to hand to the renderer for the next draw; empty means "use
    // the file's default".
    std::optional<WindowLevel> windowForDraw() const;

    // Takes over the window a successful render reports, so that the overlay
    // and the next drag start from what is actually on screen.
    void adoptRenderedWindow(const WindowLevel &window);

    // One mouse move of drag windowing, dx/dy in screen pixels since the last
    // move: right widens, down raises the centre (the image darkens).
    void drag(double dx, double dy);

    // An explicit choice of the user, such as a preset.
    void applyWindow(const WindowLevel &window);

    // Back to the file's default window: another series was loaded or a
    // reconstruction was left. The current values stay until the next render
    // reports the default.
    void clearUserWindow() { m_userWindow = false; }

private:
    WindowLevel m_window;
    bool m_userWindow = false;
    bool m_inverted = false;
};

} // namespace render
