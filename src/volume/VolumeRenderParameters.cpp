#include "volume/VolumeRenderParameters.h"

#include <algorithm>
#include <cmath>

namespace render {

double usableSpacing(double spacing)
{
    return std::isfinite(spacing) && spacing > 0.0 ? spacing : 1.0;
}

int volumeStepCount(double halfDiagonalMm, double smallestSpacingMm, bool interactive)
{
    const double step = std::max(0.5 * usableSpacing(smallestSpacingMm), 0.15);
    const double wanted = std::ceil(2.4 * std::max(halfDiagonalMm, 0.0) / step);
    int steps = int(std::clamp(wanted, 220.0, 800.0));
    if (interactive)
        steps = std::min(steps, 120);
    return steps;
}

VolumeRayGeometry volumeRayGeometry(const Volume &volume, const VolumeRenderParameters &parameters)
{
    VolumeRayGeometry g;
    const double sx = usableSpacing(volume.spacingX);
    const double sy = usableSpacing(volume.spacingY);
    const double sz = usableSpacing(volume.spacingZ);
    g.extentMm = QVector3D(float(std::max(volume.width, 0) * sx), float(std::max(volume.height, 0) * sy),
                           float(std::max(volume.depth, 0) * sz));
    g.halfDiagonalMm = 0.5 * double(g.extentMm.length());
    g.halfExtentMm = g.halfDiagonalMm * std::max(parameters.camera.zoom, 0.1);
    g.rayStartMm = parameters.perspective ? 0.0 : -1.2 * g.halfDiagonalMm;
    g.rayLengthMm = 2.4 * g.halfDiagonalMm;
    g.steps = volumeStepCount(g.halfDiagonalMm, std::min({sx, sy, sz}), parameters.interactive);
    return g;
}

} // namespace render
