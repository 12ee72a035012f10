#include "volume/CurvedMpr.h"

#include "viewer/SlabMode.h"
#include "viewer/VoxelGrid.h"
#include "volume/MprReslicer.h"
#include "volume/ParallelChunks.h"
#include "volume/VolumeMm.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace render {

namespace {

double inPlaneSpacing(const Volume &volume)
{
    return std::min(volume.spacingX, volume.spacingY);
}

} // namespace

double curvedMprPixelMm(const Volume &volume)
{
    const double spacing = inPlaneSpacing(volume);
    return spacing > 0.1 ? spacing : 0.1;
}

int curvedMprRowCount(const Volume &volume, double widthMm)
{
    if (!(widthMm > 0.0) || !std::isfinite(widthMm))
        return 0;
    const double rows = std::floor(widthMm / curvedMprPixelMm(volume));
    return rows > double(curvedMprMaxPixels) ? int(curvedMprMaxPixels) : std::max(2, int(rows));
}

int curvedMprLayerCount(const Volume &volume, double thicknessMm, int slabMode)
{
    if (!(thicknessMm > 1e-6) || slabMode < 1 || slabMode > 3)
        return 1;
    const double spacing = std::max(inPlaneSpacing(volume), 0.2);
    const double layers = std::ceil(thicknessMm / spacing) + 1.0;
    return int(std::clamp(layers, 3.0, 64.0));
}

QString curvedMprRebuildFailedMessage()
{
    return QStringLiteral("Не удалось перестроить — проверьте, что точки не выходят за пределы серии.");
}

QString curvedMprRebuildFailedTitle()
{
    return QStringLiteral("Криволинейный MPR");
}

float CurvedMprImage::valueAt(int x, int y) const
{
    const int sample = layout == CprLayout::Horizontal ? x : y;
    const int row = layout == CprLayout::Horizontal ? y : x;
    if (sample < 0 || row < 0 || sample >= samples || row >= rows)
        return std::numeric_limits<float>::quiet_NaN();
    return values[std::size_t(sample) * std::size_t(rows) + std::size_t(row)];
}

CurvedMprImage buildCurvedMpr(const Volume &volume, const Centerline &line, const CurvedMprRequest &request)
{
    CurvedMprImage result;
    result.layout = request.layout;
    result.centerline = line;
    result.lengthMm = line.lengthMm;
    const int rows = curvedMprRowCount(volume, request.widthMm);
    const VoxelGrid grid = volumeMmGrid(volume);
    if (!volume.isValid() || !grid.isUsable() || line.isEmpty() || rows < 2) {
        result.message = curvedMprRebuildFailedMessage();
        return result;
    }
    const int samples = line.size();
    if (qint64(samples) * rows > curvedMprMaxPixels) {
        result.message = QStringLiteral("Изображение CPR слишком велико (%1 × %2 точек) — уменьшите ширину или "
                                        "увеличьте шаг.")
                             .arg(samples)
                             .arg(rows);
        return result;
    }
    const double pixel = curvedMprPixelMm(volume);
    const int layers = curvedMprLayerCount(volume, request.thicknessMm, request.slabMode);
    const SlabMode mode = layers > 1 ? SlabMode(request.slabMode) : SlabMode::Thin;
    const double layerStep = layers > 1 ? request.thicknessMm / (layers - 1) : 0.0;
    const double nan = std::numeric_limits<double>::quiet_NaN();

    result.samples = samples;
    result.rows = rows;
    result.stepMm = line.stepMm;
    result.pixelMm = pixel;
    result.values.assign(std::size_t(samples) * std::size_t(rows), std::numeric_limits<float>::quiet_NaN());
    const bool horizontal = request.layout == CprLayout::Horizontal;
    QImage image(horizontal ? samples : rows, horizontal ? rows : samples, QImage::Format_Grayscale8);
    uchar *bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    // A width of 0 would divide by zero: the narrowest window is a step.
    const double windowWidth = std::max(request.windowWidth, 1e-6);
    const double windowCenter = std::isfinite(request.windowCenter) ? request.windowCenter : 0.0;
    std::atomic<bool> anyInside{false};

    runInChunks(samples, defaultThreadCount(), [&](int begin, int end) {
        bool inside = false;
        for (int s = begin; s < end; ++s) {
            const Vec3d &centre = line.positions[std::size_t(s)];
            const Vec3d &normal = line.normals[std::size_t(s)];
            const Vec3d &binormal = line.binormals[std::size_t(s)];
            float *out = result.values.data() + std::size_t(s) * std::size_t(rows);
            for (int r = 0; r < rows; ++r) {
                const Vec3d point = centre + normal * ((r + 0.5 - rows * 0.5) * pixel);
                double value = nan;
                if (mode == SlabMode::Thin) {
                    value = grid.sampleAt(point);
                } else {
                    double acc = mode == SlabMode::Mip   ? std::numeric_limits<double>::lowest()
                                 : mode == SlabMode::MinIp ? std::numeric_limits<double>::max()
                                                           : 0.0;
                    int counted = 0;
                    for (int k = 0; k < layers; ++k) {
                        const double v = grid.sampleAt(point + binormal * ((k - (layers - 1) * 0.5) * layerStep));
                        if (std::isnan(v))
                            continue;
                        ++counted;
                        acc = mode == SlabMode::Mip ? std::max(acc, v) : mode == SlabMode::MinIp ? std::min(acc, v)
                                                                                                : acc + v;
                    }
                    if (counted > 0)
                        value = mode == SlabMode::Mean ? acc / counted : acc;
                }
                out[r] = float(value);
                inside = inside || !std::isnan(value);
                // Outside the volume stays black, as on rotated planes.
                const uchar byte = std::isnan(value) ? 0 : windowedByte(value, windowCenter, windowWidth);
                if (horizontal)
                    bits[qsizetype(r) * bytesPerLine + s] = byte;
                else
                    bits[qsizetype(s) * bytesPerLine + r] = byte;
            }
        }
        if (inside)
            anyInside = true;
    });
    if (!anyInside) {
        result.values.clear();
        result.message = curvedMprRebuildFailedMessage();
        return result;
    }
    result.image = image;
    return result;
}

CurvedMprImage buildCurvedMpr(const Volume &volume, const CprParameters &parameters, double stepMm)
{
    const std::vector<Vec3d> points = offsetControlPoints(parameters.controlPoints, parameters.offsetMm);
    bool tooLong = false;
    const Centerline line = buildCenterline(points, parameters.smoothing, stepMm, parameters.rotationDeg, &tooLong);
    CurvedMprRequest request;
    request.widthMm = parameters.widthMm;
    request.thicknessMm = parameters.thicknessMm;
    request.slabMode = parameters.slabMode;
    request.windowCenter = parameters.windowCenter;
    request.windowWidth = parameters.windowWidth;
    request.layout = resolveCprLayout(parameters.orientationChoice, points);
    CurvedMprImage result = buildCurvedMpr(volume, line, request);
    if (tooLong)
        result.message = QStringLiteral("Кривая слишком длинная для шага %1 мм — увеличьте шаг.").arg(stepMm);
    return result;
}

} // namespace render
