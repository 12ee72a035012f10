#pragma once

#include "volume/Volume.h"

#include <QImage>

#include <array>

// Cutting windowed 8-bit (Grayscale8) pictures out of a volume: the three
// orthogonal planes at a slice index and freely rotated planes through a
// centre, each thin or as a slab folded by maximum, minimum or mean (slab
// modes 0 … 3 as render::SlabMode). Output rows are split over threads that
// never outlive the call.
namespace render {

// lround(thickness × 0.5 / spacing), at least 0; 0 when either is not positive.
int slabHalfCount(double thicknessMm, double spacingMm);

// A value windowed to a byte: (v − (centre − width / 2)) × 255 / width
// clamped to 0 … 255 and truncated; a width that is not positive scales by 1.
uchar windowedByte(double value, double centre, double width);

// Axial: width × height, pixel (c, r) shows voxel (c, r, s).
QImage renderAxial(const Volume &volume, int sliceIndex, double windowCentre, double windowWidth, int slabHalfCount,
                   int slabMode);
// Coronal: width × depth, pixel (c, r) shows voxel (c, s, depth − 1 − r).
QImage renderCoronal(const Volume &volume, int sliceIndex, double windowCentre, double windowWidth,
                     int slabHalfCount, int slabMode);
// Sagittal: height × depth, pixel (c, r) shows voxel (s, c, depth − 1 − r).
QImage renderSagittal(const Volume &volume, int sliceIndex, double windowCentre, double windowWidth,
                      int slabHalfCount, int slabMode);

// An N × N plane through `centre` (volume mm) spanned by the unit vectors U
// (image x) and V (image y, downwards), nearest-neighbour sampled; outside
// the volume it is black.
QImage renderOblique(const Volume &volume, int size, const std::array<float, 3> &centre,
                     const std::array<float, 3> &u, const std::array<float, 3> &v, double mmPerPixel,
                     double windowCentre, double windowWidth, int slabHalfCount, int slabMode);

// The defaults of a rotated plane: the volume's centre in volume mm, and the
// scale at which an image of `size` pixels spans the volume's longest extent.
std::array<float, 3> volumeCentreMm(const Volume &volume);
double obliqueMmPerPixel(const Volume &volume, int size);

} // namespace render
