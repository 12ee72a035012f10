// Curved reconstruction and vessel tracing on a CT angiography phantom.
//
//   bench_cpr [size=512] [depth=400]
//
// The phantom (a contrast-filled tube, 0.4 mm voxels) is made in memory by
// the series generator. Timed, each the median (min … max) of 7 runs:
// 1. Rebuilding a 200 mm CPR at 0.5 mm steps, 40 mm wide, after one control
//    point moved (centre line and image), thin and with a 5 mm MIP slab;
//    beside a rotated plane of the same pixel count (and, for the slab, the
//    same sample count per pixel) from the MPR reslicer.
// 2. Tracing 150 mm of the vessel between two points; beside one plain read
//    of every voxel in the bounding box of the traced line.

#include "BenchSeries.h"
#include "seriesgen/SeriesGenerator.h"
#include "volume/CurvedMpr.h"
#include "volume/MprReslicer.h"
#include "volume/ParallelChunks.h"
#include "volume/VesselTrace.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

using namespace velmaris::bench;
using render::operator+;
using render::operator-;

namespace {

constexpr int runs = 7;

// The runs of one thing, with their median and spread.
using Figure = velmaris::bench::Runs;

Figure measure(const std::function<void(int)> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i)
        ms.push_back(timeMs([&] { work(i); }));
    return Figure{std::move(ms)};
}

void print(const char *what, const Figure &f, const char *referenceName, const Figure &reference)
{
    std::printf("  %-28s %8.2f ms (%.2f … %.2f)   %-30s %8.2f ms   ratio %.2f\n", what, f.median(), f.min(), f.max(),
                referenceName, reference.median(), f.median() / reference.median());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int size = argc > 1 ? std::max(64, std::atoi(argv[1])) : 512;
    const int depth = argc > 2 ? std::max(64, std::atoi(argv[2])) : 400;

    velmaris::gen::SeriesSpec spec;
    spec.anatomy = velmaris::gen::Anatomy::Vessel;
    spec.rows = spec.columns = size;
    spec.slices = depth;
    spec.pixelSpacingRow = spec.pixelSpacingColumn = spec.sliceSpacing = 0.4;
    spec.vessel.radiusMm = 3.0;
    spec.vessel.stenosisArcMm = 80.0;

    render::Volume volume;
    volume.width = volume.height = size;
    volume.depth = depth;
    volume.spacingX = volume.spacingY = volume.spacingZ = 0.4;
    volume.voxels.resize(std::size_t(size) * size * depth);
    const double made = timeMs([&] {
        for (int s = 0; s < depth; ++s) {
            const std::vector<int> stored = velmaris::gen::slicePixelValues(spec, s);
            for (std::size_t i = 0; i < stored.size(); ++i)
                volume.voxels[std::size_t(s) * stored.size() + i] = float(stored[i] + spec.rescaleIntercept);
        }
    });

    // Control points every 20 mm of the true curve, up to 200 mm of it.
    const auto curve = velmaris::gen::vesselCurve(spec, 8000);
    std::vector<render::Vec3d> curveMm;
    for (const auto &p : curve)
        curveMm.push_back({p[0] - spec.origin[0], p[1] - spec.origin[1], p[2] - spec.origin[2]});
    auto atArc = [&](double arc) {
        double walked = 0.0;
        for (std::size_t i = 1; i < curveMm.size(); ++i) {
            walked += render::norm(curveMm[i] - curveMm[i - 1]);
            if (walked >= arc)
                return curveMm[i];
        }
        return curveMm.back();
    };
    render::CprParameters parameters;
    for (int k = 0; k <= 10; ++k)
        parameters.controlPoints.push_back(atArc(5.0 + 20.0 * k));
    parameters.widthMm = 40.0;

    std::printf("Phantom %d × %d × %d at 0.4 mm made in %.0f ms; %d threads; load average at start: ", size, size,
                depth, made, render::defaultThreadCount());
    if (FILE *load = std::fopen("/proc/loadavg", "r")) {
        char text[64] = {};
        if (std::fgets(text, sizeof text, load))
            std::fputs(text, stdout);
        std::fclose(load);
    }

    const std::size_t moved = parameters.controlPoints.size() / 2;
    const render::Vec3d original = parameters.controlPoints[moved];
    int samples = 0;
    int rows = 0;
    int layers = 1;
    double length = 0.0;
    for (const double thickness : {0.0, 5.0}) {
        parameters.thicknessMm = thickness;
        parameters.slabMode = 1;
        const Figure rebuild = measure([&](int i) {
            parameters.controlPoints[moved] = original + render::Vec3d{0.5 * (i % 2), 0.0, 0.0};
            const render::CurvedMprImage cpr = render::buildCurvedMpr(volume, parameters, 0.5);
            samples = cpr.samples;
            rows = cpr.rows;
            length = cpr.lengthMm;
        });
        layers = render::curvedMprLayerCount(volume, thickness, 1);
        // The same pixel count as a square rotated plane; the slab with the
        // same number of samples per pixel.
        const int n = int(std::lround(std::sqrt(double(samples) * rows)));
        const int half = layers > 1 ? layers / 2 : 0;
        const Figure reference = measure([&](int) {
            render::renderOblique(volume, n, render::volumeCentreMm(volume), {0.6f, 0.8f, 0.0f}, {0.0f, 0.0f, -1.0f},
                                  0.4, 100.0, 700.0, half, 1);
        });
        std::printf("CPR %.0f mm, %d × %d pixels, %d layer(s)\n", length, samples, rows, layers);
        print(thickness > 0 ? "rebuild, 5 mm MIP" : "rebuild, thin", rebuild,
              thickness > 0 ? "rotated plane, same slab" : "rotated plane, same pixels", reference);
    }

    const render::Vec3d from = atArc(10.0);
    const render::Vec3d to = atArc(160.0);
    render::VesselTrace trace;
    QString message;
    const Figure traced = measure([&](int) {
        if (!render::traceVessel(volume, from, to, render::VesselTraceOptions{}, trace, message))
            std::printf("  trace failed: %s\n", qPrintable(message));
    });
    // The box of the traced line widened by the radius: the least region any
    // tracer has to look at, read voxel by voxel once.
    std::array<int, 3> low{size, size, depth}, high{0, 0, 0};
    for (const render::Vec3d &p : trace.points)
        for (int a = 0; a < 3; ++a) {
            const int count = a == 0 ? volume.width : a == 1 ? volume.height : volume.depth;
            low[a] = std::max(0, std::min(low[a], int((p[a] - spec.vessel.radiusMm) / 0.4)));
            high[a] = std::min(count - 1, std::max(high[a], int((p[a] + spec.vessel.radiusMm) / 0.4)));
        }
    volatile double sink = 0.0;
    const Figure reference = measure([&](int) {
        double sum = 0.0;
        for (int z = low[2]; z <= high[2]; ++z)
            for (int y = low[1]; y <= high[1]; ++y)
                for (int x = low[0]; x <= high[0]; ++x)
                    sum += render::voxelAt(volume, x, y, z);
        sink = sum;
    });
    std::printf("Trace 150 mm of vessel: %.1f mm traced, %zu points\n", trace.lengthMm, trace.points.size());
    print("trace", traced, "read of the line's box", reference);
    return 0;
}
