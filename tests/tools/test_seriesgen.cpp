// Reads the generator's files back with DCMTK and with pydicom and compares
// every checked value with the SeriesSpec it was written from, never with
// numbers taken from a file. The identifying, pixel spacing and MR timing
// values are compared with the spec by the summary reader's tests.

#include "dicom/CodecRegistration.h"
#include "seriesgen/SeriesGenerator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/oflog/oflog.h>

#include <memory>
#include <vector>

using namespace velmaris::gen;

Q_DECLARE_METATYPE(velmaris::gen::Kind)
Q_DECLARE_METATYPE(velmaris::gen::Compression)
Q_DECLARE_METATYPE(velmaris::gen::Damage)
Q_DECLARE_METATYPE(velmaris::gen::EnhancedLayout)

namespace {

// UIDs written out in full rather than through DCMTK's macros, so that a
// mix-up in either table would show.
const QString CtStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.2");
const QString MrStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.4");
const QString EnhancedCtStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.2.1");
const QString MultiFrameWordScStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.7.3");
const QString MultiFrameByteScStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.7.2");
const QString ExplicitLittle = QStringLiteral("1.2.840.10008.1.2.1");
const QString JpegLsLossless = QStringLiteral("1.2.840.10008.1.2.4.80");
const QString RleLossless = QStringLiteral("1.2.840.10008.1.2.5");
const QString JpegLosslessSv1 = QStringLiteral("1.2.840.10008.1.2.4.70");

// What text() gives for an element that is not there, unlike one that is empty.
const QString Absent = QStringLiteral("(absent)");

const struct { Kind kind; const char *name; QString sopClass; } kKinds[] = {
    {Kind::CT, "ct", CtStorage},
    {Kind::MR, "mr", MrStorage},
    {Kind::ClassicMultiFrame, "classic", MultiFrameWordScStorage},
    {Kind::EnhancedMultiFrame, "enhanced", EnhancedCtStorage},
};

// Intercept 0 with signed pixels puts negative stored values through the
// codecs; unsigned with -1024 is the common scanner output.
const struct { Compression compression; const char *name; QString syntax; bool isSigned; double intercept; } kCodecs[] = {
    {Compression::None, "none", ExplicitLittle, true, -1024},
    {Compression::JpegLs, "jpegls", JpegLsLossless, true, 0},
    {Compression::Rle, "rle", RleLossless, false, -1024},
    {Compression::JpegLossless, "jpeglossless", JpegLosslessSv1, true, 0},
};

// Small, non-square, oblique and with distinct spacings, so that swapped
// rows and columns or a wrong normal cannot pass.
SeriesSpec smallSpec(Kind kind, Compression compression)
{
    SeriesSpec spec;
    spec.kind = kind;
    spec.compression = compression;
    spec.slices = 3;
    spec.rows = 24;
    spec.columns = 20;
    spec.pixelSpacingRow = 0.6;
    spec.pixelSpacingColumn = 0.8;
    spec.sliceThickness = 2.0;
    spec.sliceSpacing = 1.5;
    spec.origin = {-12.5, 30.25, 100.0};
    spec.orientation = {1, 0, 0, 0, 0.8, -0.6};
    spec.windowCenter = QStringLiteral("40\\-600");
    spec.windowWidth = QStringLiteral("400\\1500");
    return spec;
}

std::array<double, 3> normalOf(const SeriesSpec &spec)
{
    const auto &o = spec.orientation;
    return {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
}

// Computed here from origin, spacing and orientation, independently of the
// generator's slicePosition().
std::array<double, 3> expectedPosition(const SeriesSpec &spec, int slice)
{
    const auto n = normalOf(spec);
    return {spec.origin[0] + slice * spec.sliceSpacing * n[0], spec.origin[1] + slice * spec.sliceSpacing * n[1],
            spec.origin[2] + slice * spec.sliceSpacing * n[2]};
}

// The position's distance along the normal.
double expectedLocation(const SeriesSpec &spec, int slice)
{
    const auto p = expectedPosition(spec, slice);
    const auto n = normalOf(spec);
    return p[0] * n[0] + p[1] * n[1] + p[2] * n[2];
}

// Numbers as text rounded to 1e-4: DS text read back and values computed here
// then compare as strings, with a readable message.
template <typename Values>
QString decimals(const Values &values)
{
    QStringList out;
    for (double v : values)
        out.append(QString::number(double(qRound64(v * 1e4)) / 1e4));
    return out.join(u'\\');
}

QString decimals(std::initializer_list<double> values)
{
    return decimals(std::vector<double>(values));
}

std::unique_ptr<DcmFileFormat> load(const QString &path, QString *error)
{
    auto file = std::make_unique<DcmFileFormat>();
    const OFCondition status = file->loadFile(OFFilename(QFile::encodeName(path).constData()));
    if (status.bad()) {
        *error = QString::fromLatin1(status.text());
        return nullptr;
    }
    return file;
}

QByteArray raw(DcmItem *item, const DcmTagKey &key)
{
    OFString value;
    if (!item || item->findAndGetOFStringArray(key, value).bad())
        return {};
    return QByteArray(value.c_str(), qsizetype(value.length()));
}

QString text(DcmItem *item, const DcmTagKey &key)
{
    return item && item->tagExists(key) ? QString::fromLatin1(raw(item, key)) : Absent;
}

// Numeric values through decimals(), whatever the VR; Absent when missing.
QString numbers(DcmItem *item, const DcmTagKey &key)
{
    DcmElement *element = nullptr;
    if (!item || item->findAndGetElement(key, element).bad())
        return Absent;
    std::vector<double> values(element->getVM());
    for (unsigned long i = 0; i < values.size(); ++i)
        if (element->getFloat64(values[i], i).bad())
            return QStringLiteral("(not numeric)");
    return decimals(values);
}

DcmItem *subItem(DcmItem *item, const DcmTagKey &sequence, int index = 0)
{
    DcmItem *result = nullptr;
    return item && item->findAndGetSequenceItem(sequence, result, index).good() ? result : nullptr;
}

QList<int> expectedPixels(const SeriesSpec &spec, int firstSlice, int frames)
{
    QList<int> values;
    for (int f = 0; f < frames; ++f)
        for (int r = 0; r < spec.rows; ++r)
            for (int c = 0; c < spec.columns; ++c)
                values.append(pixelValue(spec, firstSlice + f, r, c));
    return values;
}

// Pixels as DCMTK decodes them, sign-extended per Pixel Representation.
QList<int> decodedPixels(DcmDataset *ds, QString *error)
{
    QList<int> values;
    OFCondition status = ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    const bool isSigned = text(ds, DCM_PixelRepresentation) == QLatin1String("1");
    unsigned long count = 0;
    if (status.good() && text(ds, DCM_BitsAllocated) == QLatin1String("8")) {
        const Uint8 *bytes = nullptr;
        status = ds->findAndGetUint8Array(DCM_PixelData, bytes, &count);
        for (unsigned long i = 0; status.good() && i < count; ++i)
            values.append(isSigned ? int(Sint8(bytes[i])) : int(bytes[i]));
    } else if (status.good()) {
        const Uint16 *words = nullptr;
        status = ds->findAndGetUint16Array(DCM_PixelData, words, &count);
        for (unsigned long i = 0; status.good() && i < count; ++i)
            values.append(isSigned ? int(Sint16(words[i])) : int(words[i]));
    }
    if (status.bad())
        *error = QString::fromLatin1(status.text());
    return values;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool validUid(const QString &uid)
{
    static const QRegularExpression pattern(QStringLiteral("^(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))*$"));
    return !uid.isEmpty() && uid.size() <= 64 && pattern.match(uid).hasMatch();
}

// Windows-1251 from its code chart: ASCII as is, А..я at 0xC0..0xFF, Ё and ё
// at 0xA8 and 0xB8. Enough for Russian names.
QByteArray cp1251FromChart(const QString &name)
{
    QByteArray bytes;
    for (const QChar ch : name) {
        const char16_t u = ch.unicode();
        if (u < 0x80)
            bytes += char(u);
        else if (u == u'Ё' || u == u'ё')
            bytes += char(u == u'Ё' ? 0xA8 : 0xB8);
        else if (u >= 0x0410 && u <= 0x044F)
            bytes += char(0xC0 + (u - 0x0410));
        else
            bytes += '?';
    }
    return bytes;
}

// One series of the series table, written once; pydicom reads all of them
// in one run.
struct WrittenSeries
{
    QByteArray name;
    SeriesSpec spec;
    QString transferSyntax, sopClass, dir;
    QStringList paths;
};

std::vector<WrittenSeries> seriesTable()
{
    std::vector<WrittenSeries> table;
    const auto add = [&table](const QByteArray &name, Kind kind, Compression compression, bool isSigned,
                              double intercept, int bitsAllocated, const QString &syntax, const QString &sopClass) {
        SeriesSpec spec = smallSpec(kind, compression);
        spec.signedPixels = isSigned;
        spec.rescaleIntercept = intercept;
        // Byte pixels need a coarse slope to hold the Hounsfield range.
        spec.rescaleSlope = bitsAllocated == 8 ? 10.0 : 1.5;
        spec.bitsAllocated = bitsAllocated;
        spec.patientName = QStringLiteral("Иванов^Пётр");
        table.push_back({name, spec, syntax, sopClass, {}, {}});
    };
    for (const auto &k : kKinds)
        for (const auto &c : kCodecs)
            add(QByteArray(k.name) + '/' + c.name, k.kind, c.compression, c.isSigned, c.intercept, 16, c.syntax,
                k.sopClass);
    // Windows-1251 in one file, written without a Specific Character Set, as
    // such files come from the scanners that write them.
    table.back().spec.patientName = QStringLiteral("Сидорова^Алёна");
    table.back().spec.nameEncoding = NameEncoding::Cp1251;
    // Byte pixels: OB pixel data, and the byte flavour of the multi-frame
    // secondary capture.
    add("ct/rle/8-bit", Kind::CT, Compression::Rle, false, -1024, 8, RleLossless, CtStorage);
    add("classic/none/8-bit", Kind::ClassicMultiFrame, Compression::None, false, -1024, 8, ExplicitLittle,
        MultiFrameByteScStorage);
    // A series UID that leaves no room for a suffix still gives valid,
    // distinct instance UIDs.
    add("ct/none/64-character series uid", Kind::CT, Compression::None, true, -1024, 16, ExplicitLittle, CtStorage);
    table.back().spec.seriesInstanceUid = QStringLiteral("1.2.826.0.1.3680043.2.1125.").leftJustified(64, '7');
    return table;
}

} // namespace

class TestSeriesGen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void series_data();
    void series();
    void enhancedGroups_data();
    void enhancedGroups();
    void damagedFile_data();
    void damagedFile();
    void commandLine_data();
    void commandLine();

private:
    QString freshDir() { return m_tmp.filePath(QString::number(++m_dirs)); }

    QTemporaryDir m_tmp;
    int m_dirs = 0;
    std::vector<WrittenSeries> m_series;
    QHash<QString, QJsonObject> m_pydicom; // by file path
    QString m_rawDir;                       // pydicom's decoded pixels
    // The generator registers encoders itself; reading back needs decoders.
    dicom::CodecRegistration m_codecs;
};

void TestSeriesGen::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    // Damaged files make DCMTK log parse errors the tests expect.
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

    m_series = seriesTable();
    m_rawDir = freshDir();
    QVERIFY(QDir().mkpath(m_rawDir));
    QStringList arguments{QFINDTESTDATA("seriesgen_pydicom.py"), m_rawDir};
    QVERIFY(!arguments.first().isEmpty());
    QString error;
    for (WrittenSeries &series : m_series) {
        series.dir = freshDir();
        QVERIFY2(writeSeries(series.spec, series.dir, &series.paths, &error), qPrintable(error));
        arguments << series.paths;
    }
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), arguments);
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0,
             python.readAllStandardError().constData());
    QJsonParseError parseError;
    const QJsonArray report = QJsonDocument::fromJson(python.readAllStandardOutput(), &parseError).array();
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(parseError.errorString()));
    QCOMPARE(report.size(), arguments.size() - 2);
    for (qsizetype i = 0; i < report.size(); ++i) {
        QJsonObject entry = report.at(i).toObject();
        entry.insert(QStringLiteral("index"), int(i));
        m_pydicom.insert(entry.value(QStringLiteral("path")).toString(), entry);
    }
}

void TestSeriesGen::series_data()
{
    QTest::addColumn<int>("row"); // of m_series
    for (size_t i = 0; i < m_series.size(); ++i)
        QTest::newRow(m_series[i].name.constData()) << int(i);
}

void TestSeriesGen::series()
{
    QFETCH(int, row);
    const WrittenSeries &series = m_series.at(row);
    const SeriesSpec &spec = series.spec;
    const Kind kind = spec.kind;
    const QStringList &paths = series.paths;
    QString error;
    const bool enhanced = kind == Kind::EnhancedMultiFrame;
    const bool multi = enhanced || kind == Kind::ClassicMultiFrame;
    const bool cp1251 = spec.nameEncoding == NameEncoding::Cp1251;
    QCOMPARE(paths.size(), multi ? 1 : spec.slices);
    for (int i = 0; i < paths.size(); ++i) {
        QCOMPARE(paths[i], QDir(series.dir).filePath(QStringLiteral("IMG%1.dcm").arg(i + 1, 4, 10, QLatin1Char('0'))));
        QCOMPARE(fileBytes(paths[i]).mid(128, 4), QByteArray("DICM"));
        const auto file = load(paths[i], &error);
        QVERIFY2(file, qPrintable(error));
        DcmMetaInfo *meta = file->getMetaInfo();
        DcmDataset *ds = file->getDataset();
        const QString uid = sopInstanceUid(spec, i);
        QVERIFY2(validUid(uid) && (multi || uid != sopInstanceUid(spec, i + 1)), qPrintable(uid));
        QCOMPARE(text(meta, DCM_TransferSyntaxUID), series.transferSyntax);
        QCOMPARE(text(meta, DCM_MediaStorageSOPClassUID), series.sopClass);
        QCOMPARE(text(ds, DCM_SOPClassUID), series.sopClass);
        QCOMPARE(text(meta, DCM_MediaStorageSOPInstanceUID), uid);
        QCOMPARE(text(ds, DCM_Modality), kind == Kind::MR ? QStringLiteral("MR") : QStringLiteral("CT"));
        QCOMPARE(text(ds, DCM_SpecificCharacterSet), cp1251 ? Absent : QStringLiteral("ISO_IR 192"));
        QCOMPARE(text(ds, DCM_BitsAllocated).toInt(), spec.bitsAllocated);
        QCOMPARE(text(ds, DCM_PixelRepresentation).toInt(), spec.signedPixels ? 1 : 0);
        QCOMPARE(text(ds, DCM_PhotometricInterpretation), QStringLiteral("MONOCHROME2"));
        QCOMPARE(text(ds, multi ? DCM_NumberOfFrames : DCM_InstanceNumber).toInt(), multi ? spec.slices : i + 1);

        // Enhanced objects keep geometry, rescale and window in functional
        // groups, which enhancedGroups reads in full; here only that they
        // come through every codec.
        if (enhanced) {
            QCOMPARE(numbers(subItem(subItem(ds, DCM_SharedFunctionalGroupsSequence), DCM_PixelMeasuresSequence),
                             DCM_PixelSpacing),
                     decimals({spec.pixelSpacingRow, spec.pixelSpacingColumn}));
        } else {
            QCOMPARE(text(ds, DCM_SharedFunctionalGroupsSequence), Absent);
            QCOMPARE(numbers(ds, DCM_ImageOrientationPatient), decimals(spec.orientation));
            QCOMPARE(numbers(ds, DCM_SliceLocation), decimals({expectedLocation(spec, multi ? 0 : i)}));
            QCOMPARE(numbers(ds, DCM_SliceThickness), decimals({spec.sliceThickness}));
            QCOMPARE(numbers(ds, DCM_RescaleSlope), decimals({spec.rescaleSlope}));
            QCOMPARE(numbers(ds, DCM_RescaleIntercept), decimals({spec.rescaleIntercept}));
            QCOMPARE(text(ds, DCM_WindowCenter), spec.windowCenter);
            QCOMPARE(text(ds, DCM_WindowWidth), spec.windowWidth);
        }
        if (kind == Kind::ClassicMultiFrame) {
            // One position for the stack; the rest follows from the spacing
            // and the Slice Location Vector the frame increment points to.
            QCOMPARE(numbers(ds, DCM_SpacingBetweenSlices), decimals({spec.sliceSpacing}));
            std::vector<double> locations;
            for (int f = 0; f < spec.slices; ++f)
                locations.push_back(expectedLocation(spec, f));
            QCOMPARE(numbers(ds, DCM_SliceLocationVector), decimals(locations));
        }
        const QList<int> pixels = expectedPixels(spec, multi ? 0 : i, multi ? spec.slices : 1);
        QCOMPARE(decodedPixels(ds, &error), pixels);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        // The same file through pydicom, with the name as its bytes.
        const QJsonObject entry = m_pydicom.value(paths[i]);
        QCOMPARE(entry.value(QStringLiteral("sopInstanceUid")).toString(), uid);
        QCOMPARE(entry.value(QStringLiteral("rows")).toInt(), spec.rows);
        QCOMPARE(entry.value(QStringLiteral("columns")).toInt(), spec.columns);
        QCOMPARE(entry.value(QStringLiteral("frames")).toInt(), multi ? spec.slices : 1);
        QByteArray name = cp1251 ? cp1251FromChart(spec.patientName) : spec.patientName.toUtf8();
        if (name.size() % 2)
            name += ' '; // values are padded to even length
        QCOMPARE(entry.value(QStringLiteral("patientNameHex")).toString().toLatin1(), name.toHex());
        // One position per frame in enhanced objects, otherwise the file's own.
        QStringList positions, expected;
        for (const QJsonValue &p : entry.value(QStringLiteral("positions")).toArray()) {
            std::vector<double> xyz;
            for (const QJsonValue &v : p.toArray())
                xyz.push_back(v.toDouble());
            positions << decimals(xyz);
        }
        for (int f = 0; f < (enhanced ? spec.slices : 1); ++f)
            expected << decimals(expectedPosition(spec, enhanced ? f : (multi ? 0 : i)));
        QCOMPARE(positions, expected);
        if (!entry.value(QStringLiteral("decoded")).toBool()) {
            // pydicom in this installation has no decoder for every syntax
            // (those pixels are checked through DCMTK only); the uncompressed
            // and RLE ones it always has.
            QVERIFY(spec.compression != Compression::None && spec.compression != Compression::Rle);
            continue;
        }
        const QByteArray rawPixels = fileBytes(
            QDir(m_rawDir).filePath(QStringLiteral("%1.raw").arg(entry.value(QStringLiteral("index")).toInt())));
        QList<int> theirs;
        for (qsizetype k = 0; k + 4 <= rawPixels.size(); k += 4)
            theirs.append(qFromLittleEndian<qint32>(rawPixels.constData() + k));
        QCOMPARE(theirs, pixels);
    }
}

void TestSeriesGen::enhancedGroups_data()
{
    QTest::addColumn<EnhancedLayout>("layout");
    QTest::addColumn<int>("phaseSize");
    QTest::addColumn<bool>("writeGeometry");
    QTest::newRow("shared") << EnhancedLayout::SharedGeometry << 0 << true;
    QTest::newRow("per-frame, phases of 2") << EnhancedLayout::PerFrameGeometry << 2 << true;
    QTest::newRow("no geometry") << EnhancedLayout::SharedGeometry << 3 << false;
}

void TestSeriesGen::enhancedGroups()
{
    QFETCH(EnhancedLayout, layout);
    QFETCH(int, phaseSize);
    QFETCH(bool, writeGeometry);

    SeriesSpec spec = smallSpec(Kind::EnhancedMultiFrame, Compression::None);
    spec.slices = 5;
    spec.enhancedLayout = layout;
    spec.temporalPhaseSize = phaseSize;
    spec.temporalIndexBase = 3;
    spec.writeGeometry = writeGeometry;
    QString error;
    QStringList paths;
    QVERIFY2(writeSeries(spec, freshDir(), &paths, &error) && paths.size() == 1, qPrintable(error));
    const auto file = load(paths.first(), &error);
    QVERIFY2(file, qPrintable(error));
    DcmDataset *ds = file->getDataset();
    for (const DcmTagKey &key : {DCM_ImagePositionPatient, DCM_ImageOrientationPatient, DCM_PixelSpacing,
                                 DCM_TemporalPositionIndex})
        QCOMPARE(text(ds, key), Absent);

    // Rescale and window are shared in every layout; positions never are.
    DcmItem *shared = subItem(ds, DCM_SharedFunctionalGroupsSequence);
    QVERIFY(shared);
    DcmItem *transform = subItem(shared, DCM_PixelValueTransformationSequence);
    QCOMPARE(numbers(transform, DCM_RescaleSlope), decimals({spec.rescaleSlope}));
    QCOMPARE(numbers(transform, DCM_RescaleIntercept), decimals({spec.rescaleIntercept}));
    DcmItem *voi = subItem(shared, DCM_FrameVOILUTSequence);
    QCOMPARE(text(voi, DCM_WindowCenter), spec.windowCenter);
    QCOMPARE(text(voi, DCM_WindowWidth), spec.windowWidth);
    QCOMPARE(text(shared, DCM_PlanePositionSequence), Absent);
    QCOMPARE(text(shared, DCM_FrameContentSequence), Absent);

    DcmSequenceOfItems *perFrame = nullptr;
    QVERIFY(ds->findAndGetSequence(DCM_PerFrameFunctionalGroupsSequence, perFrame).good());
    QCOMPARE(int(perFrame->card()), spec.slices);
    const bool sharedGeometry = layout == EnhancedLayout::SharedGeometry;
    for (int f = 0; f < spec.slices; ++f) {
        DcmItem *item = perFrame->getItem(f);
        DcmItem *content = subItem(item, DCM_FrameContentSequence);
        QCOMPARE(text(content, DCM_InStackPositionNumber).toInt(), f + 1);
        QCOMPARE(text(content, DCM_TemporalPositionIndex),
                 phaseSize > 0 ? QString::number(spec.temporalIndexBase + f / phaseSize) : Absent);
        QCOMPARE(numbers(subItem(item, DCM_PlanePositionSequence), DCM_ImagePositionPatient),
                 writeGeometry ? decimals(expectedPosition(spec, f)) : Absent);

        // Spacing, thickness and orientation sit where the layout puts them,
        // and only there.
        DcmItem *geometry = sharedGeometry ? shared : item;
        DcmItem *elsewhere = sharedGeometry ? item : shared;
        QCOMPARE(text(elsewhere, DCM_PixelMeasuresSequence), Absent);
        QCOMPARE(text(elsewhere, DCM_PlaneOrientationSequence), Absent);
        DcmItem *measures = subItem(geometry, DCM_PixelMeasuresSequence);
        QCOMPARE(numbers(measures, DCM_SliceThickness), decimals({spec.sliceThickness}));
        QCOMPARE(numbers(measures, DCM_PixelSpacing),
                 writeGeometry ? decimals({spec.pixelSpacingRow, spec.pixelSpacingColumn}) : Absent);
        QCOMPARE(text(geometry, DCM_PlaneOrientationSequence) != Absent, writeGeometry);
        QCOMPARE(numbers(subItem(geometry, DCM_PlaneOrientationSequence), DCM_ImageOrientationPatient),
                 writeGeometry ? decimals(spec.orientation) : Absent);
    }
}

void TestSeriesGen::damagedFile_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<Compression>("compression");
    QTest::addColumn<Kind>("kind"); // whatever kind the SeriesSpec names, the file is one CT image
    QTest::newRow("no preamble") << Damage::NoPreamble << Compression::None << Kind::CT;
    QTest::newRow("truncated") << Damage::TruncatedPixelData << Compression::None << Kind::CT;
    QTest::newRow("no study uid, asked for enhanced") << Damage::NoStudyUid << Compression::None << Kind::EnhancedMultiFrame;
    QTest::newRow("no sop instance uid, jpeg lossless")
        << Damage::NoSopInstanceUid << Compression::JpegLossless << Kind::CT;
}

void TestSeriesGen::damagedFile()
{
    QFETCH(Damage, damage);
    QFETCH(Compression, compression);
    QFETCH(Kind, kind);

    SeriesSpec spec = smallSpec(kind, compression);
    spec.rows = 40;
    spec.columns = 36;
    // Written into a directory that does not exist yet.
    const QString dir = freshDir();
    const QString path = dir + QStringLiteral("/sub/IMG0001.dcm");
    QString error;
    QVERIFY2(writeDamagedFile(spec, damage, path, &error), qPrintable(error));
    QVERIFY(validUid(spec.studyInstanceUid) && validUid(spec.seriesInstanceUid));
    SeriesSpec ct = spec;
    ct.kind = Kind::CT;
    const QByteArray bytes = fileBytes(path);
    const auto file = load(path, &error);

    if (damage == Damage::TruncatedPixelData) {
        // The intact file of the same spec, cut inside its Pixel Data value.
        QStringList intactPaths;
        QVERIFY2(writeSeries(ct, dir + QStringLiteral("/intact"), &intactPaths, &error), qPrintable(error));
        const QByteArray intact = fileBytes(intactPaths.value(0));
        const qsizetype element = std::max(intact.indexOf(QByteArray("\xE0\x7F\x10\x00OW", 6)),
                                           intact.indexOf(QByteArray("\xE0\x7F\x10\x00OB", 6)));
        QVERIFY(element > 0);
        QVERIFY(intact.startsWith(bytes));
        QVERIFY2(bytes.size() > element + 12 && bytes.size() < intact.size(),
                 qPrintable(QStringLiteral("%1 of %2 bytes, value from %3").arg(bytes.size()).arg(intact.size()).arg(element + 12)));
        QVERIFY2(!file, "DCMTK read a file with cut pixel data without complaint");
        return;
    }
    QVERIFY2(file, qPrintable(error));
    DcmDataset *ds = file->getDataset();
    QCOMPARE(text(ds, DCM_SOPClassUID), CtStorage);
    QCOMPARE(text(ds, DCM_Modality), QStringLiteral("CT"));
    QCOMPARE(bytes.mid(128, 4) == "DICM", damage != Damage::NoPreamble);
    if (damage == Damage::NoPreamble) {
        // Straight into the first dataset element, group 0008.
        QCOMPARE(bytes.left(2), QByteArray("\x08\x00", 2));
        QCOMPARE(text(file->getMetaInfo(), DCM_TransferSyntaxUID), Absent);
    }
    // Only the named UID is missing; no instance UID even in the meta header,
    // for readers that fall back to it.
    QCOMPARE(text(ds, DCM_StudyInstanceUID), damage == Damage::NoStudyUid ? Absent : spec.studyInstanceUid);
    QCOMPARE(text(ds, DCM_SeriesInstanceUID), damage == Damage::NoSeriesUid ? Absent : spec.seriesInstanceUid);
    const bool noInstanceUid = damage == Damage::NoSopInstanceUid;
    QCOMPARE(text(ds, DCM_SOPInstanceUID), noInstanceUid ? Absent : sopInstanceUid(ct, 0));
    QCOMPARE(bytes.contains(sopInstanceUid(ct, 0).toLatin1()), !noInstanceUid);
    if (noInstanceUid)
        QCOMPARE(text(file->getMetaInfo(), DCM_MediaStorageSOPInstanceUID), Absent);

    // Only the named damage: the image itself is intact.
    QCOMPARE(decodedPixels(ds, &error), expectedPixels(ct, 0, 1));
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestSeriesGen::commandLine_data()
{
    QTest::addColumn<QString>("arguments"); // split at spaces; --out DIR follows
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("transferSyntax");
    QTest::addColumn<int>("frames");
    const QString ct = QStringLiteral("--kind ct --slices 3 --size 16");
    QTest::newRow("ct") << ct << 0 << 3 << ExplicitLittle << 1;
    QTest::newRow("enhanced jpeg-ls") << QStringLiteral("--kind enhanced --slices 4 --size 12 --compression jpegls") << 0
                                      << 1 << JpegLsLossless << 4;
    QTest::newRow("damaged") << ct + QStringLiteral(" --damage nopreamble") << 0 << 1 << QString() << 1;
    QTest::newRow("cp1251 name") << ct + QStringLiteral(" --cp1251 --name Ёлкина^Фёкла") << 0 << 3 << ExplicitLittle << 1;
    // Refused rather than written with '?'.
    QTest::newRow("name outside cp1251") << ct + QStringLiteral(" --cp1251 --name 山田^太郎") << 1 << 0 << QString() << 0;
    // A wrong command line exits 2, a generator failure 1; neither writes a file.
    QTest::newRow("unknown option") << QStringLiteral("--frobnicate") << 2 << 0 << QString() << 0;
    QTest::newRow("output below a file") << QStringLiteral("--out-below-file") << 1 << 0 << QString() << 0;
}

void TestSeriesGen::commandLine()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(int, files);
    QFETCH(QString, transferSyntax);
    QFETCH(int, frames);

    QStringList args = arguments.split(u' ');
    const QString dir = freshDir();
    if (args.removeAll(QStringLiteral("--out-below-file"))) {
        QFile blocker(dir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        args << QStringLiteral("--out") << dir + QStringLiteral("/series");
    } else {
        args << QStringLiteral("--out") << dir;
    }
    QProcess process;
    process.start(QStringLiteral(NORVANE_GEN_PATH), args);
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode, qPrintable(QStringLiteral("exit %1, stderr: %2").arg(process.exitCode()).arg(err)));
    if (exitCode != 0) {
        QVERIFY(!err.trimmed().isEmpty());
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/IMG0001.dcm")));
        return;
    }

    const QStringList written = QDir(dir).entryList({QStringLiteral("*.dcm")}, QDir::Files, QDir::Name);
    QCOMPARE(written.size(), files);
    QVERIFY2(out.contains(QStringLiteral("files: %1\n").arg(files)), qPrintable(out));
    const QString series = QRegularExpression(QStringLiteral("series-uid: (\\S+)")).match(out).captured(1);
    const QString study = QRegularExpression(QStringLiteral("study-uid: (\\S+)")).match(out).captured(1);
    QVERIFY2(validUid(series) && validUid(study), qPrintable(out));
    // The fuzzing corpus takes its damaged seeds from here.
    if (args.contains(QStringLiteral("--damage"))) {
        QVERIFY(fileBytes(QDir(dir).filePath(written.value(0))).mid(128, 4) != "DICM");
        return;
    }
    QString error;
    const auto file = load(QDir(dir).filePath(written.value(0)), &error);
    QVERIFY2(file, qPrintable(error));
    DcmDataset *ds = file->getDataset();
    QCOMPARE(text(file->getMetaInfo(), DCM_TransferSyntaxUID), transferSyntax);
    QCOMPARE(text(ds, DCM_SeriesInstanceUID), series);
    QCOMPARE(text(ds, DCM_StudyInstanceUID), study);
    QCOMPARE(text(ds, DCM_NumberOfFrames), frames > 1 ? QString::number(frames) : Absent);
    if (const qsizetype nameAt = args.indexOf(QStringLiteral("--name")); nameAt >= 0) {
        QCOMPARE(raw(ds, DCM_PatientName), cp1251FromChart(args.at(nameAt + 1)));
        QCOMPARE(text(ds, DCM_SpecificCharacterSet), Absent);
    }
}

QTEST_GUILESS_MAIN(TestSeriesGen)
#include "test_seriesgen.moc"
