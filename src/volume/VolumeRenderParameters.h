#pragma once

#include "volume/ProjectionMode.h"
#include "volume/TransferFunctionPreset.h"
#include "volume/Volume.h"
#include "volume/VolumeCameraState.h"
#include "volume/VolumeCutOuts.h"

#include <QVector3D>

namespace render {

// Everything one frame of either renderer depends on besides the volume.
struct VolumeRenderParameters
{
    VolumeCameraState camera;
    ProjectionMode mode = ProjectionMode::Vrt;
    TransferFunctionPreset preset;
    // Densities outside this range are not shown (the density cut-out).
    double densityMin = -1e30;
    double densityMax = 1e30;
    bool shading = true;
    // While the user drags: at most 120 steps, no shading.
    bool interactive = false;
    // The endoscopy's camera: rays fan out from the position.
    bool perspective = false;
    QVector3D cameraPosMm;
    double fovDeg = 60.0;
    VolumeCutOuts cutOuts;
};

// The ray geometry every frame of a volume shares.
struct VolumeRayGeometry
{
    QVector3D extentMm;  // spacing × count per axis
    double halfDiagonalMm = 0.0;
    double halfExtentMm = 0.0;
    double rayStartMm = 0.0;
    double rayLengthMm = 0.0;
    int steps = 2;
};

// max(0.5 × the smallest spacing, 0.15) mm per step over 2.4 × R, rounded
// up and clamped to 220 … 800; at most 120 while interactive.
int volumeStepCount(double halfDiagonalMm, double smallestSpacingMm, bool interactive);

// The geometry of `volume` under `parameters`; non-finite or non-positive
// spacings count as 1 mm.
VolumeRayGeometry volumeRayGeometry(const Volume &volume, const VolumeRenderParameters &parameters);

// The spacing a renderer uses: finite and positive, else 1.
double usableSpacing(double spacing);

} // namespace render
