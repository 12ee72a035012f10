// The MPR window, offscreen.
//
//   bench_mpr_window [slices=800] [size=512] [openSlices=2000] [folder]
//
// 1. A crosshair click on the axial cell until all three plane pictures are
//    set (MprWindow::onAxialClicked re-renders and hands each cell its
//    picture), thin and with a 10 mm MIP slab, not rotated and rotated,
//    beside the three reslice calls alone for the same planes.
// 2. Opening the window on an openSlices-slice series until its first planes
//    are shown, beside buildVolume alone on the same slices.
// Each figure is the median (with min … max) of at least 5 runs; the page
// cache is warmed first. Generated series are written under the temporary
// folder and removed at the end.

#include "BenchSeries.h"
#include "dicom/CodecRegistration.h"
#include "ui/mpr/MprViewportWidget.h"
#include "ui/mpr/MprWindow.h"
#include "volume/MprReslicer.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/VolumeBuilder.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace velmaris::bench;
using velmaris::MprPlane;
using velmaris::MprWindow;

namespace {

constexpr int runs = 7;

// The runs of one thing, with their median and spread.
using Figure = velmaris::bench::Runs;

Figure summarise(std::vector<double> ms)
{
    return Figure{std::move(ms)};
}

Figure measure(int count, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < count; ++i)
        ms.push_back(timeMs(work));
    return summarise(ms);
}

void print(const char *what, const Figure &f, const Figure &reference)
{
    std::printf("  %-34s %9.2f ms (%.2f … %.2f)   reference %9.2f ms (%.2f … %.2f)   ratio %.2f\n", what, f.median(),
                f.min(), f.max(), reference.median(), reference.min(), reference.max(), f.median() / reference.median());
}

// Opens the window and returns once its planes are shown (to 2 ms).
std::unique_ptr<MprWindow> openWindow(const QList<db::SliceRef> &refs)
{
    auto window = std::make_unique<MprWindow>(refs, QStringLiteral("CT"));
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    // An event loop that sleeps between events: processEvents with a time
    // limit would spin and take a core from the build it waits for.
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!window->cell(MprPlane::Sagittal)->image().isNull())
            loop.quit();
    });
    poll.start();
    loop.exec();
    return window;
}

void crosshair(const QList<db::SliceRef> &refs)
{
    const auto window = openWindow(refs);
    const render::Volume &v = *window->volume();
    std::printf("crosshair click → three pictures set, %d × %d × %d volume, 400² rotated planes\n", v.width,
                v.height, v.depth);
    for (const bool rotated : {false, true}) {
        if (rotated)
            window->rotateAxes(MprPlane::Axial, 20.0);
        for (const double slab : {0.0, 10.0}) {
            window->slabModeBox()->setCurrentIndex(0); // MIP
            window->slabThicknessBox()->setValue(slab);
            int turn = 0;
            const Figure click = measure(runs, [&] {
                const double at = (turn++ % 2) ? 0.3 : 0.7;
                window->onAxialClicked(at, at);
            });
            const Figure reslice = measure(runs, [&] {
                const auto c = window->crosshair();
                const double centre = window->windowCentre();
                const double width = window->windowWidth();
                if (!rotated) {
                    render::renderAxial(v, c[2], centre, width, render::slabHalfCount(slab, v.spacingZ), 1);
                    render::renderCoronal(v, c[1], centre, width, render::slabHalfCount(slab, v.spacingY), 1);
                    render::renderSagittal(v, c[0], centre, width, render::slabHalfCount(slab, v.spacingX), 1);
                } else {
                    const int half =
                        render::slabHalfCount(slab, std::min({v.spacingX, v.spacingY, v.spacingZ}));
                    for (const MprPlane plane : {MprPlane::Axial, MprPlane::Coronal, MprPlane::Sagittal}) {
                        const MprWindow::Basis b = window->basis(plane);
                        render::renderOblique(v, MprWindow::obliqueSize, window->rotationCentre(), b.u, b.v,
                                              window->obliqueMmPerPixel(), centre, width, half, 1);
                    }
                }
            });
            char what[64];
            std::snprintf(what, sizeof what, "%s, %s", rotated ? "rotated" : "not rotated",
                          slab > 0.0 ? "10 mm MIP" : "thin");
            print(what, click, reslice);
        }
    }
}

void opening(const QList<db::SliceRef> &refs)
{
    std::printf("open → first planes shown, %lld slices, beside buildVolume alone\n",
                static_cast<long long>(refs.size()));
    const QList<render::VolumeSlice> slices = render::seriesVolumeSlices(refs, render::SliceOrientationUse::Keep);
    std::vector<double> window;
    std::vector<double> build;
    // Interleaved, so that both see the same machine load.
    for (int i = 0; i < 5; ++i) {
        window.push_back(timeMs([&] { openWindow(refs); }));
        build.push_back(timeMs([&] {
            QString message;
            const render::Volume v = render::buildVolume(slices, message, 0);
        }));
    }
    print("window open", summarise(window), summarise(build));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    dicom::registerCodecs();
    const QStringList args = app.arguments();
    const int slices = args.size() > 1 ? args.at(1).toInt() : 800;
    const int size = args.size() > 2 ? args.at(2).toInt() : 512;
    const int openSlices = args.size() > 3 ? args.at(3).toInt() : 2000;
    const QString folder = args.size() > 4 ? args.at(4)
                                           : QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                                                 + QStringLiteral("/velmaris_bench_mpr");
    {
        const QStringList paths = ctSeries(folder + QStringLiteral("/crosshair"), slices, size);
        readAllBytes(paths);
        crosshair(sliceRefs(paths));
    }
    {
        const QStringList paths = ctSeries(folder + QStringLiteral("/open"), openSlices, size);
        readAllBytes(paths);
        opening(sliceRefs(paths));
    }
    QDir(folder).removeRecursively();
    return 0;
}
