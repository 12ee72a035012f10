// Frame decoding: milliseconds per frame of loadDecodedFrame and
// renderFrame on 16-bit CT in each lossless transfer syntax, beside DCMTK's
// own in-process call on the same files (DicomImage drawn to an 8-bit buffer
// under the same window) and a plain read of the bytes; then a multi-frame
// loop: its first frame, uncached, beside DicomImage drawing one frame of the
// same syntax, and paging through it once cached. Median (min-max) of at
// least 5 interleaved runs, warm page cache.
//
//   bench_decode [files=20] [size=512] [pagingFrames=200] [runs=5] [folder]
//
// Every file of a series is a different path, so the per-syntax figures
// include a whole parse and decompression per frame (the caches never hit).

#include "BenchSeries.h"
#include "dicom/CodecRegistration.h"
#include "seriesgen/SeriesGenerator.h"
#include "viewer/FrameDecoder.h"

#include <dcmtk/dcmdata/dccodec.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <openjpeg.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

using namespace velmaris::bench;
using velmaris::gen::Compression;

namespace {

struct Syntax
{
    const char *name;
    std::optional<Compression> compression; // nothing: JPEG 2000
};

const Syntax syntaxes[] = {
    {"uncompressed", Compression::None},
    {"JPEG-LS lossless", Compression::JpegLs},
    {"RLE lossless", Compression::Rle},
    {"JPEG lossless", Compression::JpegLossless},
    {"JPEG 2000 lossless", std::nullopt},
};

QStringList existingSeries(const QString &folder, int files)
{
    const QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("IMG*.dcm")}, QDir::Files, QDir::Name);
    if (names.size() != files)
        return {};
    QStringList paths;
    for (const QString &name : names)
        paths << dir.filePath(name);
    return paths;
}

QStringList series(const QString &folder, Compression compression, int files, int size,
                   velmaris::gen::Kind kind = velmaris::gen::Kind::CT)
{
    const int expected = kind == velmaris::gen::Kind::CT ? files : 1;
    if (QStringList paths = existingSeries(folder, expected); !paths.isEmpty())
        return paths;
    velmaris::gen::SeriesSpec spec;
    spec.kind = kind;
    spec.compression = compression;
    spec.slices = files;
    spec.rows = spec.columns = size;
    QStringList paths;
    QString error;
    std::fprintf(stderr, "generating %s ...\n", qPrintable(folder));
    if (!velmaris::gen::writeSeries(spec, folder, &paths, &error)) {
        std::fprintf(stderr, "generation failed: %s\n", qPrintable(error));
        return {};
    }
    return paths;
}

// OpenJPEG output into memory.
struct MemoryStream
{
    std::vector<OPJ_BYTE> bytes;
    std::size_t position = 0;
};

OPJ_SIZE_T streamWrite(void *buffer, OPJ_SIZE_T size, void *user)
{
    auto *out = static_cast<MemoryStream *>(user);
    if (out->position + size > out->bytes.size())
        out->bytes.resize(out->position + size);
    std::memcpy(out->bytes.data() + out->position, buffer, size);
    out->position += size;
    return size;
}

OPJ_OFF_T streamSkip(OPJ_OFF_T count, void *user)
{
    auto *out = static_cast<MemoryStream *>(user);
    out->position = std::size_t(OPJ_OFF_T(out->position) + count);
    if (out->position > out->bytes.size())
        out->bytes.resize(out->position);
    return count;
}

OPJ_BOOL streamSeek(OPJ_OFF_T at, void *user)
{
    auto *out = static_cast<MemoryStream *>(user);
    out->position = std::size_t(at);
    if (out->position > out->bytes.size())
        out->bytes.resize(out->position);
    return OPJ_TRUE;
}

// A lossless (reversible 5/3) J2K codestream of one 16-bit greyscale frame.
std::vector<OPJ_BYTE> encodeJ2k(const Uint16 *samples, int rows, int columns, bool isSigned)
{
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0; // lossless
    parameters.cp_disto_alloc = 1;
    opj_image_cmptparm_t component{};
    component.dx = component.dy = 1;
    component.w = OPJ_UINT32(columns);
    component.h = OPJ_UINT32(rows);
    component.prec = 16;
    component.sgnd = isSigned ? 1 : 0;
    opj_image_t *image = opj_image_create(1, &component, OPJ_CLRSPC_GRAY);
    if (image == nullptr)
        return {};
    image->x1 = OPJ_UINT32(columns);
    image->y1 = OPJ_UINT32(rows);
    for (int i = 0; i < rows * columns; ++i)
        image->comps[0].data[i] = isSigned ? OPJ_INT32(Sint16(samples[i])) : OPJ_INT32(samples[i]);
    MemoryStream out;
    opj_codec_t *codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_stream_t *stream = opj_stream_create(1 << 20, OPJ_FALSE);
    opj_stream_set_user_data(stream, &out, nullptr);
    opj_stream_set_write_function(stream, streamWrite);
    opj_stream_set_skip_function(stream, streamSkip);
    opj_stream_set_seek_function(stream, streamSeek);
    const bool ok = opj_setup_encoder(codec, &parameters, image) && opj_start_compress(codec, image, stream)
                    && opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok)
        return {};
    out.bytes.resize(std::max(out.bytes.size(), out.position));
    return out.bytes;
}

// JPEG 2000 (lossless only) copies of the uncompressed files, encoded with
// OpenJPEG, when the process has a JPEG 2000 decoder; empty otherwise.
QStringList jpeg2000Series(const QStringList &uncompressed, const QString &folder, QString *why)
{
    if (!DcmCodecList::canChangeCoding(EXS_JPEG2000LosslessOnly, EXS_LittleEndianExplicit)) {
        *why = QStringLiteral("no JPEG 2000 decoder registered");
        return {};
    }
    if (QStringList paths = existingSeries(folder, int(uncompressed.size())); !paths.isEmpty())
        return paths;
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 0; i < uncompressed.size(); ++i) {
        DcmFileFormat file;
        if (file.loadFile(QFile::encodeName(uncompressed.at(i)).constData()).bad()) {
            *why = QStringLiteral("cannot read %1").arg(uncompressed.at(i));
            return {};
        }
        DcmDataset *ds = file.getDataset();
        Uint16 rows = 0, columns = 0, representation = 0;
        const Uint16 *samples = nullptr;
        ds->findAndGetUint16(DCM_Rows, rows);
        ds->findAndGetUint16(DCM_Columns, columns);
        ds->findAndGetUint16(DCM_PixelRepresentation, representation);
        ds->findAndGetUint16Array(DCM_PixelData, samples);
        const std::vector<OPJ_BYTE> codestream =
            samples ? encodeJ2k(samples, rows, columns, representation == 1) : std::vector<OPJ_BYTE>();
        if (codestream.empty()) {
            *why = QStringLiteral("OpenJPEG could not encode %1").arg(uncompressed.at(i));
            return {};
        }
        auto *sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
        sequence->insert(new DcmPixelItem(DCM_PixelItemTag)); // empty offset table
        DcmOffsetList offsets;
        sequence->storeCompressedFrame(offsets, const_cast<Uint8 *>(codestream.data()),
                                       Uint32(codestream.size()), 0);
        auto *pixelData = new DcmPixelData(DCM_PixelData);
        pixelData->putOriginalRepresentation(EXS_JPEG2000LosslessOnly, nullptr, sequence);
        ds->insert(pixelData, true);
        const QString path = QDir(folder).filePath(QStringLiteral("IMG%1.dcm").arg(i + 1, 4, 10, QLatin1Char('0')));
        if (file.saveFile(QFile::encodeName(path).constData(), EXS_JPEG2000LosslessOnly).bad()) {
            *why = QStringLiteral("cannot write %1").arg(path);
            return {};
        }
        paths << path;
    }
    return paths;
}

// True when every file of `paths` decodes to the values of the file of the
// same index in `reference`.
bool sameValues(const QStringList &paths, const QStringList &reference)
{
    for (int i = 0; i < paths.size() && i < reference.size(); ++i) {
        render::DecodedFrame a;
        render::DecodedFrame b;
        if (!render::loadDecodedFrame(a, paths.at(i), 0) || !render::loadDecodedFrame(b, reference.at(i), 0)
            || a.values != b.values)
            return false;
    }
    return true;
}

// DCMTK's own drawing of one frame: DicomImage from the file, the window
// set, the frame as an 8-bit buffer (what renderFrame hands on).
bool dcmtkPicture(const QByteArray &name, int frame, unsigned long flags)
{
    DicomImage image(name.constData(), flags, static_cast<unsigned long>(frame), 1UL);
    if (image.getStatus() != EIS_Normal)
        return false;
    image.setWindow(40.0, 400.0);
    return image.getOutputData(8, 0, 0) != nullptr;
}

void row(const char *syntax, const char *what, const Runs &runs, double perRun, const QString &note = QString())
{
    std::printf("  %-20s %-44s %-30s %s\n", syntax, what, qPrintable(runs.text("ms", 1.0 / perRun)),
                qPrintable(note));
}

void naRow(const char *syntax, const char *what, const QString &why)
{
    std::printf("  %-20s %-36s %9s %-8s %s\n", syntax, what, "n/a", "", qPrintable(why));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.size() > 1 ? args.at(1).toInt() : 20;
    const int size = args.size() > 2 ? args.at(2).toInt() : 512;
    const int pagingFrames = args.size() > 3 ? args.at(3).toInt() : 200;
    const int runs = args.size() > 4 ? args.at(4).toInt() : 5;
    QTemporaryDir scratch;
    const QString root = args.size() > 5 ? args.at(5) : scratch.path();
    const dicom::CodecRegistration codecs;

    std::printf("bench_decode: %d files of %dx%d 16-bit CT per syntax, warm page cache, per frame: median "
                "(min-max) of %d interleaved runs\n",
                files, size, size, std::max(runs, 5));
    const render::WindowRequest window{40.0, 400.0, true};
    QStringList uncompressed;
    QString jpegLsSingle; // one single-frame JPEG-LS file: one frame's decode

    for (const Syntax &syntax : syntaxes) {
        QStringList paths;
        QString why;
        if (syntax.compression) {
            paths = series(QDir(root).filePath(QString::fromLatin1(syntax.name).replace(QLatin1Char(' '), QLatin1Char('_'))),
                           *syntax.compression, files, size);
            if (*syntax.compression == Compression::None)
                uncompressed = paths;
            if (*syntax.compression == Compression::JpegLs && !paths.isEmpty())
                jpegLsSingle = paths.first();
        } else {
            paths = jpeg2000Series(uncompressed, QDir(root).filePath(QStringLiteral("JPEG_2000")), &why);
        }
        if (paths.isEmpty()) {
            naRow(syntax.name, "loadDecodedFrame", why);
            naRow(syntax.name, "renderFrame", why);
            continue;
        }
        if (!sameValues(paths, uncompressed))
            std::printf("  %-20s warning: decoded values differ from the uncompressed files\n", syntax.name);
        std::vector<QByteArray> names;
        for (const QString &path : paths)
            names.push_back(QFile::encodeName(path));
        int failures = 0;
        const std::vector<Runs> timed = interleaved(
            runs, {[&] { readAllBytes(paths); },
                   [&] {
                       for (const QString &path : paths) {
                           render::DecodedFrame frame;
                           failures += !render::loadDecodedFrame(frame, path, 0);
                       }
                   },
                   [&] {
                       for (const QString &path : paths)
                           failures += !render::renderFrame(path, 0, window).ok;
                   },
                   [&] {
                       for (const QByteArray &name : names)
                           failures += !dcmtkPicture(name, 0, CIF_MayDetachPixelData);
                   }});
        const double n = double(paths.size());
        const QString failed = failures ? QStringLiteral("(%1 failures!)").arg(failures) : QString();
        row(syntax.name, "read the file's bytes", timed[0], n);
        row(syntax.name, "loadDecodedFrame", timed[1], n, failed);
        row(syntax.name, "renderFrame (window 40/400)", timed[2], n,
            QStringLiteral("%1 x DCMTK").arg(timed[2].median() / timed[3].median(), 0, 'f', 2));
        row(syntax.name, "DCMTK DicomImage to 8 bits (in process)", timed[3], n);
    }

    // A loop: one multi-frame file. Its first frame is timed uncached (the
    // single-frame reference drawn in between takes the caches), then paging
    // through all of its frames once cached.
    std::printf("\none %d-frame %dx%d loop per syntax\n", pagingFrames, size, size);
    for (const auto &[name, compression] : {std::pair{"uncompressed", Compression::None},
                                             std::pair{"JPEG-LS lossless", Compression::JpegLs}}) {
        const QStringList loop =
            series(QDir(root).filePath(QStringLiteral("paging_%1").arg(int(compression))), compression,
                   pagingFrames, size, velmaris::gen::Kind::ClassicMultiFrame);
        const QString single = compression == Compression::None ? uncompressed.value(0) : jpegLsSingle;
        if (loop.isEmpty() || single.isEmpty())
            return 1;
        const QString path = loop.first();
        const QByteArray singleName = QFile::encodeName(single);
        readAllBytes(loop);
        int failures = 0;
        render::DecodedFrame frame;
        const std::vector<Runs> first = interleaved(
            runs, {[&] { failures += !render::renderFrame(path, 0, window).ok; },
                   [&] { failures += !render::loadDecodedFrame(frame, path, 0); },
                   [&] {
                       failures += !dcmtkPicture(singleName, 0, CIF_MayDetachPixelData);
                       // Takes both decoders' caches.
                       failures += !render::renderFrame(single, 0, window).ok;
                       failures += !render::loadDecodedFrame(frame, single, 0);
                   }});
        // The reference run above holds three calls; the DCMTK one alone:
        const std::vector<Runs> one = interleaved(runs, {[&] { failures += !dcmtkPicture(singleName, 0, CIF_MayDetachPixelData); }});
        row(name, "renderFrame, first frame of the loop", first[0], 1.0);
        row(name, "loadDecodedFrame, first frame of the loop", first[1], 1.0);
        row(name, "DCMTK DicomImage, one frame (single-frame file)", one[0], 1.0);
        const std::vector<Runs> paging = interleaved(
            runs, {[&] {
                       for (int f = 0; f < pagingFrames; ++f)
                           failures += !render::renderFrame(path, f, window).ok;
                   },
                   [&] {
                       for (int f = 0; f < pagingFrames; ++f)
                           failures += !render::loadDecodedFrame(frame, path, f);
                   }});
        const QString failed = failures ? QStringLiteral("(%1 failures!)").arg(failures) : QString();
        row(name, "renderFrame, cached, per frame", paging[0], pagingFrames, failed);
        row(name, "loadDecodedFrame, cached, per frame", paging[1], pagingFrames, failed);
        if (compression == Compression::None)
            continue; // uncompressed loops are opened whole; the goal is for compressed ones
        const double ratio = first[0].median() / one[0].median();
        tableRow(QStringLiteral("first frame, %1-frame %2 loop").arg(pagingFrames).arg(QLatin1String(name)), first[0],
                 QStringLiteral("DicomImage one %1 frame").arg(QLatin1String(name)), one[0], "ms", ratio,
                 QStringLiteral("<= 3 x"), ratio <= 3.0);
    }

    const auto stats = render::decoderStatistics();
    std::printf("\nparses: %llu value-decoder file loads, %llu DicomImage loads, %llu header probes\n",
                static_cast<unsigned long long>(stats.valueFileLoads),
                static_cast<unsigned long long>(stats.renderImageLoads),
                static_cast<unsigned long long>(stats.renderProbes));
    return 0;
}
