// The CPU ray caster on a 512 × 512 × 400 CT-like volume into a 512 × 512
// view: MIP and VRT "Кости", settled (full steps, shading) and while dragging
// (at most 120 steps, no shading, half resolution), beside a plain loop that
// reads every voxel once. Medians and spreads of 7 runs.
#include "volume/SoftwareVolumeRenderer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Air around an elliptic trunk of soft tissue with a spine, ribs as rings
// and a sternum, 0.7 × 0.7 × 1 mm.
std::shared_ptr<render::Volume> ctVolume()
{
    auto v = std::make_shared<render::Volume>();
    v->width = v->height = 512;
    v->depth = 400;
    v->spacingX = v->spacingY = 0.7;
    v->spacingZ = 1.0;
    v->voxels.resize(std::size_t(512) * 512 * 400);
    for (int z = 0; z < 400; ++z)
        for (int y = 0; y < 512; ++y)
            for (int x = 0; x < 512; ++x) {
                const double dx = (x - 256) / 230.0, dy = (y - 256) / 170.0;
                const double r = dx * dx + dy * dy;
                float value = -1000.0f;
                if (r < 1.0) {
                    value = 40.0f + float((x * 7 + y * 13 + z * 3) % 21) - 10.0f;
                    const bool spine = std::hypot(x - 256, y - 360) < 28;
                    const bool rib = r > 0.78 && r < 0.86 && (z % 40) < 10;
                    const bool sternum = std::abs(x - 256) < 20 && std::abs(y - 110) < 8;
                    if (spine || rib || sternum)
                        value = 700.0f;
                }
                v->voxels[(std::size_t(z) * 512 + y) * 512 + x] = value;
            }
    v->minValue = -1000.0;
    v->maxValue = 700.0;
    return v;
}

struct Figures
{
    double median;
    double spread; // max − min
};

Figures measure(const std::function<void()> &work, int runs = 7)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back() - ms.front()};
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
                                          : QStringLiteral("?");
}

} // namespace

int main()
{
    const auto volume = ctVolume();
    render::SoftwareVolumeRenderer renderer;
    QElapsedTimer prepare;
    prepare.start();
    renderer.setVolume(volume);
    const double prepareMs = double(prepare.nsecsElapsed()) / 1e6;

    volatile float sink = 0.0f;
    const Figures floor = measure([&] {
        float sum = 0.0f;
        for (const float v : volume->voxels)
            sum += v;
        sink = sum;
    });
    std::printf("load average: %s\n", qPrintable(loadAverage()));
    std::printf("block ranges once per volume: %.1f ms\n", prepareMs);
    std::printf("%-28s %9s %9s %9s\n", "case", "median ms", "spread", "x floor");
    std::printf("%-28s %9.1f %9.1f %9.2f\n", "read every voxel once", floor.median, floor.spread, 1.0);

    render::VolumeRenderParameters base;
    base.camera.level = (volume->minValue + volume->maxValue) / 2.0;
    base.camera.width = volume->maxValue - volume->minValue;
    base.preset = render::presetByName(QStringLiteral("Кости"));
    struct Case
    {
        const char *name;
        render::ProjectionMode mode;
        bool interactive;
    };
    for (const Case &c : {Case{"MIP settled", render::ProjectionMode::Maximum, false},
                          Case{"MIP dragging (256 px)", render::ProjectionMode::Maximum, true},
                          Case{"VRT Кости settled", render::ProjectionMode::Vrt, false},
                          Case{"VRT Кости dragging (256 px)", render::ProjectionMode::Vrt, true}}) {
        render::VolumeRenderParameters p = base;
        p.mode = c.mode;
        p.interactive = c.interactive;
        p.camera.rotateFree(25.0, 10.0);
        const QSize size = c.interactive ? QSize(256, 256) : QSize(512, 512);
        const Figures f = measure([&] { renderer.render(p, size); });
        std::printf("%-28s %9.1f %9.1f %9.2f\n", c.name, f.median, f.spread, f.median / floor.median);
    }
    return 0;
}
