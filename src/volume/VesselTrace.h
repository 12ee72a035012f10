#pragma once

#include "volume/Centerline.h"
#include "volume/VesselAnalysis.h"
#include "volume/Volume.h"

#include <QString>

#include <atomic>
#include <vector>

// Automatic tracing of a contrast-filled vessel between two points: the
// cheapest voxel path through the lumen (A* over 26-neighbours, voxels below
// the lumen threshold closed, brighter voxels cheaper; only lumen voxels are
// visited, so the whole volume is searched), then resampled and
// pulled to the lumen centre section by section.
namespace render {

struct VesselTraceOptions
{
    LumenOptions lumen;             // threshold and section rays
    double seedSearchRadiusMm = 3.0; // a click beside the lumen snaps into it
    qint64 maxVisited = 4'000'000;  // lumen voxels settled before giving up
    double stepMm = 1.0;            // between the returned points
    int refinePasses = 3;
    double controlPointSpacingMm = 10.0;
};

struct VesselTrace
{
    std::vector<Vec3d> points;        // the centre line, stepMm apart, volume mm
    std::vector<Vec3d> controlPoints; // every controlPointSpacingMm, ends kept
    double lengthMm = 0.0;
};

// False with a message when a point lies outside the volume, no lumen lies
// within reach of a point, the lumen does not connect the two points, or the
// search settles more than maxVisited voxels; `cancel` stops it
// (false, empty message).
bool traceVessel(const Volume &volume, const Vec3d &from, const Vec3d &to, const VesselTraceOptions &options,
                 VesselTrace &trace, QString &message, const std::atomic<bool> *cancel = nullptr);

} // namespace render
