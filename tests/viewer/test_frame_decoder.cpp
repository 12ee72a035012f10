// renderFrame and loadDecodedFrame.
//
// Expected values come from the series generator's pixelValue(), from files
// built here with DCMTK whose pixels are known, and from pydicom's own
// decoding of its sample files (run as /usr/bin/python3).

#include "dicom/CodecRegistration.h"
#include "dicom/DatasetEditor.h"
#include "dicom/HostileFiles.h"
#include "ui/viewer/GeneratedSlices.h"
#include "viewer/FrameDecoder.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

using velmaris::gen::Compression;
using velmaris::gen::Kind;
using velmaris::gen::SeriesSpec;
using velmaris::testing::seriesSpec;

namespace {

const QString python = QStringLiteral("/usr/bin/python3");
const QString pydicomFolder = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files");

// Runs pydicom on one file: mode "values" gives float64 of pixel_array × slope
// + intercept for the frame, mode "rgb" gives uint8 RGB (YBR converted).
const char pydicomScript[] = R"PY(
import sys, json, numpy as np, pydicom
from pydicom.pixel_data_handlers.util import convert_color_space
path, out, mode, frame = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
ds = pydicom.dcmread(path)
arr = ds.pixel_array
if int(ds.get('NumberOfFrames', 1) or 1) > 1:
    arr = arr[frame]
if mode == 'values':
    v = arr.astype(np.float64) * float(ds.get('RescaleSlope', 1) or 1) + float(ds.get('RescaleIntercept', 0) or 0)
else:
    pi = str(ds.PhotometricInterpretation)
    if pi.startswith('YBR'):
        arr = convert_color_space(arr, pi, 'RGB')
    v = arr.astype(np.uint8)
open(out, 'wb').write(np.ascontiguousarray(v).astype(v.dtype.newbyteorder('<')).tobytes())
print(json.dumps(list(v.shape)))
)PY";

struct PyResult
{
    bool ok = false;
    QByteArray bytes;
    QList<int> shape;
    QString error;
};

PyResult runPydicom(const QString &path, const QString &scratch, const char *mode)
{
    PyResult result;
    const QString out = scratch + QStringLiteral("/pydicom.raw");
    QProcess process;
    process.start(python, {QStringLiteral("-c"), QString::fromLatin1(pydicomScript), path, out,
                           QString::fromLatin1(mode), QStringLiteral("0")});
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        result.error = QString::fromUtf8(process.readAllStandardError());
        return result;
    }
    for (const auto &v : QJsonDocument::fromJson(process.readAllStandardOutput().trimmed()).array())
        result.shape << v.toInt();
    QFile file(out);
    result.ok = file.open(QIODevice::ReadOnly);
    result.bytes = file.readAll();
    return result;
}

// A Secondary Capture object with 8-bit unsigned pixels and the attributes
// `fill` adds.
bool writeImage(const QString &path, int rows, int columns, const std::function<void(DcmDataset &)> &fill)
{
    DcmFileFormat file;
    DcmDataset &ds = *file.getDataset();
    char uid[100];
    ds.putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    ds.putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT));
    ds.putAndInsertString(DCM_StudyInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_STUDY_UID_ROOT));
    ds.putAndInsertString(DCM_SeriesInstanceUID, dcmGenerateUniqueIdentifier(uid, SITE_SERIES_UID_ROOT));
    ds.putAndInsertString(DCM_Modality, "OT");
    ds.putAndInsertUint16(DCM_Rows, Uint16(rows));
    ds.putAndInsertUint16(DCM_Columns, Uint16(columns));
    ds.putAndInsertUint16(DCM_BitsAllocated, 8);
    ds.putAndInsertUint16(DCM_BitsStored, 8);
    ds.putAndInsertUint16(DCM_HighBit, 7);
    ds.putAndInsertUint16(DCM_PixelRepresentation, 0);
    fill(ds);
    return file.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit).good();
}

// Converts a file to another uncompressed transfer syntax with DCMTK and
// returns the VR Pixel Data got there.
QString rewrite(const QString &from, const QString &to, E_TransferSyntax xfer)
{
    DcmFileFormat file;
    if (file.loadFile(QFile::encodeName(from).constData()).bad())
        return QString();
    file.loadAllDataIntoMemory();
    if (file.saveFile(QFile::encodeName(to).constData(), xfer).bad())
        return QString();
    DcmFileFormat back;
    DcmElement *element = nullptr;
    if (back.loadFile(QFile::encodeName(to).constData()).bad()
        || back.getDataset()->findAndGetElement(DCM_PixelData, element).bad())
        return QString();
    return QString::fromLatin1(element->getTag().getVRName());
}

std::vector<double> expectedValues(const SeriesSpec &spec, int slice)
{
    std::vector<double> values;
    for (int r = 0; r < spec.rows; ++r)
        for (int c = 0; c < spec.columns; ++c)
            values.push_back(velmaris::gen::pixelValue(spec, slice, r, c) * spec.rescaleSlope
                             + spec.rescaleIntercept);
    return values;
}

// DCMTK's linear VOI function to 8 bits.
int linearWindow(double x, double center, double width)
{
    const double low = center - 0.5 - (width - 1) / 2;
    const double high = center - 0.5 + (width - 1) / 2;
    if (x <= low)
        return 0;
    if (x > high)
        return 255;
    return int(std::lround(((x - (center - 0.5)) / (width - 1) + 0.5) * 255));
}

QByteArray pixels(const QImage &image)
{
    QByteArray bytes;
    const int rowBytes = image.format() == QImage::Format_RGB888 ? image.width() * 3 : image.width();
    for (int y = 0; y < image.height(); ++y)
        bytes.append(reinterpret_cast<const char *>(image.constScanLine(y)), rowBytes);
    return bytes;
}

bool sameImage(const QImage &a, const QImage &b)
{
    return a.size() == b.size() && a.format() == b.format() && pixels(a) == pixels(b);
}

render::RenderedFrame renderWith(const QString &path, int frame, double center, double width)
{
    return render::renderFrame(path, frame, render::WindowRequest{center, width, true});
}

render::RenderedFrame renderDefault(const QString &path, int frame = 0)
{
    return render::renderFrame(path, frame, render::WindowRequest());
}

render::DecodedFrame decode(const QString &path, int frame, QString *error = nullptr)
{
    render::DecodedFrame out;
    render::loadDecodedFrame(out, path, frame, error);
    return out;
}

} // namespace

class FrameDecoderTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void losslessTwinsMatchPydicom_data();
    void losslessTwinsMatchPydicom();
    void rescale_data();
    void rescale();
    void enhancedRescale();
    void eightBitOwDecodes();
    void frameSelectionAndBounds();
    void colourCine_data();
    void colourCine();
    void loopFrames_data();
    void loopFrames();
    void renderWindows();
    void renderRgb_data();
    void renderRgb();
    void renderPaletteColor();
    void refused_data();
    void refused();
    void concurrentCallers();

private:
    // Writes the series into a folder of its own; its first file.
    QString generate(SeriesSpec &spec);
    static QString sample(const QString &name) { return pydicomFolder + QLatin1Char('/') + name; }

    dicom::CodecRegistration m_codecs;
    QTemporaryDir m_dir;
    int m_generated = 0;
    PyResult m_mrSmall; // pydicom's values of MR_small.dcm
};

void FrameDecoderTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_mrSmall = runPydicom(sample(QStringLiteral("MR_small.dcm")), m_dir.path(), "values");
    QVERIFY2(m_mrSmall.ok, qPrintable("pydicom and its test files are needed (python3-pydicom): " + m_mrSmall.error));
}

QString FrameDecoderTest::generate(SeriesSpec &spec)
{
    QStringList paths;
    QString error;
    if (!velmaris::gen::writeSeries(spec, m_dir.filePath(QStringLiteral("s%1").arg(++m_generated)), &paths, &error))
        qWarning("writeSeries: %s", qPrintable(error));
    return paths.value(0);
}

void FrameDecoderTest::losslessTwinsMatchPydicom_data()
{
    QTest::addColumn<QString>("file");
    for (const char *name : {"MR_small.dcm", "MR_small_RLE.dcm", "MR_small_jpeg_ls_lossless.dcm",
                             "MR_small_bigendian.dcm", "MR_small_expb.dcm", "MR_small_implicit.dcm",
                             "MR_small_jp2klossless.dcm"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// Every lossless encoding of MR_small holds the values pydicom reads from the
// plain one, and draws the same picture.
void FrameDecoderTest::losslessTwinsMatchPydicom()
{
    QFETCH(QString, file);
    const QString reference = sample(QStringLiteral("MR_small.dcm"));
    const render::DecodedFrame frame = decode(sample(file), 0);
    QVERIFY2(frame.ok, qPrintable(frame.error));
    QCOMPARE(m_mrSmall.shape, (QList<int>{frame.height, frame.width}));
    std::vector<double> expected(std::size_t(m_mrSmall.bytes.size()) / sizeof(double));
    std::memcpy(expected.data(), m_mrSmall.bytes.constData(), expected.size() * sizeof(double));
    QVERIFY(frame.values == expected);
    const render::RenderedFrame expectedPicture = renderWith(reference, 0, 1000, 2000);
    const render::RenderedFrame picture = renderWith(sample(file), 0, 1000, 2000);
    QVERIFY(expectedPicture.ok && picture.ok);
    QVERIFY(sameImage(picture.image, expectedPicture.image));
}

void FrameDecoderTest::rescale_data()
{
    QTest::addColumn<bool>("signedPixels");
    QTest::addColumn<QByteArray>("slope"); // null: element removed
    QTest::addColumn<QByteArray>("intercept");
    QTest::addColumn<int>("firstWord"); // stored at pixel 0; -1: the generator's
    QTest::addColumn<double>("firstValue");
    QTest::addColumn<double>("slopeUsed");
    QTest::addColumn<double>("interceptUsed");
    // The same word read as −1024 and as 64512.
    QTest::newRow("signed") << true << QByteArray("1") << QByteArray("-1024") << 0xFC00 << -2048.0 << 1.0 << -1024.0;
    QTest::newRow("unsigned") << false << QByteArray("1") << QByteArray("-1024") << 0xFC00 << 63488.0 << 1.0
                              << -1024.0;
    QTest::newRow("fractional slope") << false << QByteArray("2.5") << QByteArray("-10") << -1 << 0.0 << 2.5 << -10.0;
    QTest::newRow("empty") << true << QByteArray("") << QByteArray("") << -1 << 0.0 << 1.0 << 0.0;
    QTest::newRow("absent") << true << QByteArray() << QByteArray() << -1 << 0.0 << 1.0 << 0.0;
    QTest::newRow("junk slope") << true << QByteArray("nonsense") << QByteArray("-5") << -1 << 0.0 << 1.0 << -5.0;
    QTest::newRow("first of several") << true << QByteArray("3\\4") << QByteArray("7\\8") << -1 << 0.0 << 3.0 << 7.0;
}

void FrameDecoderTest::rescale()
{
    QFETCH(bool, signedPixels);
    QFETCH(QByteArray, slope);
    QFETCH(QByteArray, intercept);
    QFETCH(int, firstWord);
    QFETCH(double, firstValue);
    QFETCH(double, slopeUsed);
    QFETCH(double, interceptUsed);
    SeriesSpec spec = seriesSpec(1, 16, 16);
    spec.signedPixels = signedPixels;
    const QString path = generate(spec);
    QVERIFY(velmaris::testing::editDataset(path, [&](DcmDataset &ds) {
        for (const auto &[tag, text] : {std::pair{DCM_RescaleSlope, slope}, std::pair{DCM_RescaleIntercept, intercept}})
            text.isNull() ? void(ds.findAndDeleteElement(tag)) : void(ds.putAndInsertString(tag, text.constData()));
        DcmElement *element = nullptr;
        Uint16 *words = nullptr;
        if (firstWord >= 0 && ds.findAndGetElement(DCM_PixelData, element).good()
            && element->getUint16Array(words).good())
            words[0] = Uint16(firstWord);
    }));
    const render::DecodedFrame frame = decode(path, 0);
    QVERIFY2(frame.ok, qPrintable(frame.error));
    QCOMPARE(QSize(frame.width, frame.height), QSize(16, 16));
    std::vector<double> expected;
    for (int i = 0; i < 16 * 16; ++i)
        expected.push_back(velmaris::gen::pixelValue(spec, 0, i / 16, i % 16) * slopeUsed + interceptUsed);
    if (firstWord >= 0)
        expected[0] = firstValue;
    QVERIFY(frame.values == expected);
}

// Enhanced objects carry the rescale in functional groups, the frame's own
// before the shared one; read at the top level only, values came out raw.
void FrameDecoderTest::enhancedRescale()
{
    SeriesSpec spec = seriesSpec(2, 16, 16, Kind::EnhancedMultiFrame);
    spec.rescaleSlope = 2.5;
    spec.rescaleIntercept = -10.0;
    const auto expected = [&spec](int frame, double slope, double intercept) {
        std::vector<double> values;
        for (int i = 0; i < 16 * 16; ++i)
            values.push_back(velmaris::gen::pixelValue(spec, frame, i / 16, i % 16) * slope + intercept);
        return values;
    };
    const QString shared = generate(spec);
    const QString own = generate(spec);
    const QString group = QStringLiteral("PerFrameFunctionalGroupsSequence[1].PixelValueTransformationSequence[0].");
    QVERIFY(velmaris::testing::setValues(own, {group + "RescaleSlope=3", group + "RescaleIntercept=7"}));
    for (const auto &[path, frame, slope, intercept] : {std::tuple{shared, 1, 2.5, -10.0}, std::tuple{own, 0, 2.5, -10.0},
                                                        std::tuple{own, 1, 3.0, 7.0}}) {
        const render::DecodedFrame decoded = decode(path, frame);
        QVERIFY2(decoded.ok, qPrintable(decoded.error));
        QVERIFY2(decoded.values == expected(frame, slope, intercept), qPrintable(path + QString::number(frame)));
    }
}

void FrameDecoderTest::eightBitOwDecodes()
{
    // 8-bit data, written by DCMTK in explicit VR (OB), implicit VR little
    // endian (OW, as such files store Pixel Data) and explicit big endian OW.
    SeriesSpec spec = seriesSpec(1, 24, 37, Kind::MR); // odd width: the last byte shares a word with padding
    spec.bitsAllocated = 8;
    spec.signedPixels = false;
    spec.rescaleSlope = 8.0;
    spec.rescaleIntercept = 0.0;
    const QString explicitPath = generate(spec);
    const QString implicitPath = explicitPath + QStringLiteral(".implicit");
    QCOMPARE(rewrite(explicitPath, implicitPath, EXS_LittleEndianImplicit), QStringLiteral("OW"));
    const QString bigEndianPath = explicitPath + QStringLiteral(".bigendian");
    QCOMPARE(rewrite(implicitPath, bigEndianPath, EXS_BigEndianExplicit), QStringLiteral("OW"));

    const std::vector<double> expected = expectedValues(spec, 0);
    QVERIFY(*std::max_element(expected.begin(), expected.end()) > 1000); // the high bit is used
    const render::RenderedFrame reference = renderWith(explicitPath, 0, 600, 1200);
    QVERIFY(reference.ok);
    for (const QString &path : {explicitPath, implicitPath, bigEndianPath}) {
        const render::DecodedFrame frame = decode(path, 0);
        QVERIFY2(frame.ok, qPrintable(frame.error));
        QCOMPARE(QSize(frame.width, frame.height), QSize(37, 24));
        QVERIFY2(frame.values == expected, qPrintable(path));
        const render::RenderedFrame picture = renderWith(path, 0, 600, 1200);
        QVERIFY2(picture.ok && sameImage(picture.image, reference.image), qPrintable(path));
    }
}

void FrameDecoderTest::frameSelectionAndBounds()
{
    SeriesSpec spec = seriesSpec(10, 24, 20, Kind::ClassicMultiFrame);
    const QString path = generate(spec);
    const render::RenderedFrame first = renderWith(path, 0, 40, 60);
    const render::RenderedFrame last = renderWith(path, 9, 40, 60);
    QVERIFY(first.ok && last.ok && !sameImage(first.image, last.image));
    QCOMPARE(last.frameCount, 10);
    // Out of range clamps; for drawing, -1 is the middle frame.
    QVERIFY(sameImage(renderWith(path, 50, 40, 60).image, last.image));
    QVERIFY(sameImage(renderWith(path, -3, 40, 60).image, first.image));
    const QImage middle = renderWith(path, -1, 40, 60).image;
    QVERIFY(sameImage(middle, renderWith(path, 5, 40, 60).image) && !sameImage(middle, last.image));
    for (const auto &[asked, shown] : {std::pair{-3, 0}, std::pair{50, 9}})
        QVERIFY(decode(path, asked).values == expectedValues(spec, shown));

    const render::DecodedFrame frame = decode(path, 4);
    QVERIFY(frame.values == expectedValues(spec, 4));
    QCOMPARE(render::valueAt(frame, 19, 23), velmaris::gen::pixelValue(spec, 4, 23, 19) + spec.rescaleIntercept);
    for (const auto &[x, y] : {std::pair{20, 0}, std::pair{0, 24}, std::pair{-1, 0}, std::pair{0, -1}})
        QCOMPARE(render::valueAt(frame, x, y), 0.0);
    render::DecodedFrame failed = frame;
    failed.ok = false;
    QCOMPARE(render::valueAt(failed, 7, 3), 0.0);
}

void FrameDecoderTest::colourCine_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("perFrame");
    QTest::newRow("17 frames: one at a time") << 17 << true;
    QTest::newRow("16 frames: whole") << 16 << false;
}

void FrameDecoderTest::colourCine()
{
    QFETCH(int, frames);
    QFETCH(bool, perFrame);
    const QString path = m_dir.filePath(QStringLiteral("rgb%1.dcm").arg(frames));
    // Red carries the frame number, green the column, blue the row.
    QByteArray data;
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                data.append(char(f * 10)).append(char(x * 30)).append(char(y * 30));
    QVERIFY(writeImage(path, 8, 8, [&](DcmDataset &ds) {
        ds.putAndInsertUint16(DCM_SamplesPerPixel, 3);
        ds.putAndInsertString(DCM_PhotometricInterpretation, "RGB");
        ds.putAndInsertUint16(DCM_PlanarConfiguration, 0);
        ds.putAndInsertString(DCM_NumberOfFrames, QByteArray::number(frames).constData());
        ds.putAndInsertUint8Array(DCM_PixelData, reinterpret_cast<const Uint8 *>(data.constData()), Uint32(data.size()));
    }));
    const auto keyFor = [&](int f) { return perFrame ? QStringLiteral("%1#%2").arg(path).arg(f) : path; };

    const auto before = render::decoderStatistics();
    for (const int f : {frames - 4, frames - 3, frames - 3}) {
        const render::RenderedFrame picture = renderWith(path, f, 40, 400);
        QVERIFY(picture.ok && picture.frameCount == frames && picture.image.format() == QImage::Format_RGB888);
        QCOMPARE(picture.image.size(), QSize(8, 8));
        QCOMPARE(picture.image.pixel(5, 2), qRgb(f * 10, 5 * 30, 2 * 30));
        QCOMPARE(render::renderCacheKey(), keyFor(f));
    }
    QCOMPARE(render::decoderStatistics().renderImageLoads - before.renderImageLoads, std::uint64_t(perFrame ? 2 : 1));
    const render::RenderedFrame middle = renderDefault(path, -1);
    QVERIFY(middle.ok);
    QCOMPARE(middle.image.pixel(0, 0), qRgb((frames / 2) * 10, 0, 0));
    QCOMPARE(render::renderCacheKey(), keyFor(frames / 2));
}

void FrameDecoderTest::loopFrames_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("compression");
    QTest::addColumn<bool>("fileWindow");
    QTest::addColumn<bool>("perFrame"); // decoded and drawn a frame at a time
    QTest::newRow("JPEG-LS loop, file window") << 20 << int(Compression::JpegLs) << true << true;
    QTest::newRow("RLE loop, file window") << 20 << int(Compression::Rle) << true << true;
    QTest::newRow("JPEG lossless loop, file window") << 20 << int(Compression::JpegLossless) << true << true;
    QTest::newRow("JPEG-LS loop, min-max window of every frame") << 20 << int(Compression::JpegLs) << false << false;
    QTest::newRow("3 JPEG lossless frames: whole") << 3 << int(Compression::JpegLossless) << true << false;
    QTest::newRow("uncompressed loop: whole") << 20 << int(Compression::None) << true << false;
}

// Frames of a loop draw and measure as the same frames of its uncompressed
// twin, which is decoded whole; each decoder keeps one file parsed.
void FrameDecoderTest::loopFrames()
{
    QFETCH(int, frames);
    QFETCH(int, compression);
    QFETCH(bool, fileWindow);
    QFETCH(bool, perFrame);
    SeriesSpec spec = seriesSpec(frames, 16, 12, Kind::ClassicMultiFrame);
    if (!fileWindow) {
        spec.windowCenter.clear();
        spec.windowWidth.clear();
    }
    const QString plain = generate(spec);
    spec.compression = Compression(compression);
    spec.studyInstanceUid.clear();
    spec.seriesInstanceUid.clear();
    const QString loop = generate(spec);
    QVERIFY(!plain.isEmpty() && !loop.isEmpty());
    const QList<int> shown{frames * 2 / 3, 0, frames - 1};

    const auto loads = [] { return render::decoderStatistics().valueFileLoads; };
    const auto before = loads();
    std::vector<std::vector<double>> values;
    for (const int frame : shown) { // later frames: no new parse
        const render::DecodedFrame decoded = decode(loop, frame);
        QVERIFY2(decoded.ok, qPrintable(decoded.error));
        values.push_back(decoded.values);
    }
    QCOMPARE(loads(), before + 1);
    for (qsizetype i = 0; i < shown.size(); ++i)
        QVERIFY(decode(plain, shown[i]).values == values[std::size_t(i)]);
    QVERIFY(decode(loop, 0).values == values[1]); // one entry: parsed again
    QCOMPARE(loads(), before + 3);

    for (const int frame : shown) {
        const render::RenderedFrame expected = renderDefault(plain, frame);
        const render::RenderedFrame picture = renderDefault(loop, frame);
        QVERIFY(picture.ok && expected.ok);
        QVERIFY(sameImage(picture.image, expected.image));
        QCOMPARE(picture.windowCenter, expected.windowCenter);
        QCOMPARE(picture.windowWidth, expected.windowWidth);
        QCOMPARE(render::renderCacheKey(), perFrame ? QStringLiteral("%1#%2").arg(loop).arg(frame) : loop);
        QVERIFY(sameImage(renderWith(loop, frame, 30, 300).image, renderWith(plain, frame, 30, 300).image));
    }
    // Paged through twice after another file: each frame decoded once, and
    // the renderer never touches the value cache.
    QVERIFY(renderDefault(plain, 0).ok);
    const auto imageLoads = [] { return render::decoderStatistics().renderImageLoads; };
    const auto beforePaging = imageLoads();
    for (const int frame : shown)
        QVERIFY(renderDefault(loop, frame).ok);
    if (perFrame)
        QCOMPARE(imageLoads() - beforePaging, std::uint64_t(shown.size()));
    const auto paged = imageLoads();
    for (const int frame : shown)
        QVERIFY(renderDefault(loop, frame).ok);
    QCOMPARE(imageLoads(), paged);
    QCOMPARE(loads(), before + 3);
}

void FrameDecoderTest::renderWindows()
{
    // A given window applied to every pixel; MONOCHROME1 drawn inverted.
    SeriesSpec spec = seriesSpec(1, 40, 56);
    const QString mono2 = generate(spec);
    const QString mono1 = generate(spec);
    QVERIFY(velmaris::testing::editDataset(mono1, [](DcmDataset &ds) {
        ds.putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME1");
    }));
    const std::vector<double> values = expectedValues(spec, 0);
    for (const auto &[center, width] : {std::pair{40.0, 400.0}, std::pair{-600.0, 1500.0}})
        for (const QString &path : {mono2, mono1}) {
            const render::RenderedFrame r = renderWith(path, 0, center, width);
            QVERIFY(r.ok && r.frameCount == 1 && r.image.format() == QImage::Format_Grayscale8);
            QCOMPARE((std::pair{r.windowCenter, r.windowWidth}), (std::pair{center, width}));
            QCOMPARE(r.image.size(), QSize(56, 40));
            int worst = 0;
            for (int i = 0; i < 40 * 56; ++i) {
                const int grey = linearWindow(values[std::size_t(i)], center, width);
                worst = std::max(worst, std::abs(int(r.image.constScanLine(i / 56)[i % 56])
                                                 - (path == mono1 ? 255 - grey : grey)));
            }
            QVERIFY2(worst <= 1, qPrintable(QStringLiteral("grey off by %1").arg(worst)));
        }

    // None given: the first of the file's windows.
    SeriesSpec windowed = seriesSpec(1, 32, 32);
    windowed.windowCenter = QStringLiteral("-500\\40");
    windowed.windowWidth = QStringLiteral("1400\\400");
    const QString filePath = generate(windowed);
    const render::RenderedFrame fromFile = renderDefault(filePath);
    QVERIFY(fromFile.ok);
    QCOMPARE((std::pair{fromFile.windowCenter, fromFile.windowWidth}), (std::pair{-500.0, 1400.0}));
    QVERIFY(sameImage(fromFile.image, renderWith(filePath, 0, -500, 1400).image));

    // Neither: DicomImage's min-max window over all frames, after rescale.
    SeriesSpec bare = seriesSpec(3, 32, 32, Kind::ClassicMultiFrame);
    bare.windowCenter.clear();
    bare.windowWidth.clear();
    bare.rescaleSlope = 2.0;
    const QString barePath = generate(bare);
    std::vector<double> all;
    for (int f = 0; f < bare.slices; ++f)
        for (const double v : expectedValues(bare, f))
            all.push_back(v);
    const auto [low, high] = std::minmax_element(all.begin(), all.end());
    const render::RenderedFrame minMax = renderDefault(barePath, 1);
    QVERIFY(minMax.ok);
    QCOMPARE((std::pair{minMax.windowCenter, minMax.windowWidth}), (std::pair{(*low + *high + 1) / 2, *high - *low + 1}));
    QVERIFY(sameImage(minMax.image, renderWith(barePath, 1, minMax.windowCenter, minMax.windowWidth).image));
}

void FrameDecoderTest::renderRgb_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("RGB, RLE") << QStringLiteral("SC_rgb_rle.dcm") << 0;
    QTest::newRow("RGB, odd size") << QStringLiteral("SC_rgb_small_odd.dcm") << 0;
    QTest::newRow("RGB, big endian, planar") << QStringLiteral("SC_rgb_dcmtk_+eb+cr.dcm") << 0;
    QTest::newRow("YBR_FULL_422 uncompressed") << QStringLiteral("SC_ybr_full_422_uncompressed.dcm") << 2;
}

void FrameDecoderTest::renderRgb()
{
    QFETCH(QString, file);
    QFETCH(int, tolerance);
    const PyResult py = runPydicom(sample(file), m_dir.path(), "rgb");
    QVERIFY2(py.ok, qPrintable(py.error));
    const render::RenderedFrame r = renderDefault(sample(file));
    QVERIFY(r.ok);
    QCOMPARE(r.image.format(), QImage::Format_RGB888);
    QCOMPARE(py.shape, (QList<int>{r.image.height(), r.image.width(), 3}));
    const QByteArray ours = pixels(r.image);
    QCOMPARE(ours.size(), py.bytes.size());
    int worst = 0;
    for (qsizetype i = 0; i < ours.size(); ++i)
        worst = std::max(worst, std::abs(int(uchar(ours[i])) - int(uchar(py.bytes[i]))));
    QVERIFY2(worst <= tolerance, qPrintable(QStringLiteral("off by %1").arg(worst)));
}

void FrameDecoderTest::renderPaletteColor()
{
    // Index i shows (i, 255 − i, 7i mod 256); the value decoder reads i.
    const auto level = [](int c, int i) { return c == 0 ? i : c == 1 ? 255 - i : (i * 7) & 255; };
    const QString path = m_dir.filePath(QStringLiteral("palette.dcm"));
    QByteArray indices;
    for (int i = 0; i < 256; ++i)
        indices += char(i);
    QVERIFY(writeImage(path, 4, 64, [&](DcmDataset &ds) {
        const Uint16 descriptor[3] = {256, 0, 16};
        ds.putAndInsertUint16(DCM_SamplesPerPixel, 1);
        ds.putAndInsertString(DCM_PhotometricInterpretation, "PALETTE COLOR");
        for (const auto &[c, descriptorTag, dataTag] :
             {std::tuple{0, DCM_RedPaletteColorLookupTableDescriptor, DCM_RedPaletteColorLookupTableData},
              std::tuple{1, DCM_GreenPaletteColorLookupTableDescriptor, DCM_GreenPaletteColorLookupTableData},
              std::tuple{2, DCM_BluePaletteColorLookupTableDescriptor, DCM_BluePaletteColorLookupTableData}}) {
            std::vector<Uint16> lut;
            for (int i = 0; i < 256; ++i)
                lut.push_back(Uint16(level(c, i) * 0x101)); // the level in both bytes
            ds.putAndInsertUint16Array(descriptorTag, descriptor, 3);
            ds.putAndInsertUint16Array(dataTag, lut.data(), 256);
        }
        ds.putAndInsertUint8Array(DCM_PixelData, reinterpret_cast<const Uint8 *>(indices.constData()),
                                  Uint32(indices.size()));
    }));
    const render::RenderedFrame r = renderDefault(path);
    QVERIFY(r.ok);
    QCOMPARE(r.image.format(), QImage::Format_RGB888);
    QCOMPARE(r.image.size(), QSize(64, 4));
    for (int i = 0; i < 256; ++i)
        QCOMPARE(r.image.pixel(i % 64, i / 64), qRgb(level(0, i), level(1, i), level(2, i)));
    const render::DecodedFrame values = decode(path, 0);
    QVERIFY2(values.ok, qPrintable(values.error));
    QCOMPARE(render::valueAt(values, 3, 2), double(2 * 64 + 3));
}

void FrameDecoderTest::refused_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QStringList>("edits"); // planted in a generated file, as dcmodify takes them
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("expected"); // part of the error text, all of it when `whole`
    QTest::addColumn<bool>("whole");
    const auto row = [](const char *name, const char *damage, const QStringList &edits, const QString &expected,
                        int bits = 16, bool whole = false) {
        QTest::newRow(name) << QString::fromLatin1(damage) << edits << bits << expected << whole;
    };
    const QString shorter = QStringLiteral("Pixel Data короче ожидаемого");
    row("Rows doubled", "plain", {"Rows=32"}, shorter);
    row("more frames declared, 16 bit", "frames", {"NumberOfFrames=8"}, shorter);
    row("more frames declared, 8 bit", "frames", {"NumberOfFrames=8"}, shorter, 8);
    row("Pixel Data cut short, one sample", "cut", {}, shorter);
    row("empty Pixel Data", "empty", {}, QStringLiteral("(data=nullptr)"));
    row("file truncated inside Pixel Data", "file", {}, QString());
    row("Rows missing", "plain", {"Rows="}, QStringLiteral("Rows/Columns не прочитаны (rows=0, columns=16)"), 16, true);
    // Compressed files whose declarations no decoder may be trusted with:
    // DCMTK would allocate what they declare and abort the process.
    const QString tooLarge = QStringLiteral("Объявленный размер изображения не декодируется");
    row("RLE declaring 65535 × 65535", "rle", {"Rows=65535", "Columns=65535"}, tooLarge);
    row("JPEG declaring 65535 × 65535", "jpeg", {"Rows=65535", "Columns=65535"}, tooLarge);
    row("JPEG declaring 2^31 - 1 frames", "jpeg", {"NumberOfFrames=2147483647"}, tooLarge);
    row("RLE declaring 8000 × 8000 in a few kilobytes", "rle", {"Rows=8000", "Columns=8000"},
        QStringLiteral("не согласуется со сжатыми данными"));
    row("JPEG with 65535 samples per pixel", "jpeg", {"SamplesPerPixel=65535"},
        QStringLiteral("Samples per Pixel = 65535 не поддерживается"), 8);
    // Data above 16 bits allocated is refused rather than misread.
    row("32 bits allocated", "rtdose", {}, QStringLiteral("Bits Allocated = 32 не поддерживается"));
    // The library's condition text after "loadFile: ".
    row("missing file", "missing", {}, QStringLiteral("loadFile: "));
    row("not a DICOM file", "text", {}, QStringLiteral("loadFile: "));
    // Opening it would block until a writer came.
    row("named pipe", "pipe", {}, QStringLiteral("loadFile: Не является обычным файлом: %1"), 16, true);
}

// Refused by both decoders with the decoder's diagnostic text, the process alive.
void FrameDecoderTest::refused()
{
    QFETCH(QString, damage);
    QFETCH(QStringList, edits);
    QFETCH(int, bits);
    QFETCH(QString, expected);
    QFETCH(bool, whole);
    const bool multiFrame = damage == QLatin1String("frames");
    SeriesSpec spec = seriesSpec(multiFrame ? 4 : 1, 16, 16, multiFrame ? Kind::ClassicMultiFrame : Kind::CT);
    spec.bitsAllocated = bits;
    spec.signedPixels = bits == 16;
    if (damage == QLatin1String("rle") || damage == QLatin1String("jpeg")) {
        spec.compression = damage == QLatin1String("rle") ? Compression::Rle : Compression::JpegLossless;
        spec.rows = spec.columns = 100;
    }
    QString path = m_dir.filePath(damage + QString::number(m_generated++));
    if (damage == QLatin1String("file")) {
        QVERIFY(velmaris::gen::writeDamagedFile(spec, velmaris::gen::Damage::TruncatedPixelData, path));
    } else if (damage == QLatin1String("text")) {
        QVERIFY(velmaris::testing::writeBytes(path, "plain text, no image here\n"));
    } else if (damage == QLatin1String("pipe")) {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        expected = expected.arg(path);
    } else if (damage == QLatin1String("rtdose")) {
        path = sample(QStringLiteral("rtdose_1frame.dcm"));
    } else if (damage != QLatin1String("missing")) {
        path = generate(spec);
        QVERIFY(!path.isEmpty());
        QVERIFY(velmaris::testing::setValues(path, edits));
        if (damage == QLatin1String("cut") || damage == QLatin1String("empty"))
            QVERIFY(velmaris::testing::editDataset(path, [&](DcmDataset &ds) {
                const std::vector<Uint16> words(damage == QLatin1String("cut") ? 16 * 16 - 1 : 0, 7);
                ds.putAndInsertUint16Array(DCM_PixelData, words.empty() ? nullptr : words.data(), Uint32(words.size()));
            }));
    }

    // A previous result is cleared before the call starts.
    QString error;
    render::DecodedFrame frame = decode(sample(QStringLiteral("MR_small.dcm")), 0);
    QVERIFY(frame.ok && !frame.values.empty());
    QVERIFY(!render::loadDecodedFrame(frame, path, 0, &error));
    QVERIFY(!frame.ok && frame.values.empty() && !error.isEmpty());
    QCOMPARE(frame.error, error);
    QVERIFY2(whole ? error == expected : error.contains(expected), qPrintable(error));
    if (multiFrame)
        QVERIFY2(error.startsWith(QStringLiteral("rows=16 cols=16 bits=%1 pixRepr=%2 frames=8 frameIdx=0: ")
                                      .arg(bits)
                                      .arg(bits == 16 ? 1 : 0)),
                 qPrintable(error));
    QVERIFY(!render::loadDecodedFrame(frame, path, 0, nullptr)); // no error string asked for
    QCOMPARE(frame.error, error);

    // DicomImage draws 32-bit data; the renderer refuses all the rest.
    const render::RenderedFrame r = renderDefault(path);
    QCOMPARE(r.ok, damage == QLatin1String("rtdose"));
    QCOMPARE(r.image.isNull(), !r.ok);
}

void FrameDecoderTest::concurrentCallers()
{
    SeriesSpec a = seriesSpec(4, 32, 32, Kind::ClassicMultiFrame);
    a.compression = Compression::Rle;
    SeriesSpec b = seriesSpec(1, 24, 24);
    b.rescaleIntercept = -500;
    const QString paths[] = {generate(a), generate(b)};
    QVERIFY(!paths[0].isEmpty() && !paths[1].isEmpty());
    std::vector<std::vector<double>> expected; // a's frames, then b's one
    for (int f = 0; f < 4; ++f)
        expected.push_back(expectedValues(a, f));
    expected.push_back(expectedValues(b, 0));
    const QImage pictures[] = {renderWith(paths[0], 2, 40, 400).image, renderWith(paths[1], 0, 40, 400).image};

    // Threads alternate files so that each call finds the other's entry cached.
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                const int file = (i + t) % 3 == 0 ? 1 : 0;
                const int f = (i + t) % 4; // clamped to 0 in b
                wrong += t % 2 == 0 ? decode(paths[file], f).values != expected[std::size_t(file ? 4 : f)]
                                    : !sameImage(renderWith(paths[file], file ? 0 : 2, 40, 400).image, pictures[file]);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(FrameDecoderTest)
#include "test_frame_decoder.moc"
