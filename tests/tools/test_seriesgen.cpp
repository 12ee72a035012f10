// Reads the generator's files back with DCMTK and with pydicom and compares
// every checked value with the SeriesSpec it was written from, never with
// numbers taken from a file. The identifying and MR timing values are
// compared with the spec by the summary reader's tests; elements no reader
// takes are not checked.

#include "dicom/CodecRegistration.h"
#include "seriesgen/SeriesGenerator.h"

#include <QDir>
#include <QFile>
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

Q_DECLARE_METATYPE(velmaris::gen::Damage)

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
template <typename Values = std::initializer_list<double>>
QString decimals(const Values &values)
{
    QStringList out;
    for (double v : values)
        out.append(QString::number(double(qRound64(v * 1e4)) / 1e4));
    return out.join(u'\\');
}

std::unique_ptr<DcmFileFormat> load(const QString &path, QString *error)
{
    auto file = std::make_unique<DcmFileFormat>();
    const OFCondition status = file->loadFile(OFFilename(QFile::encodeName(path).constData()));
    if (status.bad())
        *error = QString::fromLatin1(status.text());
    return status.good() ? std::move(file) : nullptr;
}

// The value's bytes as Latin-1, so that equal texts mean equal bytes.
QString text(DcmItem *item, const DcmTagKey &key)
{
    OFString value;
    if (!item || !item->tagExists(key))
        return Absent;
    item->findAndGetOFStringArray(key, value);
    return QString::fromLatin1(value.c_str(), qsizetype(value.length()));
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

// Pixels as DCMTK decodes them (16-bit only), sign-extended per Pixel
// Representation.
QList<int> decodedPixels(DcmDataset *ds, QString *error)
{
    QList<int> values;
    const bool isSigned = text(ds, DCM_PixelRepresentation) == QLatin1String("1");
    const Uint16 *words = nullptr;
    unsigned long count = 0;
    OFCondition status = ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    if (status.good())
        status = ds->findAndGetUint16Array(DCM_PixelData, words, &count);
    for (unsigned long i = 0; status.good() && i < count; ++i)
        values.append(isSigned ? int(Sint16(words[i])) : int(words[i]));
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
    const auto add = [&table](const QByteArray &name, Kind kind, Compression compression, const QString &syntax,
                              const QString &sopClass) -> SeriesSpec & {
        SeriesSpec spec = smallSpec(kind, compression);
        spec.rescaleSlope = 1.5;
        spec.patientName = QStringLiteral("Иванов^Пётр");
        table.push_back({name, spec, syntax, sopClass, {}, {}});
        return table.back().spec;
    };
    for (const auto &k : kKinds)
        for (const auto &c : kCodecs) {
            SeriesSpec &spec = add(QByteArray(k.name) + '/' + c.name, k.kind, c.compression, c.syntax, k.sopClass);
            spec.signedPixels = c.isSigned;
            spec.rescaleIntercept = c.intercept;
        }
    // Windows-1251 in one file, written without a Specific Character Set, as
    // such files come from the scanners that write them.
    table.back().spec.patientName = QStringLiteral("Сидорова^Алёна");
    table.back().spec.nameEncoding = NameEncoding::Cp1251;
    SeriesSpec &perFrame = add("enhanced/none/per-frame geometry, phases of 2", Kind::EnhancedMultiFrame,
                               Compression::None, ExplicitLittle, EnhancedCtStorage);
    perFrame.enhancedLayout = EnhancedLayout::PerFrameGeometry;
    perFrame.temporalPhaseSize = 2;
    perFrame.temporalIndexBase = 3;
    // Byte pixels, unsigned with a slope coarse enough for the Hounsfield
    // range: OB pixel data, and the byte flavour of the multi-frame secondary
    // capture.
    const auto bytePixels = [](SeriesSpec &spec) {
        spec.bitsAllocated = 8;
        spec.signedPixels = false;
        spec.rescaleSlope = 10.0;
    };
    bytePixels(add("ct/rle/8-bit", Kind::CT, Compression::Rle, RleLossless, CtStorage));
    bytePixels(add("classic/none/8-bit", Kind::ClassicMultiFrame, Compression::None, ExplicitLittle,
                   MultiFrameByteScStorage));
    // A series UID that leaves no room for a suffix still gives valid,
    // distinct instance UIDs.
    add("ct/none/64-character series uid", Kind::CT, Compression::None, ExplicitLittle, CtStorage).seriesInstanceUid =
        QStringLiteral("1.2.826.0.1.3680043.2.1125.").leftJustified(64, '7');
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
    void damagedFile_data();
    void damagedFile();
    void commandLine();

private:
    QString freshDir() { return m_tmp.filePath(QString::number(++m_dirs)); }

    QTemporaryDir m_tmp;
    int m_dirs = 0;
    std::vector<WrittenSeries> m_series;
    QJsonObject m_pydicom; // by file path
    QString m_rawDir;      // pydicom's decoded pixels
    // The generator registers encoders itself; reading back needs decoders.
    dicom::CodecRegistration m_codecs;
};

void TestSeriesGen::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    // A file without meta header makes DCMTK log warnings the tests expect.
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

    m_series = seriesTable();
    m_rawDir = freshDir();
    QVERIFY(QDir().mkpath(m_rawDir));
    QStringList arguments{QFINDTESTDATA("seriesgen_pydicom.py"), m_rawDir};
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
    m_pydicom = QJsonDocument::fromJson(python.readAllStandardOutput(), &parseError).object();
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(parseError.errorString()));
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
    const bool enhanced = spec.kind == Kind::EnhancedMultiFrame;
    const bool multi = enhanced || spec.kind == Kind::ClassicMultiFrame;
    const bool cp1251 = spec.nameEncoding == NameEncoding::Cp1251;
    QCOMPARE(series.paths.size(), multi ? 1 : spec.slices);
    for (int i = 0; i < series.paths.size(); ++i) {
        const QString &path = series.paths[i];
        QCOMPARE(path, QDir(series.dir).filePath(QStringLiteral("IMG%1.dcm").arg(i + 1, 4, 10, QLatin1Char('0'))));
        QString error;
        const auto file = load(path, &error);
        QVERIFY2(file, qPrintable(error));
        DcmDataset *ds = file->getDataset();
        const QString uid = sopInstanceUid(spec, i);
        QVERIFY2(validUid(uid) && (multi || uid != sopInstanceUid(spec, i + 1)), qPrintable(uid));
        QCOMPARE(text(file->getMetaInfo(), DCM_TransferSyntaxUID), series.transferSyntax);
        QCOMPARE(text(ds, DCM_SOPClassUID), series.sopClass);
        QCOMPARE(text(ds, DCM_SpecificCharacterSet), cp1251 ? Absent : QStringLiteral("ISO_IR 192"));
        QCOMPARE(text(ds, DCM_BitsAllocated).toInt(), spec.bitsAllocated);
        QCOMPARE(text(ds, DCM_PixelRepresentation).toInt(), spec.signedPixels ? 1 : 0);
        QCOMPARE(text(ds, multi ? DCM_NumberOfFrames : DCM_InstanceNumber).toInt(), multi ? spec.slices : i + 1);
        if (!enhanced)
            QCOMPARE(numbers(ds, DCM_SliceLocation), decimals({expectedLocation(spec, multi ? 0 : i)}));

        // Enhanced objects keep geometry, rescale, window and frame content in
        // functional groups, never at the top level: rescale and window are
        // shared in every layout, spacing, thickness and orientation where
        // the layout puts them and only there.
        DcmItem *shared = subItem(ds, DCM_SharedFunctionalGroupsSequence);
        QCOMPARE(shared != nullptr, enhanced);
        DcmSequenceOfItems *perFrame = nullptr;
        if (enhanced) {
            for (const DcmTagKey &key : {DCM_ImagePositionPatient, DCM_ImageOrientationPatient, DCM_PixelSpacing,
                                         DCM_TemporalPositionIndex})
                QCOMPARE(text(ds, key), Absent);
            QVERIFY(ds->findAndGetSequence(DCM_PerFrameFunctionalGroupsSequence, perFrame).good());
            QCOMPARE(int(perFrame->card()), spec.slices);
            QCOMPARE(text(shared, DCM_PlanePositionSequence), Absent);
        }
        const bool sharedGeometry = spec.enhancedLayout == EnhancedLayout::SharedGeometry;
        for (int f = 0; f < (enhanced ? spec.slices : 1); ++f) {
            DcmItem *item = enhanced ? perFrame->getItem(f) : ds;
            DcmItem *geometry = enhanced && sharedGeometry ? shared : item;
            if (enhanced) {
                DcmItem *elsewhere = sharedGeometry ? item : shared;
                QCOMPARE(text(elsewhere, DCM_PixelMeasuresSequence), Absent);
                QCOMPARE(text(elsewhere, DCM_PlaneOrientationSequence), Absent);
            }
            DcmItem *measures = enhanced ? subItem(geometry, DCM_PixelMeasuresSequence) : ds;
            DcmItem *orientation = enhanced ? subItem(geometry, DCM_PlaneOrientationSequence) : ds;
            DcmItem *transform = enhanced ? subItem(shared, DCM_PixelValueTransformationSequence) : ds;
            DcmItem *voi = enhanced ? subItem(shared, DCM_FrameVOILUTSequence) : ds;
            DcmItem *content = enhanced ? subItem(item, DCM_FrameContentSequence) : ds;
            QCOMPARE((QStringList{numbers(orientation, DCM_ImageOrientationPatient), numbers(measures, DCM_PixelSpacing),
                                  numbers(measures, DCM_SliceThickness), numbers(transform, DCM_RescaleSlope),
                                  numbers(transform, DCM_RescaleIntercept), text(voi, DCM_WindowCenter),
                                  text(voi, DCM_WindowWidth), text(content, DCM_TemporalPositionIndex)}),
                     (QStringList{decimals(spec.orientation), decimals({spec.pixelSpacingRow, spec.pixelSpacingColumn}),
                                  decimals({spec.sliceThickness}), decimals({spec.rescaleSlope}),
                                  decimals({spec.rescaleIntercept}), spec.windowCenter, spec.windowWidth,
                                  spec.temporalPhaseSize > 0 ? QString::number(spec.temporalIndexBase + f / spec.temporalPhaseSize) : Absent}));
        }

        // Through pydicom, which refuses a file without preamble: the name
        // decoded as the character set says (Windows-1251 when none is
        // given), one position per frame in enhanced objects, otherwise the
        // file's own.
        const QJsonObject entry = m_pydicom.value(path).toObject();
        QCOMPARE(entry.value(QStringLiteral("header")).toVariant().toStringList(),
                 (QStringList{uid, QString::number(spec.rows), QString::number(spec.columns), spec.patientName}));
        std::vector<double> positions, expected;
        for (const QJsonValue &v : entry.value(QStringLiteral("positions")).toArray())
            positions.push_back(v.toDouble());
        for (int f = 0; f < (enhanced ? spec.slices : 1); ++f)
            for (double v : expectedPosition(spec, enhanced ? f : (multi ? 0 : i)))
                expected.push_back(v);
        QCOMPARE(decimals(positions), decimals(expected));

        // Pixels through pydicom; through DCMTK where this installation's
        // pydicom has no decoder (it always has the uncompressed and RLE ones).
        QList<int> pixels;
        if (entry.value(QStringLiteral("decoded")).toBool()) {
            const QByteArray bytes = fileBytes(
                QDir(m_rawDir).filePath(QStringLiteral("%1.raw").arg(entry.value(QStringLiteral("index")).toInt())));
            for (qsizetype k = 0; k + 4 <= bytes.size(); k += 4)
                pixels.append(qFromLittleEndian<qint32>(bytes.constData() + k));
        } else {
            QVERIFY(spec.compression != Compression::None && spec.compression != Compression::Rle);
            pixels = decodedPixels(ds, &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
        }
        QCOMPARE(pixels, expectedPixels(spec, multi ? 0 : i, multi ? spec.slices : 1));
    }
}

void TestSeriesGen::damagedFile_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::newRow("no preamble") << Damage::NoPreamble;
    QTest::newRow("truncated") << Damage::TruncatedPixelData;
    QTest::newRow("no study uid") << Damage::NoStudyUid;
    QTest::newRow("no series uid") << Damage::NoSeriesUid;
    QTest::newRow("no sop instance uid") << Damage::NoSopInstanceUid;
}

void TestSeriesGen::damagedFile()
{
    QFETCH(Damage, damage);
    // Whatever kind the spec names, the file is one CT image.
    SeriesSpec spec = smallSpec(Kind::EnhancedMultiFrame, Compression::None);
    // Written into a directory that does not exist yet.
    const QString dir = freshDir();
    const QString path = dir + QStringLiteral("/sub/IMG0001.dcm");
    QString error;
    QVERIFY2(writeDamagedFile(spec, damage, path, &error), qPrintable(error));
    QVERIFY(validUid(spec.studyInstanceUid) && validUid(spec.seriesInstanceUid));
    SeriesSpec ct = spec;
    ct.kind = Kind::CT;
    const QByteArray bytes = fileBytes(path);

    if (damage == Damage::TruncatedPixelData) {
        // The intact file of the same spec, cut inside its Pixel Data value,
        // the file's last element.
        QStringList intactPaths;
        QVERIFY2(writeSeries(ct, dir + QStringLiteral("/intact"), &intactPaths, &error), qPrintable(error));
        const QByteArray intact = fileBytes(intactPaths.value(0));
        QVERIFY(intact.startsWith(bytes));
        QVERIFY2(bytes.size() > intact.size() - ct.rows * ct.columns * 2 && bytes.size() < intact.size(),
                 qPrintable(QStringLiteral("%1 of %2 bytes").arg(bytes.size()).arg(intact.size())));
        return;
    }
    const auto file = load(path, &error);
    QVERIFY2(file, qPrintable(error));
    DcmDataset *ds = file->getDataset();
    QCOMPARE(bytes.mid(128, 4) == "DICM", damage != Damage::NoPreamble);
    // Only the named UID is missing; no instance UID even in the meta header,
    // for readers that fall back to it; the image itself is intact.
    const bool noInstanceUid = damage == Damage::NoSopInstanceUid;
    QCOMPARE((QStringList{text(ds, DCM_SOPClassUID), text(ds, DCM_StudyInstanceUID), text(ds, DCM_SeriesInstanceUID),
                          text(ds, DCM_SOPInstanceUID)}),
             (QStringList{CtStorage, damage == Damage::NoStudyUid ? Absent : spec.studyInstanceUid,
                          damage == Damage::NoSeriesUid ? Absent : spec.seriesInstanceUid,
                          noInstanceUid ? Absent : sopInstanceUid(ct, 0)}));
    QCOMPARE(bytes.contains(sopInstanceUid(ct, 0).toLatin1()), !noInstanceUid);
    QCOMPARE(decodedPixels(ds, &error), expectedPixels(ct, 0, 1));
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

// The options the fuzzing corpus script writes its seeds with.
void TestSeriesGen::commandLine()
{
    const auto run = [this](const QString &arguments, QStringList *paths) {
        const QString dir = freshDir();
        QProcess process;
        process.start(QStringLiteral(NORVANE_GEN_PATH),
                      arguments.split(u' ') << QStringLiteral("--quiet") << QStringLiteral("--out") << dir);
        const bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
                        && process.exitCode() == 0;
        for (const QString &name : QDir(dir).entryList({QStringLiteral("*.dcm")}, QDir::Files, QDir::Name))
            *paths << QDir(dir).filePath(name);
        return ok;
    };
    QStringList damaged, written;
    QVERIFY(run(QStringLiteral("--kind ct --size 16 --damage nopreamble"), &damaged) && damaged.size() == 1);
    QVERIFY(fileBytes(damaged.first()).mid(128, 4) != "DICM");
    // The name the table's Windows-1251 series holds, so that the bytes compare.
    QVERIFY(run(QStringLiteral("--kind enhanced --slices 4 --size 12 --compression jpegls --unsigned --cp1251 "
                               "--name Сидорова^Алёна"),
                &written));
    QCOMPARE(written.size(), 1);
    const auto table = std::find_if(m_series.begin(), m_series.end(), [](const WrittenSeries &series) {
        return series.spec.nameEncoding == NameEncoding::Cp1251;
    });
    QString error;
    const auto file = load(written.first(), &error);
    const auto reference = load(table->paths.first(), &error);
    QVERIFY2(file && reference, qPrintable(error));
    DcmDataset *ds = file->getDataset();
    QCOMPARE((QStringList{text(file->getMetaInfo(), DCM_TransferSyntaxUID), text(ds, DCM_NumberOfFrames),
                          text(ds, DCM_PixelRepresentation), text(ds, DCM_SpecificCharacterSet), text(ds, DCM_PatientName)}),
             (QStringList{JpegLsLossless, QStringLiteral("4"), QStringLiteral("0"), Absent,
                          text(reference->getDataset(), DCM_PatientName)}));
}

QTEST_GUILESS_MAIN(TestSeriesGen)
#include "test_seriesgen.moc"
