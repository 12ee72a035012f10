// Paging in an image panel: milliseconds from a page request (the Down key
// sent to the panel) until the slice's pixmap is set and sliceChanged is
// emitted, through a whole CT series, uncompressed and JPEG-LS; beside
// renderFrame alone on the same files as the reference.
//
//   bench_viewport_paging [files=500] [size=512] [folder]
//
// Every slice is its own file, so each page pays a whole parse (and, for
// JPEG-LS, a decompression); the page cache is warmed before timing.

#include "BenchSeries.h"
#include "dicom/CodecRegistration.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "viewer/FrameDecoder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    double median = 0.0;
    double max = 0.0;
};

Figures summarise(std::vector<double> samples)
{
    if (samples.empty())
        return {};
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

QStringList jpegLsSeries(const QString &folder, int files, int size)
{
    QDir dir(folder);
    const QStringList existing = dir.entryList({QStringLiteral("IMG*.dcm")}, QDir::Files, QDir::Name);
    QStringList paths;
    if (existing.size() == files) {
        for (const QString &name : existing)
            paths << dir.filePath(name);
        return paths;
    }
    velmaris::gen::SeriesSpec spec;
    spec.slices = files;
    spec.rows = size;
    spec.columns = size;
    spec.compression = velmaris::gen::Compression::JpegLs;
    std::fprintf(stderr, "generating %d JPEG-LS files of %dx%d in %s ...\n", files, size, size, qPrintable(folder));
    QString error;
    if (!velmaris::gen::writeSeries(spec, folder, &paths, &error)) {
        std::fprintf(stderr, "generation failed: %s\n", qPrintable(error));
        return {};
    }
    return paths;
}


Figures renderAlone(const QStringList &paths)
{
    std::vector<double> samples;
    for (const QString &path : paths) {
        samples.push_back(velmaris::bench::timeMs([&] {
            const render::RenderedFrame frame = render::renderFrame(path, 0, render::WindowRequest{});
            if (!frame.ok)
                std::fprintf(stderr, "render failed: %s\n", qPrintable(path));
        }));
    }
    return summarise(samples);
}

Figures pageThrough(const QStringList &paths)
{
    velmaris::ImageViewportWidget view;
    view.resize(512, 512);
    view.show();
    view.loadSeries(QStringLiteral("bench.series"), velmaris::bench::sliceRefs(paths));
    QApplication::processEvents();

    QElapsedTimer timer;
    std::vector<double> samples;
    QObject::connect(&view, &velmaris::ImageViewportWidget::sliceChanged, &view, [&](int, int) {
        samples.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    });
    for (int i = 1; i < paths.size(); ++i) {
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        timer.start();
        QApplication::sendEvent(view.viewport(), &down);
        // Lets the panel paint as it would between two key repeats.
        QApplication::processEvents();
    }
    if (view.currentSlice() != paths.size() - 1)
        std::fprintf(stderr, "paging stopped at %d\n", view.currentSlice());
    return summarise(samples);
}

void report(const char *name, const QStringList &paths)
{
    velmaris::bench::readAllBytes(paths);
    const Figures reference = renderAlone(paths);
    const Figures viewport = pageThrough(paths);
    std::printf("%-14s renderFrame alone: median %7.2f ms  max %7.2f ms\n", name, reference.median, reference.max);
    std::printf("%-14s viewport paging:   median %7.2f ms  max %7.2f ms  (median ratio %.2f)\n", name,
                viewport.median, viewport.max, reference.median > 0 ? viewport.median / reference.median : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.size() > 1 ? args.at(1).toInt() : 500;
    const int size = args.size() > 2 ? args.at(2).toInt() : 512;
    const QString folder =
        args.size() > 3 ? args.at(3)
                        : QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                              + QStringLiteral("/velmaris-bench-viewport-%1-%2").arg(files).arg(size);
    const dicom::CodecRegistration codecs;

    const QStringList plain = velmaris::bench::ctSeries(folder + QStringLiteral("/plain"), files, size);
    const QStringList jpegLs = jpegLsSeries(folder + QStringLiteral("/jpegls"), files, size);
    if (plain.isEmpty() || jpegLs.isEmpty())
        return 1;
    std::printf("%d slices of %dx%d, offscreen panel 512x512\n", files, size, size);
    report("uncompressed", plain);
    report("JPEG-LS", jpegLs);
    return 0;
}
