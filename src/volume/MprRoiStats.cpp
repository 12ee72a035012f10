#include "volume/MprRoiStats.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace render {

namespace {

// Displayed extent of `count` voxels of spacing `own` beside an axis of
// spacing `other`, when the display stretches this axis; 0 when it does not.
int stretchedExtent(int count, double own, double other)
{
    if (!(own > 0.0 && other > 0.0) || std::fabs(own - other) <= 0.01 || own < other)
        return 0;
    return std::max(1, int(std::lround(count * own / other)));
}

} // namespace

QString mprRoiStats(const Volume &volume, int plane, int sliceIndex, const QRectF &ellipse)
{
    if (!volume.isValid())
        return QStringLiteral("HU недоступно");
    const QString empty = QStringLiteral("ROI пуст");
    const double cx = ellipse.center().x();
    const double cy = ellipse.center().y();
    const double a = ellipse.width() / 2.0;
    const double b = ellipse.height() / 2.0;
    if (!(a > 0.0) || !(b > 0.0))
        return empty;

    // Coronal and sagittal images are stretched along the axis of the larger
    // spacing; the pixel is brought back to voxel units along that axis.
    const double columnSpacing = plane == 1 ? volume.spacingX : volume.spacingY;
    const int columnCount = plane == 1 ? volume.width : volume.height;
    const int displayedHeight = stretchedExtent(volume.depth, volume.spacingZ, columnSpacing);
    const int displayedWidth = stretchedExtent(columnCount, columnSpacing, volume.spacingZ);

    double sum = 0.0;
    double sumSquares = 0.0;
    double minimum = std::numeric_limits<double>::max();
    double maximum = std::numeric_limits<double>::lowest();
    long long n = 0;
    const int left = int(std::floor(ellipse.left()));
    const int right = int(std::ceil(ellipse.right()));
    const int top = int(std::floor(ellipse.top()));
    const int bottom = int(std::ceil(ellipse.bottom()));
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            // Pixel (x, y) covers [x, x + 1) × [y, y + 1) and counts by its centre.
            const double dx = (x + 0.5 - cx) / a;
            const double dy = (y + 0.5 - cy) / b;
            if (dx * dx + dy * dy > 1.0)
                continue;
            int vx = 0;
            int vy = 0;
            int vz = 0;
            if (plane == 0) {
                vx = int(std::lround(double(x)));
                vy = int(std::lround(double(y)));
                vz = sliceIndex;
            } else {
                // A stretched picture shows in a pixel the voxel whose span
                // holds the pixel's centre, as the smooth scaling samples it,
                // along either axis; rounding x × count / width instead reads
                // the next voxel over half of every span and puts the last
                // pixels past the last voxel.
                const int c = displayedWidth > 0
                                  ? int(std::floor((x + 0.5) * columnCount / displayedWidth))
                                  : int(std::lround(double(x)));
                const int row = displayedHeight > 0 ? int(std::floor((y + 0.5) * volume.depth / displayedHeight))
                                                    : int(std::lround(double(y)));
                const int z = volume.depth - 1 - row;
                if (plane == 1) {
                    vx = c;
                    vy = sliceIndex;
                } else {
                    vx = sliceIndex;
                    vy = c;
                }
                vz = z;
            }
            if (vx < 0 || vy < 0 || vz < 0 || vx >= volume.width || vy >= volume.height || vz >= volume.depth)
                continue;
            const double value = voxelAt(volume, vx, vy, vz);
            sum += value;
            sumSquares += value * value;
            minimum = std::min(minimum, value);
            maximum = std::max(maximum, value);
            ++n;
        }
    }
    if (n == 0)
        return empty;
    const double mean = sum / double(n);
    const double variance = std::max(0.0, sumSquares / double(n) - mean * mean);
    return QStringLiteral("HU: %1 ± %2\nMin: %3  Max: %4\nN=%5")
        .arg(mean, 0, 'f', 0)
        .arg(std::sqrt(variance), 0, 'f', 1)
        .arg(minimum, 0, 'f', 0)
        .arg(maximum, 0, 'f', 0)
        .arg(n);
}

QString mprRoiStatsUnavailableText()
{
    return QStringLiteral("ROI-статистика недоступна при повёрнутых плоскостях");
}

} // namespace render
