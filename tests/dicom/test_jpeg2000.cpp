#include "dicom/CodecRegistration.h"
#include "dicom/DcmtkAccess.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

// The dicom library links OpenJPEG privately; the test uses its encoder to
// make codestreams of known content and reaches the header through the
// versioned include directory.
#include <openjpeg-2.5/openjpeg.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const QString pydicomFolder = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files");
// Every JPEG 2000 file pydicom 2.3 ships.
const QStringList samples{"693_J2KI.dcm", "GDCMJ2K_TextGBR.dcm", "J2K_pixelrep_mismatch.dcm",
                          "JPEG2000-embedded-sequence-delimiter.dcm", "JPEG2000.dcm", "MR_small_jp2klossless.dcm",
                          "SC_rgb_gdcm_KY.dcm"};

// Decodes each file with pydicom (Pillow, i.e. OpenJPEG behind another
// front end) and writes the samples little-endian to <out>/<n>.raw, or why it
// failed to <out>/<n>.err. Arguments: out, then pairs of path and a 0/1 flag
// asking to repair the tile-part counts first (see needsTilePartRepair).
const char referenceScript[] = R"PY(
import sys, warnings
from collections import Counter
warnings.simplefilter("ignore")
import pydicom
from pydicom.encaps import encapsulate, generate_pixel_data_frame

def repair_tile_parts(codestream):
    b = bytearray(codestream)
    pos = b.find(b"\xff\x4f\xff\x51") + 2
    while pos + 4 <= len(b) and b[pos] == 0xFF and b[pos + 1] != 0x90:
        pos += 2 + int.from_bytes(b[pos + 2:pos + 4], "big")
    parts = []
    while pos + 12 <= len(b) and b[pos:pos + 2] == b"\xff\x90":
        parts.append(pos)
        length = int.from_bytes(b[pos + 6:pos + 10], "big")
        if length == 0:
            break
        pos += length
    tile = lambda p: int.from_bytes(b[p + 4:p + 6], "big")
    counts = Counter(tile(p) for p in parts)
    for p in parts:
        b[p + 11] = counts[tile(p)]
    return bytes(b)

out, args = sys.argv[1], sys.argv[2:]
for n in range(len(args) // 2):
    path, repair = args[2 * n], args[2 * n + 1] == "1"
    try:
        ds = pydicom.dcmread(path)
        if repair:
            frames = int(getattr(ds, "NumberOfFrames", 1) or 1)
            ds.PixelData = encapsulate(
                [repair_tile_parts(f) for f in generate_pixel_data_frame(ds.PixelData, frames)])
        arr = ds.pixel_array
        data, kind = arr.astype(arr.dtype.newbyteorder("<")).tobytes(), "raw"
    except Exception as e:
        data, kind = f"{type(e).__name__}: {e}".encode(), "err"
    with open(f"{out}/{n}.{kind}", "wb") as f:
        f.write(data)
)PY";

// Files whose reference decoding needs help, or that cannot decode at all.
// GDCMJ2K_TextGBR.dcm: every tile comes in six tile-parts but each part says
// there are five (the last one has TPsot == TNsot). OpenJPEG's whole-image
// decoding warns and reads all six; Pillow decodes tile by tile, stops after
// five and fails. With the counts corrected Pillow reads the same codestream.
bool needsTilePartRepair(const QString &name)
{
    return name == QLatin1String("GDCMJ2K_TextGBR.dcm");
}
// JPEG2000-embedded-sequence-delimiter.dcm: the bytes FE FF DD E0 (a sequence
// delimiter tag) overwrite the start of the codestream's size marker, which now
// claims 3722445056 columns against the dataset's 256. The file tests parsers
// of encapsulated data; its image is broken for every decoder.
bool isBrokenImage(const QString &name)
{
    return name == QLatin1String("JPEG2000-embedded-sequence-delimiter.dcm");
}

QString conditionText(const OFCondition &condition)
{
    return QString::fromUtf8(condition.text());
}

OFString photometricOf(DcmItem &item)
{
    OFString value;
    item.findAndGetOFString(DCM_PhotometricInterpretation, value);
    return value;
}

// The decoded Pixel Data as little-endian bytes, pad byte excluded.
QByteArray decodedBytes(DcmDataset &dataset, qsizetype expectedSize)
{
    Uint16 bitsAllocated = 0;
    dataset.findAndGetUint16(DCM_BitsAllocated, bitsAllocated);
    QByteArray bytes;
    const Uint16 *words = nullptr;
    const Uint8 *data = nullptr;
    unsigned long count = 0;
    if (bitsAllocated > 8 && dataset.findAndGetUint16Array(DCM_PixelData, words, &count).good() && words)
        for (unsigned long i = 0; i < count; ++i)
            bytes.append(char(words[i] & 0xFF)).append(char(words[i] >> 8));
    else if (bitsAllocated <= 8 && dataset.findAndGetUint8Array(DCM_PixelData, data, &count).good() && data)
        bytes = QByteArray(reinterpret_cast<const char *>(data), qsizetype(count));
    if (bytes.size() == expectedSize + 1)
        bytes.chop(1);
    return bytes;
}

// ---- making JPEG 2000 data of known content ------------------------------

struct Image
{
    int rows = 0;
    int columns = 0;
    int samples = 1;
    int bitsAllocated = 16;
    int bitsStored = 16;
    bool isSigned = false;
    int frames = 1;

    qsizetype frameBytes() const { return qsizetype(rows) * columns * samples * (bitsAllocated / 8); }
};

struct EncodeOptions
{
    bool jp2 = false;   // wrap the codestream in a JP2 file
    bool mct = false;   // reversible colour transform (Photometric YBR_RCT)
    bool tiled = false; // 32 x 32 tiles instead of one
};

// Lossless (reversible 5/3 wavelet, one quality layer) encoding of one frame
// given as interleaved samples. Empty on failure.
QByteArray encodeLossless(const Image &image, const std::vector<qint32> &frame,
                          const EncodeOptions &options)
{
    std::vector<opj_image_cmptparm_t> components(std::size_t(image.samples));
    for (auto &c : components) {
        std::memset(&c, 0, sizeof c);
        c.dx = c.dy = 1;
        c.w = OPJ_UINT32(image.columns);
        c.h = OPJ_UINT32(image.rows);
        c.prec = OPJ_UINT32(image.bitsStored);
        c.sgnd = image.isSigned ? 1 : 0;
    }
    const std::unique_ptr<opj_image_t, decltype(&opj_image_destroy)> raw(
        opj_image_create(OPJ_UINT32(image.samples), components.data(),
                         image.samples == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY),
        &opj_image_destroy);
    if (!raw)
        return {};
    raw->x0 = raw->y0 = 0;
    raw->x1 = OPJ_UINT32(image.columns);
    raw->y1 = OPJ_UINT32(image.rows);
    const std::size_t pixels = std::size_t(image.rows) * std::size_t(image.columns);
    for (int s = 0; s < image.samples; ++s)
        for (std::size_t i = 0; i < pixels; ++i)
            raw->comps[s].data[i] = frame[i * std::size_t(image.samples) + std::size_t(s)];

    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0; // no rate limit: every bit kept
    parameters.cp_disto_alloc = 1;
    parameters.irreversible = 0;
    parameters.tcp_mct = options.mct ? 1 : 0;
    int smallest = std::min(image.rows, image.columns);
    if (options.tiled) {
        parameters.tile_size_on = OPJ_TRUE;
        parameters.cp_tdx = parameters.cp_tdy = 32;
        smallest = std::min(smallest, 32);
    }
    int resolutions = 1;
    while (resolutions < 6 && (2 << (resolutions - 1)) <= smallest)
        ++resolutions;
    parameters.numresolution = resolutions;

    const std::unique_ptr<opj_codec_t, decltype(&opj_destroy_codec)> codec(
        opj_create_compress(options.jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K), &opj_destroy_codec);
    if (!codec || !opj_setup_encoder(codec.get(), &parameters, raw.get()))
        return {};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("codestream"));
    std::unique_ptr<opj_stream_t, decltype(&opj_stream_destroy)> stream(
        opj_stream_create_default_file_stream(QFile::encodeName(path).constData(), OPJ_FALSE), &opj_stream_destroy);
    if (!stream || !opj_start_compress(codec.get(), raw.get(), stream.get()) || !opj_encode(codec.get(), stream.get())
        || !opj_end_compress(codec.get(), stream.get()))
        return {};
    stream.reset(); // closes the file
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A dataset with encapsulated JPEG 2000 Pixel Data made of `fragments`, with
// an offset table when `offsets` is not empty.
std::unique_ptr<DcmDataset> encapsulated(const Image &image, const QString &photometric,
                                         const QList<QByteArray> &fragments,
                                         const std::vector<quint32> &offsets = {})
{
    auto dataset = std::make_unique<DcmDataset>();
    dataset->putAndInsertString(DCM_PhotometricInterpretation, photometric.toLatin1().constData());
    dataset->putAndInsertString(DCM_NumberOfFrames, QByteArray::number(image.frames).constData());
    const std::pair<DcmTagKey, int> attributes[] = {
        {DCM_SamplesPerPixel, image.samples}, {DCM_Rows, image.rows}, {DCM_Columns, image.columns},
        {DCM_BitsAllocated, image.bitsAllocated}, {DCM_BitsStored, image.bitsStored},
        {DCM_HighBit, image.bitsStored - 1}, {DCM_PixelRepresentation, image.isSigned ? 1 : 0}};
    for (const auto &[tag, value] : attributes)
        dataset->putAndInsertUint16(tag, Uint16(value));
    if (image.samples > 1)
        dataset->putAndInsertUint16(DCM_PlanarConfiguration, 0);

    auto *sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
    QByteArray table(qsizetype(offsets.size()) * 4, '\0');
    for (std::size_t i = 0; i < offsets.size(); ++i)
        qToLittleEndian(offsets[i], table.data() + i * 4);
    for (QByteArray fragment : QList<QByteArray>{table} + fragments) {
        if (fragment.size() % 2 != 0)
            fragment.append('\0');
        auto *item = new DcmPixelItem(DCM_PixelItemTag);
        item->putUint8Array(reinterpret_cast<const Uint8 *>(fragment.constData()), Uint32(fragment.size()));
        sequence->insert(item);
    }
    auto *pixelData = new DcmPixelData(DCM_PixelData);
    pixelData->putOriginalRepresentation(EXS_JPEG2000LosslessOnly, nullptr, sequence);
    dataset->insert(pixelData, true);
    return dataset;
}

// Splits a codestream into `count` even-sized pieces (the last may be odd).
QList<QByteArray> split(const QByteArray &codestream, int count)
{
    QList<QByteArray> pieces;
    qsizetype piece = (codestream.size() + count - 1) / count;
    piece += piece % 2;
    for (qsizetype at = 0; at < codestream.size(); at += piece)
        pieces.append(codestream.mid(at, piece));
    return pieces;
}

// Source samples of frame f, interleaved: ramps with a fine texture, different
// in every frame and sample, wrapping around the whole stored range so that
// the sign bit and the top bits are all used.
std::vector<qint32> sourceFrame(const Image &image, int frame)
{
    const qint32 range = qint32(1) << image.bitsStored;
    const qint32 lowest = image.isSigned ? -range / 2 : 0;
    std::vector<qint32> samples;
    for (int r = 0; r < image.rows; ++r)
        for (int c = 0; c < image.columns; ++c)
            for (int s = 0; s < image.samples; ++s)
                samples.push_back(lowest + (r * 131 + c * 37 + s * 1009 + frame * 577 + (r * 7 + c * 13) % 23) * 41 % range);
    return samples;
}

// Little-endian bytes of samples as they sit in uncompressed Pixel Data: the
// stored bits, read the way the image's Pixel Representation says.
QByteArray storedBytes(const Image &image, const std::vector<qint32> &samples)
{
    const qint32 range = qint32(1) << image.bitsStored;
    QByteArray bytes;
    for (qint32 v : samples) {
        v &= range - 1;
        if (image.isSigned && v >= range / 2)
            v -= range;
        bytes.append(char(v & 0xFF));
        if (image.bitsAllocated == 16)
            bytes.append(char((v >> 8) & 0xFF));
    }
    return bytes;
}

// One roundTrip row: the image, how its codestreams are made and how they
// are laid out in Pixel Data.
struct RoundTripCase
{
    Image image;
    int fragmentsPerFrame = 1;
    bool offsetTable = false;
    EncodeOptions options;
    int padding = 0; // zero bytes some writers leave after a codestream's end
    // The dataset's Pixel Representation contradicts the codestream, as some
    // writers do (pydicom's J2K_pixelrep_mismatch.dcm): the dataset decides.
    bool signFlipped = false;
};

} // namespace

Q_DECLARE_METATYPE(RoundTripCase)

class Jpeg2000Test : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pydicomSamples_data();
    void pydicomSamples();
    void roundTrip_data();
    void roundTrip();
    void badInput_data();
    void badInput();

private:
    dicom::CodecRegistration m_codecs;
    QTemporaryDir m_dir;
};

void Jpeg2000Test::initTestCase()
{
    dicom::prepareDcmtkLibrary();
    QVERIFY(m_dir.isValid());
    QStringList arguments{QStringLiteral("-c"), QString::fromUtf8(referenceScript), m_dir.path()};
    for (const QString &name : samples)
        arguments << pydicomFolder + u'/' + name << (needsTilePartRepair(name) ? QStringLiteral("1") : QStringLiteral("0"));
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), arguments);
    QVERIFY(python.waitForFinished(120000));
    QVERIFY2(python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0,
             python.readAllStandardError().constData());
}

void Jpeg2000Test::pydicomSamples_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("n");
    for (int n = 0; n < samples.size(); ++n)
        QTest::newRow(qPrintable(samples[n])) << pydicomFolder + u'/' + samples[n] << n;
}

void Jpeg2000Test::pydicomSamples()
{
    QFETCH(QString, path);
    QFETCH(int, n);
    QFile referenceFile(m_dir.filePath(QStringLiteral("%1.raw").arg(n)));
    QFile failure(m_dir.filePath(QStringLiteral("%1.err").arg(n)));
    const bool referenceOk = referenceFile.open(QIODevice::ReadOnly);
    QCOMPARE(failure.open(QIODevice::ReadOnly), !referenceOk);
    const QByteArray reference = referenceFile.readAll();
    DcmFileFormat file;
    QVERIFY(file.loadFile(QFile::encodeName(path).constData()).good());
    DcmDataset &dataset = *file.getDataset();
    const OFString photometric = photometricOf(dataset);
    Uint16 samples = 0;
    QVERIFY(dataset.findAndGetUint16(DCM_SamplesPerPixel, samples).good());

    const OFCondition cond = dataset.chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    if (isBrokenImage(QFileInfo(path).fileName())) {
        QVERIFY(cond.bad());
        QVERIFY2(conditionText(cond).startsWith(QStringLiteral("JPEG 2000 frame 1 of 1: ")),
                 qPrintable(conditionText(cond)));
        QVERIFY2(!referenceOk, "pydicom decoded a file expected to be broken");
        QCOMPARE(photometricOf(dataset), photometric);
        return;
    }
    QVERIFY2(cond.good(), qPrintable(conditionText(cond)));
    QVERIFY2(referenceOk, failure.readAll().constData());

    const QByteArray decoded = decodedBytes(dataset, reference.size());
    QCOMPARE(decoded.size(), reference.size());
    QVERIFY2(decoded == reference, "samples differ from pydicom's");
    // JPEG 2000's own colour transforms are undone: the pixels are RGB now.
    const bool jpeg2000Colour = photometric == "YBR_RCT" || photometric == "YBR_ICT";
    QCOMPARE(photometricOf(dataset), jpeg2000Colour ? OFString("RGB") : photometric);
    Uint16 planar = 1;
    QVERIFY(samples == 1 || (dataset.findAndGetUint16(DCM_PlanarConfiguration, planar).good() && planar == 0));
}

void Jpeg2000Test::roundTrip_data()
{
    QTest::addColumn<RoundTripCase>("c");
    // Image: rows, columns, samples, bits allocated, bits stored, signed, frames.
    // Then fragments per frame, offset table, {JP2, MCT, tiles}, padding.
    QTest::newRow("CT 16-bit signed") << RoundTripCase{{128, 128, 1, 16, 16, true, 1}, 1, false, {}, 0};
    QTest::newRow("CT 16-bit signed, JP2, 3 fragments, tiles")
        << RoundTripCase{{128, 96, 1, 16, 16, true, 1}, 3, false, {true, false, true}, 0};
    QTest::newRow("YBR_RCT 8-bit, 3 frames of 2 fragments, offset table, tiles, padded")
        << RoundTripCase{{64, 48, 3, 8, 8, false, 3}, 2, true, {false, true, true}, 4};
    QTest::newRow("RGB 8-bit, 3 frames of 3 fragments, no offset table")
        << RoundTripCase{{40, 48, 3, 8, 8, false, 3}, 3, false, {}, 0};
    QTest::newRow("12-bit unsigned in 16, 3 frames") << RoundTripCase{{64, 64, 1, 16, 12, false, 3}, 1, false, {}, 0};
    QTest::newRow("8-bit unsigned, 3 odd-sized frames, JP2")
        << RoundTripCase{{31, 33, 1, 8, 8, false, 3}, 2, false, {true, false, false}, 0};
    QTest::newRow("8-bit signed") << RoundTripCase{{32, 40, 1, 8, 8, true, 1}, 1, false, {}, 0};
    QTest::newRow("unsigned 12-bit codestream, signed dataset")
        << RoundTripCase{{16, 16, 1, 16, 12, false, 1}, 1, false, {}, 0, true};
    // At 12 bits in 16 the same bits read as the other kind differ in the top
    // nibble; at 8 or 16 stored bits they would not.
    QTest::newRow("signed 12-bit codestream, unsigned dataset")
        << RoundTripCase{{16, 16, 1, 16, 12, true, 1}, 1, false, {}, 0, true};
}

void Jpeg2000Test::roundTrip()
{
    QFETCH(RoundTripCase, c);
    const Image &image = c.image;
    Image stated = image;
    stated.isSigned = image.isSigned != c.signFlipped;
    const bool colour = image.samples == 3;
    const QString photometric = !colour ? QStringLiteral("MONOCHROME2")
        : c.options.mct                 ? QStringLiteral("YBR_RCT")
                                        : QStringLiteral("RGB");
    const OFString decodedPhotometric = colour ? "RGB" : "MONOCHROME2";
    QList<QByteArray> fragments;
    std::vector<quint32> offsets;
    QByteArray expected;
    quint32 position = 0;
    for (int f = 0; f < image.frames; ++f) {
        const std::vector<qint32> source = sourceFrame(image, f);
        expected += storedBytes(stated, source);
        QByteArray codestream = encodeLossless(image, source, c.options);
        QVERIFY(!codestream.isEmpty());
        codestream.append(c.padding, '\0');
        QCOMPARE(codestream.startsWith("\xFF\x4F\xFF\x51"), !c.options.jp2);
        if (c.offsetTable)
            offsets.push_back(position);
        const QList<QByteArray> pieces = split(codestream, c.fragmentsPerFrame);
        QCOMPARE(pieces.size(), c.fragmentsPerFrame);
        for (const QByteArray &piece : pieces)
            position += quint32(piece.size() + piece.size() % 2) + 8;
        fragments += pieces;
    }

    // Whole-image decoding, as a viewer or an export does.
    const auto dataset = encapsulated(stated, photometric, fragments, offsets);
    const OFCondition cond = dataset->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    QVERIFY2(cond.good(), qPrintable(conditionText(cond)));
    QVERIFY(decodedBytes(*dataset, expected.size()) == expected);
    QCOMPARE(photometricOf(*dataset), decodedPhotometric);
    Uint16 planar = 1;
    QVERIFY(!colour || (dataset->findAndGetUint16(DCM_PlanarConfiguration, planar).good() && planar == 0));
    if (image.frames == 1)
        return;

    // One frame at a time from a dataset that was never decoded whole: frame 2
    // without knowing where it starts, then frame 3 from where frame 2 ended.
    const auto fresh = encapsulated(stated, photometric, fragments, offsets);
    DcmElement *element = nullptr;
    QVERIFY(fresh->findAndGetElement(DCM_PixelData, element).good());
    auto *pixelData = static_cast<DcmPixelData *>(element);
    const qsizetype frameBytes = image.frameBytes();
    QByteArray buffer(frameBytes + 1, '\0');
    Uint32 startFragment = 0;
    // What a DicomImage reading single frames asks before it allocates.
    OFString colorModel;
    QVERIFY(pixelData->getDecompressedColorModel(fresh.get(), colorModel).good());
    QCOMPARE(colorModel, decodedPhotometric);
    for (const Uint32 frame : {1u, 2u}) {
        const OFCondition frameCond = pixelData->getUncompressedFrame(fresh.get(), frame, startFragment, buffer.data(),
                                                                      Uint32(buffer.size()), colorModel);
        QVERIFY2(frameCond.good(), qPrintable(conditionText(frameCond)));
        QVERIFY(buffer.left(frameBytes) == expected.mid(frame * frameBytes, frameBytes));
        if (frame == 1)
            QCOMPARE(startFragment, Uint32(1 + 2 * c.fragmentsPerFrame));
        QCOMPARE(colorModel, decodedPhotometric);
    }
    QCOMPARE(photometricOf(*fresh), OFString(photometric.toLatin1().constData()));
}

void Jpeg2000Test::badInput_data()
{
    QTest::addColumn<QList<QByteArray>>("fragments");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("bitsAllocated");
    QTest::addColumn<QString>("expected"); // part of the error text

    const Image ct{64, 64, 1, 16, 16, true, 1};
    const QByteArray good = encodeLossless(ct, sourceFrame(ct, 0), {});
    const QByteArray goodJp2 = encodeLossless(ct, sourceFrame(ct, 0), {true, false, false});
    QVERIFY(good.size() > 200 && goodJp2.size() > 200);
    const qsizetype firstTilePart = good.indexOf("\xFF\x90");
    QVERIFY(firstTilePart > 0);
    // Four 32 x 32 tiles; cut where the third tile-part starts and close the
    // codestream there, as a transfer stopping at a fragment boundary would.
    const QByteArray tiled = encodeLossless(ct, sourceFrame(ct, 0), {false, false, true});
    qsizetype thirdTilePart = -1;
    for (int i = 0; i < 3; ++i)
        thirdTilePart = tiled.indexOf("\xFF\x90", thirdTilePart + 1);
    QVERIFY(thirdTilePart > 0);

    QRandomGenerator random(20240115);
    QByteArray noise(4096, '\0');
    for (char &b : noise)
        b = char(random.bounded(256));

    // A last tile-part may leave its length open (Psot 0); then only the
    // decoder itself can notice the data ending early.
    QByteArray openLength = good;
    openLength.replace(firstTilePart + 6, 4, QByteArray(4, '\0'));

    const QString failed = QStringLiteral("JPEG 2000 frame 1 of 1: ");
    const QString pastTheEnd = QStringLiteral("runs past the end of the data");
    const QString notJ2k = QStringLiteral("not a JPEG 2000 codestream");
    const auto row = [](const char *label, const QList<QByteArray> &fragments, const QString &expected,
                        int frames = 1, int rows = 64, int bitsAllocated = 16) {
        QTest::newRow(label) << fragments << frames << rows << bitsAllocated << expected;
    };
    row("truncated in the middle", {good.left(good.size() / 2)}, pastTheEnd);
    row("last 40 bytes missing", {good.left(good.size() - 40)}, pastTheEnd);
    row("open-length tile-part truncated", {openLength.left(good.size() / 2)}, QStringLiteral("decoding failed"));
    row("two of four tiles", {tiled.left(thirdTilePart) + "\xFF\xD9"}, QStringLiteral("2 of 4 tiles missing"));
    row("random bytes", {noise}, notJ2k);
    row("main header, then random bytes", {good.left(firstTilePart) + noise}, failed);
    row("JP2 cut inside its header", {goodJp2.left(40)}, failed);
    row("empty fragment", {QByteArray()}, notJ2k);
    row("more frames than fragments", {good, good}, QStringLiteral("3 frames but its pixel data only 2 fragments"), 3);
    row("dataset smaller than the codestream", {good}, QStringLiteral("the dataset says"), 1, 32);
    row("16-bit samples, 8 bits allocated", {good}, QStringLiteral("more than 8 bits allocated"), 1, 64, 8);
}

void Jpeg2000Test::badInput()
{
    QFETCH(QList<QByteArray>, fragments);
    QFETCH(int, frames);
    QFETCH(int, rows);
    QFETCH(int, bitsAllocated);
    QFETCH(QString, expected);

    const Image image{rows, 64, 1, bitsAllocated, bitsAllocated, true, frames};
    const auto dataset = encapsulated(image, QStringLiteral("MONOCHROME2"), fragments);
    const OFCondition cond = dataset->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    QVERIFY(cond.bad());
    QVERIFY2(conditionText(cond).contains(expected), qPrintable(conditionText(cond)));
    // The compressed pixels stay, so that the file can still be stored as it came.
    QVERIFY(!dataset->hasRepresentation(EXS_LittleEndianExplicit, nullptr));
    QVERIFY(dataset->hasRepresentation(EXS_JPEG2000LosslessOnly, nullptr));
}

QTEST_GUILESS_MAIN(Jpeg2000Test)
#include "test_jpeg2000.moc"
