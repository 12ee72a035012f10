#include "volume/VesselAnalysis.h"

#include "volume/MprReslicer.h"
#include "volume/VolumeMm.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace render {

LumenSection measureLumenSection(const Volume &volume, const Vec3d &centre, const Vec3d &u, const Vec3d &v,
                                 const LumenOptions &options)
{
    LumenSection section;
    const VoxelGrid grid = volumeMmGrid(volume);
    const double atCentre = grid.sampleAt(centre);
    if (!(atCentre >= options.thresholdHu))
        return section;
    const int rays = std::clamp(options.rays, 4, 720);
    // A quarter of the finest spacing finds the edge well inside a voxel.
    const double step = std::max(std::min({volume.spacingX, volume.spacingY, volume.spacingZ}) * 0.25, 0.02);
    const int maxSteps = int(std::ceil(options.maxRadiusMm / step));
    std::vector<double> radius(std::size_t(rays), 0.0);
    std::vector<Vec3d> ends(static_cast<std::size_t>(rays));
    for (int i = 0; i < rays; ++i) {
        const double angle = 2.0 * M_PI * i / rays;
        const Vec3d direction = u * std::cos(angle) + v * std::sin(angle);
        double previous = atCentre;
        double r = 0.0;
        for (int k = 1; k <= maxSteps; ++k) {
            const double value = grid.sampleAt(centre + direction * (k * step));
            if (!(value >= options.thresholdHu)) {
                // Outside the volume the edge is where the volume ends.
                const double f = std::isnan(value) ? 0.0 : (previous - options.thresholdHu) / (previous - value);
                r = (k - 1 + std::clamp(f, 0.0, 1.0)) * step;
                break;
            }
            previous = value;
            r = k * step;
        }
        radius[std::size_t(i)] = r;
        ends[std::size_t(i)] = centre + direction * r;
    }
    const double wedge = std::sin(2.0 * M_PI / rays) * 0.5;
    double area = 0.0;
    Vec3d weighted{0.0, 0.0, 0.0};
    for (int i = 0; i < rays; ++i) {
        const std::size_t a = std::size_t(i);
        const std::size_t b = std::size_t((i + 1) % rays);
        const double triangle = radius[a] * radius[b] * wedge;
        area += triangle;
        weighted = weighted + (centre + ends[a] + ends[b]) * (triangle / 3.0);
    }
    section.found = true;
    section.areaMm2 = area;
    section.diameterMm = 2.0 * std::sqrt(area / M_PI);
    section.centroid = area > 0.0 ? weighted * (1.0 / area) : centre;
    section.minDiameterMm = std::numeric_limits<double>::max();
    for (int i = 0; i < (rays + 1) / 2; ++i) {
        const double across = radius[std::size_t(i)] + radius[std::size_t((i + rays / 2) % rays)];
        section.minDiameterMm = std::min(section.minDiameterMm, across);
        section.maxDiameterMm = std::max(section.maxDiameterMm, across);
    }
    return section;
}

std::vector<double> perpendicularSectionOffsetsMm()
{
    std::vector<double> offsets;
    for (int mm = -10; mm <= 10; ++mm)
        offsets.push_back(mm);
    return offsets;
}

int centerlineSampleAt(const Centerline &line, double arcMm)
{
    if (line.isEmpty() || !(line.stepMm > 0.0) || !std::isfinite(arcMm))
        return 0;
    return int(std::clamp(std::lround(arcMm / line.stepMm), 0L, long(line.size() - 1)));
}

QImage perpendicularSection(const Volume &volume, const Centerline &line, int sampleIndex, int size,
                            double mmPerPixel, double windowCenter, double windowWidth)
{
    if (line.isEmpty() || !volume.isValid() || size < 1)
        return QImage();
    const std::size_t s = std::size_t(std::clamp(sampleIndex, 0, line.size() - 1));
    const VoxelGrid grid = volumeMmGrid(volume);
    const Vec3d &centre = line.positions[s];
    const Vec3d &u = line.normals[s];
    const Vec3d &v = line.binormals[s];
    QImage image(size, size, QImage::Format_Grayscale8);
    const double half = size * 0.5;
    for (int y = 0; y < size; ++y) {
        uchar *out = image.scanLine(y);
        for (int x = 0; x < size; ++x) {
            const double value =
                grid.sampleAt(centre + u * ((x + 0.5 - half) * mmPerPixel) + v * ((y + 0.5 - half) * mmPerPixel));
            out[x] = std::isnan(value) ? 0 : windowedByte(value, windowCenter, std::max(windowWidth, 1e-6));
        }
    }
    return image;
}

std::vector<VesselProfilePoint> vesselProfile(const Volume &volume, const Centerline &line, double stepMm,
                                              const LumenOptions &options, const std::atomic<bool> *cancel,
                                              const std::function<void(int, int)> &progress)
{
    std::vector<VesselProfilePoint> profile;
    if (line.isEmpty() || !volume.isValid() || !(line.stepMm > 0.0))
        return profile;
    const int every = std::max(1, int(std::lround(stepMm / line.stepMm)));
    const int total = (line.size() + every - 1) / every;
    for (int i = 0, done = 0; i < line.size(); i += every, ++done) {
        if (cancel && cancel->load())
            break;
        const std::size_t s = std::size_t(i);
        profile.push_back(
            {i * line.stepMm, measureLumenSection(volume, line.positions[s], line.normals[s], line.binormals[s], options)});
        if (progress)
            progress(done + 1, total);
    }
    return profile;
}

QString vesselProfileTitle(const QString &series)
{
    return QStringLiteral("Профиль сосуда — %1").arg(series);
}

} // namespace render
