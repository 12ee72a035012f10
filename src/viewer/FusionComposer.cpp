#include "viewer/FusionComposer.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace render {

namespace {

double clamp01(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

// Colour for t in 0 … 1, each component in 0 … 255 (not yet rounded, so
// the blend truncates only once).
std::array<double, 3> mapColour(int map, double t)
{
    double red = t, green = t, blue = t;
    if (map == FusionLayer::Hot) {
        red = green = blue = 0.0;
        if (t < 1.0 / 3.0) {
            red = 3.0 * t;
        } else if (t < 2.0 / 3.0) {
            red = 1.0;
            green = 3.0 * (t - 1.0 / 3.0);
        } else {
            red = green = 1.0;
            blue = 3.0 * (t - 2.0 / 3.0);
        }
    } else if (map == FusionLayer::Jet) {
        const double u = 4.0 * t;
        red = 1.5 - std::abs(u - 3.0);
        green = 1.5 - std::abs(u - 2.0);
        blue = 1.5 - std::abs(u - 1.0);
    }
    return {clamp01(red) * 255.0, clamp01(green) * 255.0, clamp01(blue) * 255.0};
}

double positiveOrOne(double spacing)
{
    return spacing > 0.0 ? spacing : 1.0;
}

} // namespace

QImage composeFusion(const QImage &picture, const SliceGeometry &slice, const FusionLayer &layer)
{
    QImage result = picture.convertToFormat(QImage::Format_RGB32);
    if (!slice.hasSpatialInfo || !layer.grid.isUsable() || result.isNull())
        return result;

    const double low = layer.window.centre - layer.window.width / 2.0;
    const double range = std::max(layer.window.width, 1e-6);
    const double opacity = clamp01(layer.opacity);
    const double sx = positiveOrOne(slice.pixelSpacingX);
    const double sy = positiveOrOne(slice.pixelSpacingY);

    for (int y = 0; y < result.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            std::array<double, 3> point{};
            for (int i = 0; i < 3; ++i) {
                point[i] = slice.position[i] + x * sx * slice.rowDirection[i] + y * sy * slice.columnDirection[i];
            }
            const double value = layer.grid.sampleAt(point);
            if (std::isnan(value))
                continue;
            const double t = (value - low) / range;
            if (!(t > 0.0))
                continue;
            const double level = std::min(t, 1.0);
            const std::array<double, 3> colour = mapColour(layer.colourMap, level);
            const double a = level * opacity;
            const QRgb base = line[x];
            const std::array<int, 3> baseChannels{qRed(base), qGreen(base), qBlue(base)};
            std::array<int, 3> blended{};
            for (int c = 0; c < 3; ++c)
                blended[c] = static_cast<int>(colour[c] * a + baseChannels[c] * (1.0 - a));
            line[x] = qRgb(blended[0], blended[1], blended[2]);
        }
    }
    return result;
}

} // namespace render
