#pragma once

#include <QString>

#include <array>

namespace render {

// One input frame of a volume build.
struct VolumeSlice
{
    QString path;
    // The slice's place along the stack, mm; the build sorts by it.
    double position = 0.0;
    double pixelSpacingX = 0.0;
    double pixelSpacingY = 0.0;
    double sliceThickness = 0.0;
    qint32 frameIndex = 0;
    // The two direction cosines of Image Orientation (Patient).
    std::array<double, 3> rowDirection{0.0, 0.0, 0.0};
    std::array<double, 3> columnDirection{0.0, 0.0, 0.0};
    bool hasOrientation = false;
    // Image Position (Patient), mm.
    std::array<double, 3> imagePosition{0.0, 0.0, 0.0};
    bool hasPosition = false;
};

} // namespace render
