#pragma once

#include "volume/Centerline.h"
#include "volume/CprState.h"
#include "volume/Volume.h"

#include <QImage>
#include <QString>

#include <vector>

// The curved planar reconstruction: the volume sampled across a centre line
// (trilinear, in volume millimetres) into a windowed Grayscale8 picture,
// thin or as a thick slab folded by maximum, minimum or mean.
//
// Geometry: column (horizontal layout) or row (vertical layout) i shows
// centre-line sample i. The other image axis runs along the frame's normal:
// pixel j lies at (j + 0.5 − rows / 2) × pixelMm from the line, so the rows
// are centred on it. Slab layers run along the binormal, evenly over the
// thickness and centred on the image plane.
namespace render {

// The most pixels a CPR image may have; a larger request is refused rather
// than allocated.
inline constexpr qint64 curvedMprMaxPixels = 16 * 1024 * 1024;

// max(min(spacing x, spacing y), 0.1) mm: the size of a pixel across the line.
double curvedMprPixelMm(const Volume &volume);
// max(2, ⌊width / pixel⌋); 0 for a width that is not positive and finite.
int curvedMprRowCount(const Volume &volume, double widthMm);
// ceil(thickness / max(min(spacing x, spacing y), 0.2)) + 1 clamped to
// 3 … 64 when the thickness exceeds 1e-6 and the mode is not thin; else 1.
int curvedMprLayerCount(const Volume &volume, double thicknessMm, int slabMode);

// "Не удалось перестроить — проверьте, что точки не выходят за пределы серии."
QString curvedMprRebuildFailedMessage();
// "Криволинейный MPR": the title of the box that shows it.
QString curvedMprRebuildFailedTitle();

struct CurvedMprImage
{
    QImage image; // null when the build failed
    CprLayout layout = CprLayout::Horizontal;
    int samples = 0;        // centre-line samples
    int rows = 0;           // pixels across the line
    double stepMm = 0.0;    // between samples
    double pixelMm = 0.0;   // across the line
    double lengthMm = 0.0;  // of the centre line
    // The folded values before windowing, sample-major ([sample × rows +
    // row]); NaN where no layer met the volume. For HU readings on the image.
    std::vector<float> values;
    Centerline centerline;  // the line the image was built along
    QString message;        // why the image is null

    bool isNull() const { return image.isNull(); }
    // The value under image pixel (x, y) in the layout, NaN outside.
    float valueAt(int x, int y) const;
};

struct CurvedMprRequest
{
    double widthMm = 40.0;
    double thicknessMm = 0.0;
    int slabMode = 0;
    double windowCenter = 200.0;
    double windowWidth = 700.0;
    CprLayout layout = CprLayout::Horizontal;
};

// Samples the volume along an already built centre line. The image is null
// (with a message) for an invalid volume, an empty line, a width that is not
// positive, an image above curvedMprMaxPixels, or a line of which no sample
// lies inside the volume.
CurvedMprImage buildCurvedMpr(const Volume &volume, const Centerline &centerline, const CurvedMprRequest &request);

// The whole rebuild from the window's state: axis offset, centre line with
// the smoothing as tension and the rotation, layout by the orientation choice,
// and the image at `stepMm` between samples.
CurvedMprImage buildCurvedMpr(const Volume &volume, const CprParameters &parameters, double stepMm);

} // namespace render
