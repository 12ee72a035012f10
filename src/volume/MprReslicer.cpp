#include "volume/MprReslicer.h"

#include "viewer/SlabMode.h"
#include "volume/ParallelChunks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace render {

namespace {

// Where the pixels of an orthogonal plane read their voxels: pixel (c, r) of
// slab sample k is voxels[rowBase(r) + c·columnStride + k·sliceStride].
struct PlaneLayout
{
    int width = 0;
    int height = 0;
    int sliceCount = 0;
    long long columnStride = 0;
    long long sliceStride = 0;
    long long rowStart = 0;  // rowBase(0)
    long long rowStride = 0; // rowBase(r + 1) − rowBase(r)
    double columnSpacing = 0.0;
    double rowSpacing = 0.0;
};

enum class Plane { Axial, Coronal, Sagittal };

PlaneLayout layoutOf(const Volume &v, Plane plane)
{
    const long long w = v.width;
    const long long slab = w * v.height;
    switch (plane) {
    case Plane::Axial:
        return {v.width, v.height, v.depth, 1, slab, 0, w, v.spacingX, v.spacingY};
    case Plane::Coronal:
        return {v.width, v.depth, v.height, 1, w, (v.depth - 1) * slab, -slab, v.spacingX, v.spacingZ};
    case Plane::Sagittal:
        break;
    }
    return {v.height, v.depth, v.width, w, 1, (v.depth - 1) * slab, -slab, v.spacingY, v.spacingZ};
}

struct Window
{
    double low = 0.0;
    double scale = 1.0;

    Window(double centre, double width) : low(centre - width * 0.5), scale(width > 0.0 ? 255.0 / width : 1.0) {}

    uchar byte(double value) const
    {
        const double t = (value - low) * scale;
        if (!(t > 0.0))
            return 0;
        return t >= 255.0 ? 255 : uchar(t);
    }
};

double foldStart(SlabMode mode)
{
    if (mode == SlabMode::Mip)
        return std::numeric_limits<double>::lowest();
    if (mode == SlabMode::MinIp)
        return std::numeric_limits<double>::max();
    return 0.0;
}

double fold(SlabMode mode, double acc, double value)
{
    if (mode == SlabMode::Mip)
        return std::max(acc, value);
    if (mode == SlabMode::MinIp)
        return std::min(acc, value);
    return acc + value;
}

SlabMode slabModeOf(int mode)
{
    return mode >= 1 && mode <= 3 ? SlabMode(mode) : SlabMode::Thin;
}

// Stretches an image whose two pixel spacings differ, so that one pixel
// covers the smaller spacing in both directions.
QImage aspectCorrected(const QImage &image, double a, double b)
{
    if (!(a > 0.0 && b > 0.0) || std::fabs(a - b) <= 0.01)
        return image;
    const double unit = std::min(a, b);
    const int width = std::max(1, int(std::lround(image.width() * a / unit)));
    const int height = std::max(1, int(std::lround(image.height() * b / unit)));
    return image.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage renderPlane(const Volume &volume, Plane plane, int sliceIndex, double centre, double width, int halfCount,
                   int slabMode)
{
    if (!volume.isValid())
        return QImage();
    const PlaneLayout layout = layoutOf(volume, plane);
    const int s = std::clamp(sliceIndex, 0, layout.sliceCount - 1);
    const SlabMode mode = slabModeOf(slabMode);
    const bool slab = halfCount >= 1 && mode != SlabMode::Thin;
    const int first = slab ? std::max(s - halfCount, 0) : s;
    const int last = slab ? std::min(s + halfCount, layout.sliceCount - 1) : s;
    const double samples = double(last - first + 1);

    QImage image(layout.width, layout.height, QImage::Format_Grayscale8);
    uchar *bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    const float *voxels = volume.voxels.data();
    const Window window(centre, width);
    runInChunks(layout.height, defaultThreadCount(), [&](int begin, int end) {
        std::vector<double> acc(slab ? std::size_t(layout.width) : 0);
        for (int r = begin; r < end; ++r) {
            uchar *out = bits + qsizetype(r) * bytesPerLine;
            const long long rowBase = layout.rowStart + r * layout.rowStride;
            if (!slab) {
                const float *in = voxels + rowBase + s * layout.sliceStride;
                for (int c = 0; c < layout.width; ++c)
                    out[c] = window.byte(in[c * layout.columnStride]);
                continue;
            }
            std::fill(acc.begin(), acc.end(), foldStart(mode));
            for (int k = first; k <= last; ++k) {
                const float *in = voxels + rowBase + k * layout.sliceStride;
                for (int c = 0; c < layout.width; ++c)
                    acc[std::size_t(c)] = fold(mode, acc[std::size_t(c)], in[c * layout.columnStride]);
            }
            for (int c = 0; c < layout.width; ++c) {
                const double value = mode == SlabMode::Mean ? acc[std::size_t(c)] / samples : acc[std::size_t(c)];
                out[c] = window.byte(float(value));
            }
        }
    });
    return aspectCorrected(image, layout.columnSpacing, layout.rowSpacing);
}

} // namespace

int slabHalfCount(double thicknessMm, double spacingMm)
{
    if (!(thicknessMm > 0.0) || !(spacingMm > 0.0))
        return 0;
    return std::max(0, int(std::lround(thicknessMm * 0.5 / spacingMm)));
}

uchar windowedByte(double value, double centre, double width)
{
    return Window(centre, width).byte(value);
}

QImage renderAxial(const Volume &volume, int sliceIndex, double windowCentre, double windowWidth, int halfCount,
                   int slabMode)
{
    return renderPlane(volume, Plane::Axial, sliceIndex, windowCentre, windowWidth, halfCount, slabMode);
}

QImage renderCoronal(const Volume &volume, int sliceIndex, double windowCentre, double windowWidth, int halfCount,
                     int slabMode)
{
    return renderPlane(volume, Plane::Coronal, sliceIndex, windowCentre, windowWidth, halfCount, slabMode);
}

QImage renderSagittal(const Volume &volume, int sliceIndex, double windowCentre, double windowWidth, int halfCount,
                      int slabMode)
{
    return renderPlane(volume, Plane::Sagittal, sliceIndex, windowCentre, windowWidth, halfCount, slabMode);
}

QImage renderOblique(const Volume &volume, int size, const std::array<float, 3> &centre,
                     const std::array<float, 3> &u, const std::array<float, 3> &v, double mmPerPixel,
                     double windowCentre, double windowWidth, int halfCount, int slabMode)
{
    const int n = std::max(size, 1);
    QImage image(n, n, QImage::Format_Grayscale8);
    if (!volume.isValid()) {
        image.fill(0);
        return image;
    }
    std::array<float, 3> normal{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    const float length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (length > 0.0f)
        for (float &c : normal)
            c /= length;
    const float half = float(n) * 0.5f;
    double step = std::min({volume.spacingX, volume.spacingY, volume.spacingZ});
    if (!(step > 0.1))
        step = 0.1;
    const float scale = float(mmPerPixel);
    const SlabMode mode = slabModeOf(slabMode);
    const bool slab = halfCount > 0 && mode != SlabMode::Thin;
    const Window window(windowCentre, windowWidth);
    const double spacing[3] = {volume.spacingX, volume.spacingY, volume.spacingZ};
    const long long count[3] = {volume.width, volume.height, volume.depth};
    const float *voxels = volume.voxels.data();

    // The voxel nearest to a point in volume mm, or -1 outside the volume.
    auto nearest = [&](float x, float y, float z) -> long long {
        const float p[3] = {x, y, z};
        long long index[3];
        for (int a = 0; a < 3; ++a) {
            index[a] = std::lround(double(p[a]) / spacing[a]);
            if (index[a] < 0 || index[a] >= count[a])
                return -1;
        }
        return (index[2] * count[1] + index[1]) * count[0] + index[0];
    };

    uchar *bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    runInChunks(n, defaultThreadCount(), [&](int begin, int end) {
        for (int j = begin; j < end; ++j) {
            uchar *out = bits + qsizetype(j) * bytesPerLine;
            const float dv = (float(j) + 0.5f - half) * scale;
            for (int i = 0; i < n; ++i) {
                const float du = (float(i) + 0.5f - half) * scale;
                const float px = centre[0] + du * u[0] + dv * v[0];
                const float py = centre[1] + du * u[1] + dv * v[1];
                const float pz = centre[2] + du * u[2] + dv * v[2];
                if (!slab) {
                    const long long at = nearest(px, py, pz);
                    out[i] = at < 0 ? 0 : window.byte(voxels[at]);
                    continue;
                }
                double acc = foldStart(mode);
                int taken = 0;
                for (int k = -halfCount; k <= halfCount; ++k) {
                    const float d = float(double(k) * step);
                    const long long at = k == 0 ? nearest(px, py, pz)
                                                : nearest(px + d * normal[0], py + d * normal[1], pz + d * normal[2]);
                    if (at < 0)
                        continue;
                    acc = fold(mode, acc, voxels[at]);
                    ++taken;
                }
                if (taken == 0) {
                    out[i] = 0;
                    continue;
                }
                const double value = mode == SlabMode::Mean ? acc / taken : acc;
                out[i] = window.byte(value);
            }
        }
    });
    return image;
}

std::array<float, 3> volumeCentreMm(const Volume &volume)
{
    return {float(volume.spacingX * volume.width * 0.5), float(volume.spacingY * volume.height * 0.5),
            float(volume.spacingZ * volume.depth * 0.5)};
}

double obliqueMmPerPixel(const Volume &volume, int size)
{
    const double extent = std::max({volume.spacingX * volume.width, volume.spacingY * volume.height,
                                    volume.spacingZ * volume.depth});
    return extent > 0.0 && size > 0 ? extent / size : 1.0;
}

} // namespace render
