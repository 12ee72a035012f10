// Opening a study in the viewer window: milliseconds from creating the window
// until the first image is shown and until every series thumbnail is in, and
// the longest stall of the GUI event loop meanwhile (gaps between the ticks
// of a 1 ms timer, the window's own construction included); beside
// renderFrame of one slice as the reference. Median (min-max) of at least 5
// openings.
//
//   bench_viewer_open [series=4] [slicesPerSeries=250] [size=512] [folder]
//
// The page cache is warmed before timing, so the figures are CPU-bound.

#include "BenchSeries.h"
#include "dicom/CodecRegistration.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/SeriesListWidget.h"
#include "ui/viewer/ViewerWindow.h"
#include "viewer/FrameDecoder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {


double msSince(const QElapsedTimer &timer)
{
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int seriesCount = args.size() > 1 ? args.at(1).toInt() : 4;
    const int perSeries = args.size() > 2 ? args.at(2).toInt() : 250;
    const int size = args.size() > 3 ? args.at(3).toInt() : 512;
    const QString folder = args.size() > 4 ? args.at(4)
                                           : QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                                                 + QStringLiteral("/velmaris-bench-viewer-open-%1-%2")
                                                       .arg(perSeries)
                                                       .arg(size);
    const dicom::CodecRegistration codecs;

    QList<QStringList> series;
    for (int i = 0; i < seriesCount; ++i) {
        series.append(velmaris::bench::ctSeries(folder + QStringLiteral("/s%1").arg(i), perSeries, size));
        if (series.last().isEmpty())
            return 1;
        velmaris::bench::readAllBytes(series.last());
    }

    velmaris::bench::Runs reference;
    for (int i = 0; i < 9; ++i) {
        reference.ms.push_back(velmaris::bench::timeMs([&] {
            render::renderFrame(series.first().at(perSeries / 2 + i), 0, render::WindowRequest{});
        }));
    }
    velmaris::bench::Runs firstImages, allThumbnails, stalls;
    for (int run = 0; run < 5; ++run) {

        // The stall probe: the longest gap between two ticks of a 1 ms timer,
        // counted from just before the window is created.
        QElapsedTimer clock;
        double lastTick = 0.0;
        double longestStall = 0.0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const double now = msSince(clock);
            longestStall = std::max(longestStall, now - lastTick);
            lastTick = now;
        });

        clock.start();
        probe.start();
        auto *viewer = new velmaris::ViewerWindow(QStringLiteral("bench.study"), false);
        for (int i = 0; i < seriesCount; ++i)
            viewer->showSeries(QStringLiteral("bench.series.%1").arg(i), velmaris::bench::sliceRefs(series.at(i)));
        viewer->show();
        double firstImage = -1.0;
        double thumbnails = -1.0;
        QEventLoop loop;
        QObject::connect(viewer->seriesList(), &velmaris::SeriesListWidget::thumbnailsFinished, &loop, [&] {
            if (viewer->seriesList()->count() == seriesCount) {
                thumbnails = msSince(clock);
                loop.quit();
            }
        });
        QTimer firstImageWatch;
        firstImageWatch.setInterval(0);
        QObject::connect(&firstImageWatch, &QTimer::timeout, [&] {
            if (!viewer->viewport()->currentPixmap().isNull()) {
                firstImage = msSince(clock);
                firstImageWatch.stop();
            }
        });
        firstImageWatch.start();
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        probe.stop();
        viewer->close();
        delete viewer;
        firstImages.ms.push_back(firstImage);
        allThumbnails.ms.push_back(thumbnails);
        stalls.ms.push_back(longestStall);
    }

    std::printf("bench_viewer_open: %d series x %d slices of %dx%d (uncompressed CT), offscreen window 1400x900, "
                "median (min-max) of 5 openings\n",
                seriesCount, perSeries, size, size);
    std::printf("  renderFrame of one slice (reference): %s\n", qPrintable(reference.text()));
    std::printf("  first image shown:                    %s  (goal <= 500)\n", qPrintable(firstImages.text()));
    std::printf("  all thumbnails in:                    %s\n", qPrintable(allThumbnails.text()));
    std::printf("  longest GUI stall:                    %s  (goal <= 50)\n", qPrintable(stalls.text()));
    velmaris::bench::tableRow(QStringLiteral("viewer: first image shown"), firstImages,
                              QStringLiteral("renderFrame of one slice"), reference, "ms",
                              firstImages.median() / reference.median(), QStringLiteral("<= 500 ms"),
                              firstImages.median() <= 500.0);
    return 0;
}
