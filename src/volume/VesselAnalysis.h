#pragma once

#include "volume/Centerline.h"
#include "volume/Volume.h"

#include <QImage>

#include <atomic>
#include <functional>
#include <vector>

// Vessel analysis along a centre line: cross sections perpendicular to it and
// the lumen profile (area and diameter by arc length). Everything runs on the
// caller's thread and only reads the volume, so a worker can run it.
namespace render {

struct LumenOptions
{
    // Voxels at or above this count as contrast-filled lumen.
    double thresholdHu = 150.0;
    // Rays from the centre in the section plane, and how far they look.
    int rays = 32;
    double maxRadiusMm = 15.0;
};

// The lumen in one section plane (through `centre`, spanned by the unit
// vectors u and v), found by rays from the centre to the first sample below
// the threshold (linearly interpolated between the two samples).
struct LumenSection
{
    bool found = false;        // the centre itself lies in the lumen
    double areaMm2 = 0.0;      // of the polygon of the ray ends
    double diameterMm = 0.0;   // equivalent: 2 √(area / π)
    double minDiameterMm = 0.0;
    double maxDiameterMm = 0.0;
    Vec3d centroid{0.0, 0.0, 0.0}; // of the polygon, volume mm
};

LumenSection measureLumenSection(const Volume &volume, const Vec3d &centre, const Vec3d &u, const Vec3d &v,
                                 const LumenOptions &options = {});

// The offsets of "Перпендикулярные срезы (±1 см, шаг 1 мм)": −10 … 10 mm.
std::vector<double> perpendicularSectionOffsetsMm();

// The centre-line sample nearest to arc length `arcMm` (clamped to the line).
int centerlineSampleAt(const Centerline &line, double arcMm);

// A size × size windowed Grayscale8 section perpendicular to the line at
// sample `sampleIndex` (clamped), image x along the normal, y along the
// binormal, trilinear sampled, black outside the volume. Null for an empty
// line or an invalid volume.
QImage perpendicularSection(const Volume &volume, const Centerline &line, int sampleIndex, int size,
                            double mmPerPixel, double windowCenter, double windowWidth);

struct VesselProfilePoint
{
    double arcMm = 0.0;
    LumenSection lumen;
};

// The lumen section every `stepMm` along the line (at least one sample
// apart). `progress(done, total)` is called from the calling thread; a set
// `cancel` stops early and returns what was measured.
std::vector<VesselProfilePoint> vesselProfile(const Volume &volume, const Centerline &line, double stepMm,
                                              const LumenOptions &options = {},
                                              const std::atomic<bool> *cancel = nullptr,
                                              const std::function<void(int, int)> &progress = {});

// "Профиль сосуда — %1" (the window's title, %1 the series).
QString vesselProfileTitle(const QString &series);

} // namespace render
