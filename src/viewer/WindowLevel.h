#pragma once

namespace render {

// The window of one panel, in the units after the rescale (HU for CT), with
// the DICOM Window Center / Window Width meaning.
struct WindowLevel
{
    double centre = 0.0;
    double width = 0.0;

    bool operator==(const WindowLevel &) const = default;
};

} // namespace render
