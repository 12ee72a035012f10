#include "volume/VolumeBuilder.h"

#include "dicom/FrameValueReader.h"
#include "volume/AvailableMemory.h"
#include "volume/AxisCodes.h"
#include "volume/ParallelChunks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>

namespace render {

namespace {

// Neighbouring gaps at or below this are duplicates, not spacing.
constexpr double minimumGap = 0.001;
// Gaps further than this fraction from their mean make the spacing uneven.
constexpr double unevenGapTolerance = 0.10;

struct Extremes
{
    double minimum = std::numeric_limits<double>::max();
    double maximum = std::numeric_limits<double>::lowest();
};

QList<VolumeSlice> sortedByPosition(const QList<VolumeSlice> &slices)
{
    QList<VolumeSlice> sorted = slices;
    if (sorted.size() < 2)
        return sorted;
    const double first = sorted.first().position;
    const bool spread = std::any_of(sorted.cbegin(), sorted.cend(), [first](const VolumeSlice &s) {
        return std::fabs(s.position - first) > 0.01;
    });
    if (spread)
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const VolumeSlice &a, const VolumeSlice &b) { return a.position < b.position; });
    return sorted;
}

// Writes one decoded frame as plane z of the source stack, straight into its
// place in the (possibly permuted) block.
void placeFrame(const dicom::DecodedFrame &frame, int z, const VoxelPlacement &placement, float *voxels,
                Extremes &extremes)
{
    const double *values = frame.values.data();
    double minimum = extremes.minimum;
    double maximum = extremes.maximum;
    const long long planeBase = placement.offset + z * placement.stride[2];
    for (int y = 0; y < frame.height; ++y) {
        const double *row = values + std::size_t(y) * std::size_t(frame.width);
        float *out = voxels + planeBase + y * placement.stride[1];
        const long long step = placement.stride[0];
        for (int x = 0; x < frame.width; ++x) {
            const float value = float(row[x]);
            out[x * step] = value;
            minimum = std::min(minimum, double(value));
            maximum = std::max(maximum, double(value));
        }
    }
    extremes.minimum = minimum;
    extremes.maximum = maximum;
}

QString megabytes(quint64 bytes)
{
    return QString::number((bytes + (1ULL << 20) - 1) >> 20);
}

// Mean of the neighbouring gaps above minimumGap; sets `uneven` when one of
// them strays from the mean by more than the tolerance.
std::optional<double> meanGap(const QList<VolumeSlice> &sorted, bool &uneven, double &smallest, double &largest)
{
    QList<double> gaps;
    for (qsizetype i = 1; i < sorted.size(); ++i) {
        const double gap = std::fabs(sorted.at(i).position - sorted.at(i - 1).position);
        if (gap > minimumGap)
            gaps.append(gap);
    }
    if (gaps.isEmpty())
        return std::nullopt;
    double sum = 0.0;
    for (double gap : gaps)
        sum += gap;
    const double mean = sum / double(gaps.size());
    smallest = *std::min_element(gaps.cbegin(), gaps.cend());
    largest = *std::max_element(gaps.cbegin(), gaps.cend());
    uneven = std::fabs(smallest - mean) > unevenGapTolerance * mean
             || std::fabs(largest - mean) > unevenGapTolerance * mean;
    return mean;
}

// The loader behind buildVolume and loadSlices: `sorted` in position order,
// placed by `codes` as each frame arrives, so no second block is needed.
Volume loadPlaced(const QList<VolumeSlice> &sorted, const AxisCodes &codes, QString &message,
                  const VolumeBuildOptions &options)
{
    Volume volume;
    if (sorted.isEmpty()) {
        message = QStringLiteral("Пустая серия — нечего реконструировать");
        return volume;
    }
    const int depth = int(sorted.size());

    // The first slice that decodes fixes the frame size and the in-plane spacing.
    dicom::FrameValueReader firstReader;
    dicom::DecodedFrame frame;
    QString firstError;
    int firstLoaded = -1;
    for (int i = 0; i < depth; ++i) {
        QString error;
        const VolumeSlice &slice = sorted.at(i);
        if (firstReader.read(frame, slice.path, slice.frameIndex, &error) && frame.ok) {
            firstLoaded = i;
            break;
        }
        if (firstError.isEmpty())
            firstError = error;
    }
    if (firstLoaded < 0) {
        message = firstError.isEmpty()
                      ? QStringLiteral("Не удалось прочитать ни одного среза (причина не определена).")
                      : QStringLiteral("Не удалось прочитать ни одного среза. Причина (первый срез): %1").arg(firstError);
        return volume;
    }

    const int width = frame.width;
    const int height = frame.height;
    const VoxelPlacement placement = voxelPlacement({width, height, depth}, codes);
    const quint64 count = quint64(width) * quint64(height) * quint64(depth);
    const quint64 bytes = count * sizeof(float);
    const quint64 limit = options.memoryLimitBytes > 0 ? options.memoryLimitBytes : availableMemoryBytes();
    const QString refusal = QStringLiteral("Недостаточно памяти для объёма %1×%2×%3 (%4 МБ, доступно %5 МБ)")
                                .arg(placement.size[0])
                                .arg(placement.size[1])
                                .arg(placement.size[2])
                                .arg(megabytes(bytes));
    if (limit > 0 && bytes > limit) {
        message = refusal.arg(limit >> 20);
        return volume;
    }
    try {
        volume.voxels.assign(std::size_t(count), 0.0f);
    } catch (const std::bad_alloc &) {
        message = refusal.arg(availableMemoryBytes() >> 20);
        return volume;
    }
    const VolumeSlice &first = sorted.at(firstLoaded);
    const std::array<double, 3> sourceSpacing{first.pixelSpacingX > 0.0 ? first.pixelSpacingX : 1.0,
                                              first.pixelSpacingY > 0.0 ? first.pixelSpacingY : 1.0, 1.0};

    Extremes extremes;
    placeFrame(frame, firstLoaded, placement, volume.voxels.data(), extremes);

    // Every other slice, including those that failed above: they get a second try.
    int skipped = 0;
    std::mutex merge;
    float *voxels = volume.voxels.data();
    const int threads = std::min(options.threads > 0 ? options.threads : defaultThreadCount(), 16);
    runInChunks(depth, threads, [&](int begin, int end) {
        dicom::FrameValueReader reader;
        dicom::DecodedFrame values;
        Extremes local;
        int localSkipped = 0;
        for (int i = begin; i < end; ++i) {
            if (i == firstLoaded)
                continue;
            const VolumeSlice &slice = sorted.at(i);
            if (reader.read(values, slice.path, slice.frameIndex) && values.ok && values.width == width
                && values.height == height)
                placeFrame(values, i, placement, voxels, local);
            else
                ++localSkipped;
        }
        std::lock_guard lock(merge);
        extremes.minimum = std::min(extremes.minimum, local.minimum);
        extremes.maximum = std::max(extremes.maximum, local.maximum);
        skipped += localSkipped;
    });

    bool uneven = false;
    double smallest = 0.0;
    double largest = 0.0;
    const std::optional<double> gap = depth >= 2 ? meanGap(sorted, uneven, smallest, largest) : std::nullopt;
    const double thickness = sorted.first().sliceThickness;
    const double spacingZ = gap ? *gap : (thickness > 0.0 ? thickness : 1.0);
    const std::array<double, 3> spacing{sourceSpacing[0], sourceSpacing[1], spacingZ};

    volume.width = placement.size[0];
    volume.height = placement.size[1];
    volume.depth = placement.size[2];
    std::array<double, 3> placedSpacing{};
    for (int i = 0; i < 3; ++i)
        placedSpacing[codes.axis[i]] = spacing[i];
    volume.spacingX = placedSpacing[0];
    volume.spacingY = placedSpacing[1];
    volume.spacingZ = placedSpacing[2];
    volume.minValue = extremes.minimum;
    volume.maxValue = extremes.maximum;

    QStringList notes;
    if (skipped > 0)
        notes << QStringLiteral("Пропущено срезов при построении объёма: %1 из %2").arg(skipped).arg(depth);
    if (uneven)
        notes << QStringLiteral("Неравномерный шаг между срезами: от %1 до %2 мм при среднем %3 мм — "
                                "расстояния вдоль оси срезов могут быть измерены неточно")
                     .arg(smallest, 0, 'f', 2)
                     .arg(largest, 0, 'f', 2)
                     .arg(spacingZ, 0, 'f', 2);
    if (!notes.isEmpty())
        message = notes.join(QLatin1Char('\n'));
    return volume;
}

using Vec3 = std::array<float, 3>;

Vec3 toFloat(const std::array<double, 3> &v)
{
    return {float(v[0]), float(v[1]), float(v[2])};
}

// Patient placement of the loaded (unturned) stack, when every slice has
// orientation and position and the slices do not all coincide.
struct StackGeometry
{
    Vec3 origin{};
    std::array<Vec3, 3> step{};
};

std::optional<StackGeometry> stackGeometry(const QList<VolumeSlice> &sorted, const Volume &loaded,
                                           const std::array<double, 3> &sourceSpacing)
{
    if (!loaded.isValid() || sorted.isEmpty())
        return std::nullopt;
    for (const VolumeSlice &slice : sorted)
        if (!slice.hasOrientation || !slice.hasPosition)
            return std::nullopt;
    const VolumeSlice &first = sorted.first();
    const Vec3 row = toFloat(first.rowDirection);
    const Vec3 column = toFloat(first.columnDirection);
    const Vec3 normal{row[1] * column[2] - row[2] * column[1], row[2] * column[0] - row[0] * column[2],
                      row[0] * column[1] - row[1] * column[0]};
    StackGeometry geometry;
    for (int i = 0; i < 3; ++i) {
        geometry.step[0][i] = row[i] * float(sourceSpacing[0]);
        geometry.step[1][i] = column[i] * float(sourceSpacing[1]);
    }
    if (sorted.size() == 1) {
        const float thickness = first.sliceThickness > 0.0 ? float(first.sliceThickness) : 1.0f;
        for (int i = 0; i < 3; ++i)
            geometry.step[2][i] = normal[i] * thickness;
    } else {
        const VolumeSlice &last = sorted.last();
        for (int i = 0; i < 3; ++i)
            geometry.step[2][i] = float((last.imagePosition[i] - first.imagePosition[i]) / double(sorted.size() - 1));
    }
    geometry.origin = toFloat(first.imagePosition);
    const Vec3 &z = geometry.step[2];
    if (z[0] * z[0] + z[1] * z[1] + z[2] * z[2] <= 1e-8f)
        return std::nullopt;
    return geometry;
}

} // namespace

int planeHintFromText(const QString &text)
{
    const QString lower = text.toLower();
    if (lower.contains(QLatin1String("sag")))
        return 1;
    if (lower.contains(QLatin1String("cor")))
        return 2;
    return 0;
}

Volume loadSlices(const QList<VolumeSlice> &slices, QString &message, const VolumeBuildOptions &options)
{
    return loadPlaced(sortedByPosition(slices), AxisCodes{}, message, options);
}

Volume buildVolume(const QList<VolumeSlice> &slices, QString &message, int planeHint,
                   const VolumeBuildOptions &options)
{
    const QList<VolumeSlice> sorted = sortedByPosition(slices);
    // The turn is known before any frame is read, so each frame is written
    // straight into its final place: the same voxels as turning a loaded
    // stack afterwards, without a second block of the volume's size.
    const auto oriented = std::find_if(slices.cbegin(), slices.cend(),
                                       [](const VolumeSlice &s) { return s.hasOrientation; });
    AxisCodes codes;
    if (oriented == slices.cend())
        codes = planeHintAxes(planeHint);
    else if (const auto axes = orientationAxes(oriented->rowDirection, oriented->columnDirection))
        codes = *axes;

    Volume volume = loadPlaced(sorted, codes, message, options);
    if (!volume.isValid() || oriented == slices.cend())
        return volume;

    // The geometry of the stack as loaded, then turned with it.
    const std::array<int, 3> sourceSize{volume.width, volume.height, volume.depth};
    const std::array<double, 3> placedSpacing{volume.spacingX, volume.spacingY, volume.spacingZ};
    std::array<int, 3> size{};
    std::array<double, 3> sourceSpacing{};
    for (int i = 0; i < 3; ++i) {
        size[i] = sourceSize[codes.axis[i]];
        sourceSpacing[i] = placedSpacing[codes.axis[i]];
    }
    const std::optional<StackGeometry> geometry = stackGeometry(sorted, volume, sourceSpacing);
    if (!geometry)
        return volume;
    Vec3 origin = geometry->origin;
    std::array<Vec3, 3> steps{};
    for (int i = 0; i < 3; ++i) {
        const float sign = codes.negative[i] ? -1.0f : 1.0f;
        if (codes.negative[i])
            for (int c = 0; c < 3; ++c)
                origin[c] += float(size[i] - 1) * geometry->step[i][c];
        for (int c = 0; c < 3; ++c)
            steps[codes.axis[i]][c] = sign * geometry->step[i][c];
    }
    volume.origin = origin;
    volume.stepX = steps[0];
    volume.stepY = steps[1];
    volume.stepZ = steps[2];
    volume.hasPatientGeometry = true;
    return volume;
}

} // namespace render
