// Paging in an image panel: milliseconds from a page request (the Down key
// sent to the panel) until the panel has painted the new slice, through a
// whole CT series, uncompressed and JPEG-LS; beside renderFrame alone on the
// same files as the reference. Then a compressed loop (one multi-frame
// JPEG-LS file): from opening it in the panel until its first frame is
// painted, beside DCMTK's DicomImage drawing one frame of the same syntax,
// and paging through it. Medians with their spread (min-max) over every page,
// or over at least 5 openings; warm page cache.
//
//   bench_viewport_paging [files=500] [size=512] [loopFrames=200] [folder]
//
// Every slice of the series is its own file, so each page pays a whole parse
// (and, for JPEG-LS, a decompression).

#include "BenchSeries.h"
#include "dicom/CodecRegistration.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "viewer/FrameDecoder.h"

#include <dcmtk/dcmimgle/dcmimage.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QStandardPaths>

#include <cstdio>

namespace {

using velmaris::bench::Runs;

QStringList jpegLsSeries(const QString &folder, int files, int size,
                         velmaris::gen::Kind kind = velmaris::gen::Kind::CT)
{
    QDir dir(folder);
    const QStringList existing = dir.entryList({QStringLiteral("IMG*.dcm")}, QDir::Files, QDir::Name);
    QStringList paths;
    if (existing.size() == (kind == velmaris::gen::Kind::CT ? files : 1)) {
        for (const QString &name : existing)
            paths << dir.filePath(name);
        return paths;
    }
    velmaris::gen::SeriesSpec spec;
    spec.slices = files;
    spec.rows = size;
    spec.columns = size;
    spec.compression = velmaris::gen::Compression::JpegLs;
    spec.kind = kind;
    std::fprintf(stderr, "generating %d JPEG-LS files of %dx%d in %s ...\n", files, size, size, qPrintable(folder));
    QString error;
    if (!velmaris::gen::writeSeries(spec, folder, &paths, &error)) {
        std::fprintf(stderr, "generation failed: %s\n", qPrintable(error));
        return {};
    }
    return paths;
}


Runs renderAlone(const QStringList &paths)
{
    Runs runs;
    for (const QString &path : paths) {
        runs.ms.push_back(velmaris::bench::timeMs([&] {
            const render::RenderedFrame frame = render::renderFrame(path, 0, render::WindowRequest{});
            if (!frame.ok)
                std::fprintf(stderr, "render failed: %s\n", qPrintable(path));
        }));
    }
    return runs;
}

// Milliseconds per page until the panel has painted: the key press, then the
// events it leaves (the repaint among them) until none are left.
Runs pageThrough(velmaris::ImageViewportWidget &view, int pages)
{
    Runs runs;
    for (int i = 0; i < pages; ++i) {
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        runs.ms.push_back(velmaris::bench::timeMs([&] {
            QApplication::sendEvent(view.viewport(), &down);
            QApplication::processEvents();
        }));
    }
    return runs;
}

void report(const char *name, const QStringList &paths)
{
    velmaris::bench::readAllBytes(paths);
    const Runs reference = renderAlone(paths);
    velmaris::ImageViewportWidget view;
    view.resize(512, 512);
    view.show();
    view.loadSeries(QStringLiteral("bench.series"), velmaris::bench::sliceRefs(paths));
    QApplication::processEvents();
    const Runs viewport = pageThrough(view, int(paths.size()) - 1);
    if (view.currentSlice() != paths.size() - 1)
        std::fprintf(stderr, "paging stopped at %d\n", view.currentSlice());
    std::printf("  %-14s renderFrame alone:           %s\n", name, qPrintable(reference.text()));
    std::printf("  %-14s viewport paging, painted:    %s  (median ratio %.2f)\n", name,
                qPrintable(viewport.text()), reference.median() > 0 ? viewport.median() / reference.median() : 0.0);
}

QList<db::SliceRef> loopSlices(const QString &path, int frames)
{
    QList<db::SliceRef> slices;
    for (int f = 0; f < frames; ++f) {
        db::SliceRef slice;
        slice.file_path = path;
        slice.instance_number = 1;
        slice.frame_index = f;
        slice.pixel_spacing_x = slice.pixel_spacing_y = 0.7;
        slices.append(slice);
    }
    return slices;
}

// Opening the loop in a panel until its first frame is painted, beside
// DicomImage drawing one JPEG-LS frame of the same size from a single-frame
// file; then paging through the loop.
void reportLoop(const QString &loop, int frames, const QString &single, int runs)
{
    velmaris::bench::readAllBytes({loop, single});
    const QByteArray singleName = QFile::encodeName(single);
    velmaris::ImageViewportWidget view;
    view.resize(512, 512);
    view.show();
    QApplication::processEvents();
    const auto timed = velmaris::bench::interleaved(
        runs, {[&] {
                   view.loadSeries(QStringLiteral("loop"), loopSlices(loop, frames));
                   QApplication::processEvents();
               },
               [&] {
                   DicomImage image(singleName.constData(), CIF_MayDetachPixelData, 0UL, 1UL);
                   image.setWindow(40.0, 400.0);
                   if (image.getOutputData(8, 0, 0) == nullptr)
                       std::fprintf(stderr, "DicomImage failed on %s\n", singleName.constData());
                   // Another file takes the decoders' caches before the next opening.
                   view.loadSeries(QStringLiteral("single"), velmaris::bench::sliceRefs({single}));
                   QApplication::processEvents();
               }},
        {});
    // The reference run above also opened the single file; DicomImage alone:
    const auto one = velmaris::bench::interleaved(runs, {[&] {
        DicomImage image(singleName.constData(), CIF_MayDetachPixelData, 0UL, 1UL);
        image.setWindow(40.0, 400.0);
        image.getOutputData(8, 0, 0);
    }});
    view.loadSeries(QStringLiteral("loop"), loopSlices(loop, frames));
    QApplication::processEvents();
    const Runs paging = pageThrough(view, frames - 1);
    std::printf("  %-14s open, first frame painted:   %s\n", "JPEG-LS loop", qPrintable(timed[0].text()));
    std::printf("  %-14s DicomImage, one frame:       %s\n", "JPEG-LS", qPrintable(one[0].text()));
    std::printf("  %-14s loop paging, painted:        %s\n", "JPEG-LS loop", qPrintable(paging.text()));
    const double ratio = timed[0].median() / one[0].median();
    velmaris::bench::tableRow(QStringLiteral("panel: %1-frame JPEG-LS loop, first frame painted").arg(frames),
                              timed[0], QStringLiteral("DicomImage one JPEG-LS frame"), one[0], "ms", ratio,
                              QStringLiteral("<= 3 x"), ratio <= 3.0);
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
    const int loopFrames = args.size() > 3 ? args.at(3).toInt() : 200;
    const QString folder =
        args.size() > 4 ? args.at(4)
                        : QStandardPaths::writableLocation(QStandardPaths::TempLocation)
                              + QStringLiteral("/velmaris-bench-viewport-%1-%2").arg(files).arg(size);
    const dicom::CodecRegistration codecs;

    const QStringList plain = velmaris::bench::ctSeries(folder + QStringLiteral("/plain"), files, size);
    const QStringList jpegLs = jpegLsSeries(folder + QStringLiteral("/jpegls"), files, size);
    const QStringList loop = jpegLsSeries(folder + QStringLiteral("/loop%1").arg(loopFrames), loopFrames, size,
                                          velmaris::gen::Kind::ClassicMultiFrame);
    if (plain.isEmpty() || jpegLs.isEmpty() || loop.isEmpty())
        return 1;
    std::printf("bench_viewport_paging: %d slices of %dx%d, offscreen panel 512x512, median (min-max)\n", files,
                size, size);
    report("uncompressed", plain);
    report("JPEG-LS", jpegLs);
    reportLoop(loop.first(), loopFrames, jpegLs.first(), 5);
    return 0;
}
