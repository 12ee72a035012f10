#include "viewer/DisplayState.h"

#include <algorithm>

namespace render {

std::optional<WindowLevel> DisplayState::windowForDraw() const
{
    if (m_userWindow)
        return m_window;
    return std::nullopt;
}

void DisplayState::adoptRenderedWindow(const WindowLevel &window)
{
    m_window = window;
}

void DisplayState::drag(double dx, double dy)
{
    // A width below one would make the window degenerate (and the renderer
    // divide by it), so dragging left stops at 1.
    m_window.width = std::max(m_window.width + 2.0 * dx, 1.0);
    m_window.centre += 2.0 * dy;
    m_userWindow = true;
}

void DisplayState::applyWindow(const WindowLevel &window)
{
    m_window = window;
    m_userWindow = true;
}

} // namespace render
