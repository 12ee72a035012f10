// Volume building and MPR reslicing.
//
//   bench_volume [slices=2000] [size=512] [jpegLsSlices=slices] [resliceDepth=800] [folder]
//
// 1. Build of an uncompressed CT series (buildVolume, default threads) beside
//    the floor: a plain loop that reads every file's bytes and converts its
//    stored values into a preallocated float block. Also the peak resident
//    memory the build adds, against the voxel bytes.
// 2. The same series JPEG-LS compressed: build with 1 thread and with 2.
// 3. Reslicing a size × size × resliceDepth volume (in memory): thin planes,
//    10 mm MIP slabs and a 400² rotated plane, each beside a plain copy of
//    the same number of voxels in memory order.
// Each figure is the median (with min … max) of at least 5 runs; the page
// cache is warmed first. The series are written under the temporary folder
// (the 2,000-slice one is about 1 GB) and removed at the end.

#include "BenchSeries.h"
#include "dicom/CodecRegistration.h"
#include "seriesgen/SeriesGenerator.h"
#include "volume/MprReslicer.h"
#include "volume/ParallelChunks.h"
#include "volume/VolumeBuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/resource.h>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace velmaris::bench;

namespace {

constexpr int runs = 5;

// The runs of one thing, with their median and spread.
using Figure = velmaris::bench::Runs;

Figure measure(int count, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i)
        ms.push_back(timeMs(work));
    return Figure{std::move(ms)};
}

void print(const char *what, const Figure &f, const Figure &reference)
{
    std::printf("  %-34s %9.2f ms (%.2f … %.2f)   reference %9.2f ms   ratio %.2f\n", what, f.median(), f.min(), f.max(),
                reference.median(), f.median() / reference.median());
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QList<render::VolumeSlice> slicesOf(const QStringList &paths)
{
    QList<render::VolumeSlice> slices;
    for (int i = 0; i < paths.size(); ++i) {
        render::VolumeSlice s;
        s.path = paths.at(i);
        s.position = i * 1.25;
        s.pixelSpacingX = s.pixelSpacingY = 0.7;
        s.sliceThickness = 1.25;
        slices << s;
    }
    return slices;
}

// The floor: every file's bytes read, its 16-bit stored values (the last
// size² × 2 bytes of a generated uncompressed file) rescaled into the block.
void floorLoop(const QStringList &paths, int size, std::vector<float> &block)
{
    const std::size_t plane = std::size_t(size) * std::size_t(size);
    for (int i = 0; i < paths.size(); ++i) {
        QFile file(paths.at(i));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        if (std::size_t(bytes.size()) < plane * 2)
            continue;
        const auto *stored = reinterpret_cast<const qint16 *>(bytes.constData() + bytes.size() - plane * 2);
        float *out = block.data() + plane * std::size_t(i);
        for (std::size_t v = 0; v < plane; ++v)
            out[v] = float(double(stored[v]) * 1.0 - 1024.0);
    }
}

QStringList jpegLsSeries(const QString &folder, int files, int size)
{
    QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("IMG*.dcm")}, QDir::Files, QDir::Name);
    QStringList paths;
    if (names.size() == files) {
        for (const QString &name : names)
            paths << dir.filePath(name);
        return paths;
    }
    velmaris::gen::SeriesSpec spec;
    spec.slices = files;
    spec.rows = spec.columns = size;
    spec.compression = velmaris::gen::Compression::JpegLs;
    std::fprintf(stderr, "generating %d JPEG-LS files of %dx%d in %s ...\n", files, size, size, qPrintable(folder));
    QString error;
    if (!velmaris::gen::writeSeries(spec, folder, &paths, &error))
        std::fprintf(stderr, "generation failed: %s\n", qPrintable(error));
    return paths;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int slices = args.size() > 1 ? args.at(1).toInt() : 2000;
    const int size = args.size() > 2 ? args.at(2).toInt() : 512;
    const int jpegLsSlices = args.size() > 3 ? args.at(3).toInt() : slices;
    const int resliceDepth = args.size() > 4 ? args.at(4).toInt() : 800;
    const QString folder = args.size() > 5 ? args.at(5)
                                           : QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                                                 + QStringLiteral("/velmaris-bench-volume");
    const dicom::CodecRegistration codecs;
    const double voxelMiB = double(size) * size * slices * 4 / (1 << 20);

    // 1. Uncompressed build against the floor.
    {
        const QStringList paths = ctSeries(folder + QStringLiteral("/raw"), slices, size);
        if (paths.isEmpty())
            return 1;
        readAllBytes(paths);
        const QList<render::VolumeSlice> list = slicesOf(paths);
        const long before = residentKiB();
        QString message;
        {
            const render::Volume first = render::buildVolume(list, message, 0);
            if (!first.isValid()) {
                std::fprintf(stderr, "build failed: %s\n", qPrintable(message));
                return 1;
            }
        }
        const double addedMiB = double(peakKiB() - before) / 1024.0;
        const Figure build = measure(runs, [&] { render::buildVolume(list, message, 0); });
        std::vector<float> block(std::size_t(size) * size * slices, 0.0f);
        const Figure floor = measure(runs, [&] { floorLoop(paths, size, block); });
        block = std::vector<float>();
        std::printf("Build of %d × %d × %d uncompressed (%.0f MiB of voxels), %d threads:\n", size, size, slices,
                    voxelMiB, render::defaultThreadCount());
        print("buildVolume vs read+convert floor", build, floor);
        std::printf("  peak resident memory added by the build: %.0f MiB = %.2f × the voxel bytes\n", addedMiB,
                    addedMiB / voxelMiB);
        QDir(folder + QStringLiteral("/raw")).removeRecursively();
    }

    // 2. JPEG-LS: one thread against two.
    {
        const QStringList paths = jpegLsSeries(folder + QStringLiteral("/jpegls"), jpegLsSlices, size);
        if (paths.isEmpty())
            return 1;
        readAllBytes(paths);
        const QList<render::VolumeSlice> list = slicesOf(paths);
        QString message;
        const Figure one = measure(runs, [&] { render::buildVolume(list, message, 0, {1, 0}); });
        const Figure two = measure(runs, [&] { render::buildVolume(list, message, 0, {2, 0}); });
        std::printf("Build of %d × %d × %d JPEG-LS lossless:\n", size, size, jpegLsSlices);
        print("2 threads vs 1 thread", two, one);
        std::printf("  speed-up %.2f ×\n", one.median() / two.median());
        QDir(folder + QStringLiteral("/jpegls")).removeRecursively();
    }
    QDir(folder).rmdir(folder);

    // 3. Reslicing a volume in memory.
    render::Volume volume;
    volume.width = volume.height = size;
    volume.depth = resliceDepth;
    volume.spacingX = volume.spacingY = 0.7;
    volume.spacingZ = 1.25;
    volume.voxels.resize(std::size_t(size) * size * resliceDepth);
    for (std::size_t i = 0; i < volume.voxels.size(); ++i)
        volume.voxels[i] = float(int(i * 2654435761u % 4000u) - 1000);
    volume.minValue = -1000;
    volume.maxValue = 2999;
    const double wc = 40;
    const double ww = 400;
    std::vector<float> copy(volume.voxels.size());
    // A plain copy of `voxels` values in memory order, from the middle of the block.
    // (in passes over the block when it holds fewer).
    auto reference = [&](std::size_t voxels) {
        return measure(11, [&] {
            for (std::size_t done = 0; done < voxels;) {
                const std::size_t n = std::min(voxels - done, volume.voxels.size());
                const std::size_t start = (volume.voxels.size() - n) / 2;
                std::memcpy(copy.data(), volume.voxels.data() + start, n * sizeof(float));
                done += n;
            }
        });
    };
    const std::size_t w = std::size_t(size);
    const std::size_t d = std::size_t(resliceDepth);
    const int zHalf = render::slabHalfCount(10.0, volume.spacingZ);
    const int xyHalf = render::slabHalfCount(10.0, volume.spacingX);
    std::printf("Reslicing %d × %d × %d (0.7 × 0.7 × 1.25 mm), %d threads:\n", size, size, resliceDepth,
                render::defaultThreadCount());
    const Figure axial = measure(11, [&] { render::renderAxial(volume, resliceDepth / 2, wc, ww, 0, 0); });
    const Figure coronal = measure(11, [&] { render::renderCoronal(volume, size / 2, wc, ww, 0, 0); });
    const Figure sagittal = measure(11, [&] { render::renderSagittal(volume, size / 2, wc, ww, 0, 0); });
    print("axial thin", axial, reference(w * w));
    print("coronal thin", coronal, reference(w * d));
    print("sagittal thin", sagittal, reference(w * d));
    const Figure three = measure(11, [&] {
        render::renderAxial(volume, resliceDepth / 2, wc, ww, 0, 0);
        render::renderCoronal(volume, size / 2, wc, ww, 0, 0);
        render::renderSagittal(volume, size / 2, wc, ww, 0, 0);
    });
    print("three thin planes together", three, reference(w * w + 2 * w * d));
    print("axial 10 mm MIP", measure(11, [&] { render::renderAxial(volume, resliceDepth / 2, wc, ww, zHalf, 1); }),
          reference(w * w * std::size_t(2 * zHalf + 1)));
    print("coronal 10 mm MIP", measure(11, [&] { render::renderCoronal(volume, size / 2, wc, ww, xyHalf, 1); }),
          reference(w * d * std::size_t(2 * xyHalf + 1)));
    print("sagittal 10 mm MIP", measure(11, [&] { render::renderSagittal(volume, size / 2, wc, ww, xyHalf, 1); }),
          reference(w * d * std::size_t(2 * xyHalf + 1)));
    const auto centre = render::volumeCentreMm(volume);
    const double mmPerPixel = render::obliqueMmPerPixel(volume, 400);
    const float c = 0.7071068f;
    const std::array<float, 3> u{c, c, 0.0f};
    const std::array<float, 3> v{0.0f, 0.0f, -1.0f};
    const int obliqueHalf = render::slabHalfCount(10.0, 0.7);
    print("oblique 400² thin",
          measure(11, [&] { render::renderOblique(volume, 400, centre, u, v, mmPerPixel, wc, ww, 0, 0); }),
          reference(400 * 400));
    print("oblique 400² 10 mm MIP",
          measure(11, [&] { render::renderOblique(volume, 400, centre, u, v, mmPerPixel, wc, ww, obliqueHalf, 1); }),
          reference(400 * 400 * std::size_t(2 * obliqueHalf + 1)));
    return 0;
}
