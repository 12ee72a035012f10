// Reads the generator's files back with DCMTK and with pydicom and compares
// every checked value with the spec, never with numbers taken from a file.

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
#include <QSet>
#include <QTemporaryDir>
#include <QTime>
#include <QtEndian>
#include <QtTest>

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/oflog/oflog.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace velmaris::gen;

Q_DECLARE_METATYPE(velmaris::gen::Kind)
Q_DECLARE_METATYPE(velmaris::gen::Compression)
Q_DECLARE_METATYPE(velmaris::gen::Damage)
Q_DECLARE_METATYPE(velmaris::gen::EnhancedLayout)
Q_DECLARE_METATYPE(velmaris::gen::NameEncoding)

namespace {

// UIDs written out as the DICOM standard lists them rather than through
// DCMTK's macros, so a mix-up in either table would show.
const QString CtStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.2");
const QString MrStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.4");
const QString EnhancedCtStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.2.1");
const QString MultiFrameWordScStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.7.3");
const QString MultiFrameByteScStorage = QStringLiteral("1.2.840.10008.5.1.4.1.1.7.2");
const QString ExplicitLittle = QStringLiteral("1.2.840.10008.1.2.1");
const QString JpegLsLossless = QStringLiteral("1.2.840.10008.1.2.4.80");
const QString RleLossless = QStringLiteral("1.2.840.10008.1.2.5");
const QString JpegLosslessSv1 = QStringLiteral("1.2.840.10008.1.2.4.70");

bool isMultiFrame(Kind kind)
{
    return kind == Kind::ClassicMultiFrame || kind == Kind::EnhancedMultiFrame;
}

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

std::array<double, 3> normalOf(const std::array<double, 6> &o)
{
    return {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
}

// Computed here from origin, spacing and orientation, independently of the
// generator's slicePosition().
std::array<double, 3> expectedPosition(const SeriesSpec &spec, int slice)
{
    const auto n = normalOf(spec.orientation);
    std::array<double, 3> p;
    for (int i = 0; i < 3; ++i)
        p[i] = spec.origin[i] + slice * spec.sliceSpacing * n[i];
    return p;
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
    return QString::fromLatin1(raw(item, key));
}

bool has(DcmItem *item, const DcmTagKey &key)
{
    return item && item->tagExists(key);
}

std::vector<double> numbers(DcmItem *item, const DcmTagKey &key)
{
    std::vector<double> values;
    DcmElement *element = nullptr;
    if (!item || item->findAndGetElement(key, element).bad())
        return values;
    for (unsigned long i = 0; i < element->getVM(); ++i) {
        Float64 v = 0;
        if (element->getFloat64(v, i).bad())
            return {};
        values.push_back(v);
    }
    return values;
}

int us(DcmItem *item, const DcmTagKey &key)
{
    Uint16 v = 0;
    return item && item->findAndGetUint16(key, v).good() ? int(v) : -1;
}

long ul(DcmItem *item, const DcmTagKey &key)
{
    Uint32 v = 0;
    return item && item->findAndGetUint32(key, v).good() ? long(v) : -1;
}

DcmItem *subItem(DcmItem *item, const DcmTagKey &sequence, int index = 0)
{
    DcmItem *result = nullptr;
    if (!item || item->findAndGetSequenceItem(sequence, result, index).bad())
        return nullptr;
    return result;
}

template <size_t N>
QString mismatch(const std::vector<double> &actual, const std::array<double, N> &expected)
{
    bool same = actual.size() == N;
    for (size_t i = 0; same && i < N; ++i)
        same = std::abs(actual[i] - expected[i]) <= 1e-6 * std::max(1.0, std::abs(expected[i]));
    if (same)
        return {};
    QStringList a, e;
    for (double v : actual)
        a << QString::number(v);
    for (double v : expected)
        e << QString::number(v);
    return QStringLiteral("got [%1], expected [%2]").arg(a.join(u'\\'), e.join(u'\\'));
}

std::vector<int> expectedPixels(const SeriesSpec &spec, int firstSlice, int frames)
{
    std::vector<int> values;
    values.reserve(size_t(frames) * spec.rows * spec.columns);
    for (int f = 0; f < frames; ++f)
        for (int r = 0; r < spec.rows; ++r)
            for (int c = 0; c < spec.columns; ++c)
                values.push_back(pixelValue(spec, firstSlice + f, r, c));
    return values;
}

// Pixels as DCMTK decodes them, sign-extended per Pixel Representation.
bool decodedPixels(DcmDataset *ds, std::vector<int> *values, QString *error)
{
    OFCondition status = ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    if (status.bad()) {
        *error = QStringLiteral("decoding: ") + QString::fromLatin1(status.text());
        return false;
    }
    const bool isSigned = us(ds, DCM_PixelRepresentation) == 1;
    unsigned long count = 0;
    if (us(ds, DCM_BitsAllocated) == 8) {
        const Uint8 *bytes = nullptr;
        status = ds->findAndGetUint8Array(DCM_PixelData, bytes, &count);
        if (status.good()) {
            values->resize(count);
            for (unsigned long i = 0; i < count; ++i)
                (*values)[i] = isSigned ? int(Sint8(bytes[i])) : int(bytes[i]);
        }
    } else {
        const Uint16 *words = nullptr;
        status = ds->findAndGetUint16Array(DCM_PixelData, words, &count);
        if (status.good()) {
            values->resize(count);
            for (unsigned long i = 0; i < count; ++i)
                (*values)[i] = isSigned ? int(Sint16(words[i])) : int(words[i]);
        }
    }
    if (status.bad()) {
        *error = QStringLiteral("pixel data: ") + QString::fromLatin1(status.text());
        return false;
    }
    return true;
}

QString pixelMismatch(const std::vector<int> &actual, const std::vector<int> &expected)
{
    if (actual.size() != expected.size())
        return QStringLiteral("%1 pixels, expected %2").arg(actual.size()).arg(expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i])
            return QStringLiteral("pixel %1 is %2, expected %3").arg(i).arg(actual[i]).arg(expected[i]);
    return {};
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
        else if (u == u'Ё')
            bytes += char(0xA8);
        else if (u == u'ё')
            bytes += char(0xB8);
        else if (u >= 0x0410 && u <= 0x044F)
            bytes += char(0xC0 + (u - 0x0410));
        else
            bytes += '?';
    }
    return bytes;
}

// Locates the Pixel Data element in an explicit VR little endian file and
// tells whether its value (or one of its fragments) runs past the end.
bool pixelDataCutShort(const QByteArray &bytes, QString *detail)
{
    static const QByteArray tag("\xE0\x7F\x10\x00", 4);
    qsizetype pos = bytes.indexOf(tag);
    while (pos >= 0 && bytes.mid(pos + 4, 2) != "OW" && bytes.mid(pos + 4, 2) != "OB")
        pos = bytes.indexOf(tag, pos + 1);
    if (pos < 0) {
        *detail = QStringLiteral("no Pixel Data element");
        return false;
    }
    const quint32 declared = qFromLittleEndian<quint32>(bytes.constData() + pos + 8);
    qsizetype at = pos + 12;
    if (declared != 0xFFFFFFFFu) {
        *detail = QStringLiteral("declared %1 bytes, %2 present").arg(declared).arg(bytes.size() - at);
        return declared > quint32(bytes.size() - at);
    }
    // Encapsulated: walk the items; one must overrun, or the sequence
    // delimiter must be missing.
    while (at + 8 <= bytes.size()) {
        const quint16 group = qFromLittleEndian<quint16>(bytes.constData() + at);
        const quint16 element = qFromLittleEndian<quint16>(bytes.constData() + at + 2);
        const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        if (group == 0xFFFE && element == 0xE0DD) {
            *detail = QStringLiteral("all fragments complete");
            return false;
        }
        if (length > quint32(bytes.size() - at - 8)) {
            *detail = QStringLiteral("fragment of %1 bytes, %2 present").arg(length).arg(bytes.size() - at - 8);
            return true;
        }
        at += 8 + length;
    }
    *detail = QStringLiteral("no sequence delimiter");
    return true;
}

} // namespace

class TestSeriesGen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void pixelValueLooksLikeABody();
    void series_data();
    void series();
    void enhancedGroups_data();
    void enhancedGroups();
    void singleFrameAttributes_data();
    void singleFrameAttributes();
    void patientName_data();
    void patientName();
    void nameOutsideCp1251Fails();
    void uids();
    void damagedFile_data();
    void damagedFile();
    void readableByPydicom();
    void commandLine_data();
    void commandLine();

private:
    QString freshDir(const QString &name);

    QTemporaryDir m_tmp;
    // The generator registers encoders itself; reading back needs decoders.
    dicom::CodecRegistration m_codecs;
};

void TestSeriesGen::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    // Damaged files make DCMTK log parse errors the tests expect.
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
}

QString TestSeriesGen::freshDir(const QString &name)
{
    QString safe = name;
    safe.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    QString path = m_tmp.filePath(safe);
    for (int i = 2; QFileInfo::exists(path); ++i)
        path = m_tmp.filePath(safe + QLatin1Char('_') + QString::number(i));
    return path;
}

void TestSeriesGen::pixelValueLooksLikeABody()
{
    SeriesSpec spec;
    spec.rows = spec.columns = 64;
    spec.slices = 5;
    auto hu = [&](int s, int r, int c) {
        return pixelValue(spec, s, r, c) * spec.rescaleSlope + spec.rescaleIntercept;
    };
    // Air in the corners, soft tissue in the middle of the trunk.
    QVERIFY(std::abs(hu(0, 0, 0) + 1000) <= 10);
    QVERIFY(std::abs(hu(2, 63, 63) + 1000) <= 10);
    QVERIFY(std::abs(hu(2, 32, 32) - 40) <= 10);

    int air = 0, lung = 0, soft = 0, bone = 0;
    for (int r = 0; r < spec.rows; ++r)
        for (int c = 0; c < spec.columns; ++c) {
            const double v = hu(2, r, c);
            air += v < -950;
            lung += v > -900 && v < -800;
            soft += v > -150 && v < 300;
            bone += v > 600;
        }
    const int total = spec.rows * spec.columns;
    QVERIFY2(air > total / 20 && lung > total / 20 && soft > total / 5 && bone > total / 200,
             qPrintable(QStringLiteral("air %1 lung %2 soft %3 bone %4 of %5")
                            .arg(air).arg(lung).arg(soft).arg(bone).arg(total)));

    // The anatomy changes along the stack, and the same position gives the
    // same value every time.
    QVERIFY(expectedPixels(spec, 0, 1) != expectedPixels(spec, 4, 1));
    QCOMPARE(expectedPixels(spec, 3, 1), expectedPixels(spec, 3, 1));

    // Stored values respect the pixel representation.
    spec.rescaleIntercept = 0;
    QVERIFY(pixelValue(spec, 0, 0, 0) < 0);
    spec.signedPixels = false;
    QVERIFY(pixelValue(spec, 0, 0, 0) >= 0);
}

void TestSeriesGen::series_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Compression>("compression");
    QTest::addColumn<bool>("signedPixels");
    QTest::addColumn<double>("intercept");
    QTest::addColumn<QString>("transferSyntax");
    QTest::addColumn<QString>("sopClass");
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("bitsAllocated");

    const struct { Kind kind; const char *name; QString sopClass; } kinds[] = {
        {Kind::CT, "ct", CtStorage},
        {Kind::MR, "mr", MrStorage},
        {Kind::ClassicMultiFrame, "classic", MultiFrameWordScStorage},
        {Kind::EnhancedMultiFrame, "enhanced", EnhancedCtStorage},
    };
    // Intercept 0 with signed pixels puts negative stored values through
    // the codecs; unsigned with -1024 is the common scanner output.
    const struct { Compression compression; const char *name; QString syntax; bool isSigned; double intercept; } codecs[] = {
        {Compression::None, "none", ExplicitLittle, true, -1024},
        {Compression::JpegLs, "jpegls", JpegLsLossless, true, 0},
        {Compression::Rle, "rle", RleLossless, false, -1024},
        {Compression::JpegLossless, "jpeglossless", JpegLosslessSv1, true, 0},
    };
    for (const auto &k : kinds)
        for (const auto &c : codecs)
            QTest::addRow("%s/%s", k.name, c.name)
                << k.kind << c.compression << c.isSigned << c.intercept << c.syntax << k.sopClass
                << (isMultiFrame(k.kind) ? 1 : 3) << 16;
    // Byte pixels: OB pixel data, and the byte flavour of the multi-frame
    // secondary capture.
    QTest::newRow("ct/rle/8-bit") << Kind::CT << Compression::Rle << false << -1024.0
                                  << RleLossless << CtStorage << 3 << 8;
    QTest::newRow("classic/none/8-bit") << Kind::ClassicMultiFrame << Compression::None << false
                                        << -1024.0 << ExplicitLittle << MultiFrameByteScStorage
                                        << 1 << 8;
}

void TestSeriesGen::series()
{
    QFETCH(Kind, kind);
    QFETCH(Compression, compression);
    QFETCH(bool, signedPixels);
    QFETCH(double, intercept);
    QFETCH(QString, transferSyntax);
    QFETCH(QString, sopClass);
    QFETCH(int, files);
    QFETCH(int, bitsAllocated);

    SeriesSpec spec = smallSpec(kind, compression);
    spec.signedPixels = signedPixels;
    spec.rescaleIntercept = intercept;
    // Byte pixels need a coarse slope to hold the Hounsfield range.
    spec.rescaleSlope = bitsAllocated == 8 ? 10.0 : 1.5;
    spec.bitsAllocated = bitsAllocated;
    const QString dir = freshDir(QString::fromLatin1(QTest::currentDataTag()));
    QStringList paths;
    QString error;
    QVERIFY2(writeSeries(spec, dir, &paths, &error), qPrintable(error));
    QCOMPARE(paths.size(), files);
    QVERIFY(validUid(spec.studyInstanceUid));
    QVERIFY(validUid(spec.seriesInstanceUid));
    QVERIFY(validUid(spec.frameOfReferenceUid));

    const bool multi = isMultiFrame(kind);
    const int frames = multi ? spec.slices : 1;
    QSet<QString> instanceUids;
    for (int i = 0; i < paths.size(); ++i) {
        QCOMPARE(QFileInfo(paths[i]).fileName(),
                 QStringLiteral("IMG%1.dcm").arg(i + 1, 4, 10, QLatin1Char('0')));
        QCOMPARE(QFileInfo(paths[i]).absolutePath(), QDir(dir).absolutePath());
        QCOMPARE(fileBytes(paths[i]).mid(128, 4), QByteArray("DICM"));

        auto file = load(paths[i], &error);
        QVERIFY2(file, qPrintable(error));
        DcmMetaInfo *meta = file->getMetaInfo();
        DcmDataset *ds = file->getDataset();

        QCOMPARE(text(meta, DCM_TransferSyntaxUID), transferSyntax);
        QCOMPARE(text(meta, DCM_MediaStorageSOPClassUID), sopClass);
        QCOMPARE(text(ds, DCM_SOPClassUID), sopClass);
        QCOMPARE(text(ds, DCM_SOPInstanceUID), sopInstanceUid(spec, i));
        QCOMPARE(text(meta, DCM_MediaStorageSOPInstanceUID), sopInstanceUid(spec, i));
        QVERIFY(validUid(text(ds, DCM_SOPInstanceUID)));
        instanceUids.insert(text(ds, DCM_SOPInstanceUID));
        QCOMPARE(text(ds, DCM_StudyInstanceUID), spec.studyInstanceUid);
        QCOMPARE(text(ds, DCM_SeriesInstanceUID), spec.seriesInstanceUid);
        QCOMPARE(text(ds, DCM_FrameOfReferenceUID), spec.frameOfReferenceUid);
        QCOMPARE(text(ds, DCM_Modality), kind == Kind::MR ? QStringLiteral("MR") : QStringLiteral("CT"));
        QCOMPARE(text(ds, DCM_BodyPartExamined), spec.bodyPart);
        QCOMPARE(text(ds, DCM_PatientID), spec.patientId);

        QCOMPARE(us(ds, DCM_Rows), spec.rows);
        QCOMPARE(us(ds, DCM_Columns), spec.columns);
        QCOMPARE(us(ds, DCM_BitsAllocated), bitsAllocated);
        QCOMPARE(us(ds, DCM_SamplesPerPixel), 1);
        QCOMPARE(us(ds, DCM_PixelRepresentation), signedPixels ? 1 : 0);
        QCOMPARE(text(ds, DCM_PhotometricInterpretation), QStringLiteral("MONOCHROME2"));
        if (multi)
            QCOMPARE(text(ds, DCM_NumberOfFrames).toInt(), spec.slices);
        else
            QCOMPARE(text(ds, DCM_InstanceNumber).toInt(), i + 1);

        // Geometry, where each kind keeps it.
        DcmItem *geometry = ds;       // orientation, spacing, thickness
        if (kind == Kind::EnhancedMultiFrame) {
            QVERIFY(!has(ds, DCM_ImagePositionPatient));
            QVERIFY(!has(ds, DCM_ImageOrientationPatient));
            QVERIFY(!has(ds, DCM_PixelSpacing));
            DcmItem *shared = subItem(ds, DCM_SharedFunctionalGroupsSequence);
            QVERIFY(shared);
            DcmSequenceOfItems *perFrame = nullptr;
            QVERIFY(ds->findAndGetSequence(DCM_PerFrameFunctionalGroupsSequence, perFrame).good());
            QCOMPARE(int(perFrame->card()), spec.slices);
            for (int f = 0; f < spec.slices; ++f) {
                DcmItem *plane = subItem(perFrame->getItem(f), DCM_PlanePositionSequence);
                const QString m = mismatch(numbers(plane, DCM_ImagePositionPatient),
                                           expectedPosition(spec, f));
                QVERIFY2(m.isEmpty(), qPrintable(QStringLiteral("frame %1: ").arg(f) + m));
                QCOMPARE(ul(subItem(perFrame->getItem(f), DCM_FrameContentSequence),
                            DCM_InStackPositionNumber), long(f + 1));
            }
            DcmItem *measures = subItem(shared, DCM_PixelMeasuresSequence);
            QVERIFY(measures);
            QVERIFY(subItem(shared, DCM_PlaneOrientationSequence));
            const QString o = mismatch(numbers(subItem(shared, DCM_PlaneOrientationSequence),
                                               DCM_ImageOrientationPatient), spec.orientation);
            QVERIFY2(o.isEmpty(), qPrintable(o));
            geometry = measures;
            DcmItem *transform = subItem(shared, DCM_PixelValueTransformationSequence);
            QCOMPARE(numbers(transform, DCM_RescaleSlope), std::vector<double>{spec.rescaleSlope});
            QCOMPARE(numbers(transform, DCM_RescaleIntercept), std::vector<double>{intercept});
            DcmItem *voi = subItem(shared, DCM_FrameVOILUTSequence);
            QCOMPARE(text(voi, DCM_WindowCenter), spec.windowCenter);
            QCOMPARE(text(voi, DCM_WindowWidth), spec.windowWidth);
        } else {
            QVERIFY(!has(ds, DCM_SharedFunctionalGroupsSequence));
            QVERIFY(!has(ds, DCM_PerFrameFunctionalGroupsSequence));
            const auto position = expectedPosition(spec, multi ? 0 : i);
            QString m = mismatch(numbers(ds, DCM_ImagePositionPatient), position);
            QVERIFY2(m.isEmpty(), qPrintable(m));
            m = mismatch(numbers(ds, DCM_ImageOrientationPatient), spec.orientation);
            QVERIFY2(m.isEmpty(), qPrintable(m));
            const auto n = normalOf(spec.orientation);
            const double location = position[0] * n[0] + position[1] * n[1] + position[2] * n[2];
            m = mismatch(numbers(ds, DCM_SliceLocation), std::array<double, 1>{location});
            QVERIFY2(m.isEmpty(), qPrintable(m));
            QCOMPARE(numbers(ds, DCM_RescaleSlope), std::vector<double>{spec.rescaleSlope});
            QCOMPARE(numbers(ds, DCM_RescaleIntercept), std::vector<double>{intercept});
            QCOMPARE(text(ds, DCM_WindowCenter), spec.windowCenter);
            QCOMPARE(text(ds, DCM_WindowWidth), spec.windowWidth);
        }
        const QString spacing = mismatch(numbers(geometry, DCM_PixelSpacing),
                                         std::array<double, 2>{spec.pixelSpacingRow,
                                                               spec.pixelSpacingColumn});
        QVERIFY2(spacing.isEmpty(), qPrintable(spacing));
        QCOMPARE(numbers(geometry, DCM_SliceThickness), std::vector<double>{spec.sliceThickness});
        if (kind == Kind::ClassicMultiFrame) {
            // One position for the stack; the rest follows from the spacing
            // and the Slice Location Vector the frame increment points to.
            QCOMPARE(numbers(ds, DCM_SpacingBetweenSlices), std::vector<double>{spec.sliceSpacing});
            const auto n = normalOf(spec.orientation);
            const std::vector<double> locations = numbers(ds, DCM_SliceLocationVector);
            QCOMPARE(int(locations.size()), spec.slices);
            for (int f = 0; f < spec.slices; ++f) {
                const auto p = expectedPosition(spec, f);
                QVERIFY(std::abs(locations[f] - (p[0] * n[0] + p[1] * n[1] + p[2] * n[2])) < 1e-6);
            }
        }
        if (kind == Kind::MR) {
            QCOMPARE(numbers(ds, DCM_RepetitionTime), std::vector<double>{spec.repetitionTime});
            QCOMPARE(numbers(ds, DCM_EchoTime), std::vector<double>{spec.echoTime});
        }

        std::vector<int> pixels;
        QVERIFY2(decodedPixels(ds, &pixels, &error), qPrintable(error));
        const QString m = pixelMismatch(pixels, expectedPixels(spec, multi ? 0 : i, frames));
        QVERIFY2(m.isEmpty(), qPrintable(m));
    }
    QCOMPARE(instanceUids.size(), paths.size());
}

void TestSeriesGen::enhancedGroups_data()
{
    QTest::addColumn<EnhancedLayout>("layout");
    QTest::addColumn<bool>("perFramePositions");
    QTest::addColumn<int>("phaseSize");
    QTest::addColumn<bool>("writeGeometry");

    QTest::newRow("shared") << EnhancedLayout::SharedGeometry << true << 0 << true;
    QTest::newRow("per-frame") << EnhancedLayout::PerFrameGeometry << true << 0 << true;
    QTest::newRow("shared, no positions") << EnhancedLayout::SharedGeometry << false << 0 << true;
    QTest::newRow("per-frame, phases of 2") << EnhancedLayout::PerFrameGeometry << true << 2 << true;
    QTest::newRow("no geometry") << EnhancedLayout::SharedGeometry << true << 3 << false;
}

void TestSeriesGen::enhancedGroups()
{
    QFETCH(EnhancedLayout, layout);
    QFETCH(bool, perFramePositions);
    QFETCH(int, phaseSize);
    QFETCH(bool, writeGeometry);

    SeriesSpec spec = smallSpec(Kind::EnhancedMultiFrame, Compression::None);
    spec.slices = 5;
    spec.enhancedLayout = layout;
    spec.perFramePositions = perFramePositions;
    spec.temporalPhaseSize = phaseSize;
    spec.temporalIndexBase = 3;
    spec.writeGeometry = writeGeometry;
    QStringList paths;
    QString error;
    QVERIFY2(writeSeries(spec, freshDir(QStringLiteral("enhanced")), &paths, &error),
             qPrintable(error));
    QCOMPARE(paths.size(), 1);
    auto file = load(paths.first(), &error);
    QVERIFY2(file, qPrintable(error));
    DcmDataset *ds = file->getDataset();

    QCOMPARE(text(ds, DCM_SOPClassUID), EnhancedCtStorage);
    QCOMPARE(text(ds, DCM_NumberOfFrames).toInt(), spec.slices);
    for (const DcmTagKey &key : {DCM_ImagePositionPatient, DCM_ImageOrientationPatient,
                                 DCM_PixelSpacing, DCM_TemporalPositionIndex})
        QVERIFY2(!has(ds, key), qPrintable(key.toString().c_str()));

    const bool sharedGeometry = layout == EnhancedLayout::SharedGeometry;
    DcmItem *shared = subItem(ds, DCM_SharedFunctionalGroupsSequence);
    QVERIFY(shared);
    QCOMPARE(has(shared, DCM_PixelMeasuresSequence), sharedGeometry);
    QCOMPARE(has(shared, DCM_PlaneOrientationSequence), sharedGeometry && writeGeometry);
    QVERIFY(!has(shared, DCM_PlanePositionSequence));
    QVERIFY(!has(shared, DCM_FrameContentSequence));

    DcmSequenceOfItems *perFrame = nullptr;
    QVERIFY(ds->findAndGetSequence(DCM_PerFrameFunctionalGroupsSequence, perFrame).good());
    QCOMPARE(int(perFrame->card()), spec.slices);
    for (int f = 0; f < spec.slices; ++f) {
        DcmItem *item = perFrame->getItem(f);
        DcmItem *content = subItem(item, DCM_FrameContentSequence);
        QVERIFY(content);
        if (phaseSize > 0)
            QCOMPARE(ul(content, DCM_TemporalPositionIndex), long(spec.temporalIndexBase + f / phaseSize));
        else
            QVERIFY(!has(content, DCM_TemporalPositionIndex));

        QCOMPARE(has(item, DCM_PlanePositionSequence), perFramePositions && writeGeometry);
        if (has(item, DCM_PlanePositionSequence)) {
            const QString m = mismatch(numbers(subItem(item, DCM_PlanePositionSequence),
                                               DCM_ImagePositionPatient),
                                       expectedPosition(spec, f));
            QVERIFY2(m.isEmpty(), qPrintable(m));
        }
        QCOMPARE(has(item, DCM_PixelMeasuresSequence), !sharedGeometry);
        QCOMPARE(has(item, DCM_PlaneOrientationSequence), !sharedGeometry && writeGeometry);

        DcmItem *measures = subItem(sharedGeometry ? shared : item, DCM_PixelMeasuresSequence);
        QVERIFY(measures);
        QCOMPARE(numbers(measures, DCM_SliceThickness), std::vector<double>{spec.sliceThickness});
        QCOMPARE(has(measures, DCM_PixelSpacing), writeGeometry);
        if (writeGeometry) {
            const QString m = mismatch(numbers(measures, DCM_PixelSpacing),
                                       std::array<double, 2>{spec.pixelSpacingRow,
                                                             spec.pixelSpacingColumn});
            QVERIFY2(m.isEmpty(), qPrintable(m));
            const QString o = mismatch(numbers(subItem(sharedGeometry ? shared : item,
                                                       DCM_PlaneOrientationSequence),
                                               DCM_ImageOrientationPatient),
                                       spec.orientation);
            QVERIFY2(o.isEmpty(), qPrintable(o));
        }
    }
}

void TestSeriesGen::singleFrameAttributes_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("acquisitionTime");
    QTest::addColumn<QString>("contentTime");
    QTest::addColumn<QString>("weight");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("laterality");
    QTest::addColumn<QString>("comments");
    QTest::addColumn<int>("phaseSize");
    QTest::addColumn<double>("triggerTime");
    QTest::addColumn<int>("cardiacImages");

    QTest::newRow("ct, everything set")
        << Kind::CT << QStringLiteral("101558.5") << QStringLiteral("101600") << QStringLiteral("72.5")
        << QStringLiteral("1.78") << QStringLiteral("R") << QStringLiteral("synthetic body")
        << 2 << -1.0 << 0;
    QTest::newRow("ct, optional values empty")
        << Kind::CT << QString() << QString() << QString() << QString() << QString() << QString()
        << 0 << -1.0 << 0;
    QTest::newRow("mr, cardiac, six-digit fraction")
        << Kind::MR << QStringLiteral("235958.123456") << QString() << QStringLiteral("80")
        << QString() << QStringLiteral("L") << QString() << 1 << 120.5 << 25;
}

void TestSeriesGen::singleFrameAttributes()
{
    QFETCH(Kind, kind);
    QFETCH(QString, acquisitionTime);
    QFETCH(QString, contentTime);
    QFETCH(QString, weight);
    QFETCH(QString, size);
    QFETCH(QString, laterality);
    QFETCH(QString, comments);
    QFETCH(int, phaseSize);
    QFETCH(double, triggerTime);
    QFETCH(int, cardiacImages);

    SeriesSpec spec = smallSpec(kind, Compression::None);
    spec.slices = 4;
    spec.acquisitionTime = acquisitionTime;
    spec.contentTime = contentTime;
    spec.patientWeight = weight;
    spec.patientSize = size;
    spec.laterality = laterality;
    spec.imageLaterality = laterality;
    spec.imageComments = comments;
    spec.temporalPhaseSize = phaseSize;
    spec.temporalIndexBase = 5;
    spec.triggerTime = triggerTime;
    spec.cardiacNumberOfImages = cardiacImages;
    QStringList paths;
    QString error;
    QVERIFY2(writeSeries(spec, freshDir(QString::fromLatin1(QTest::currentDataTag())), &paths, &error),
             qPrintable(error));
    QCOMPARE(paths.size(), spec.slices);

    auto optional = [](DcmItem *ds, const DcmTagKey &key, const QString &expected) {
        return expected.isEmpty() ? !has(ds, key) : text(ds, key) == expected;
    };
    for (int s = 0; s < spec.slices; ++s) {
        auto file = load(paths[s], &error);
        QVERIFY2(file, qPrintable(error));
        DcmDataset *ds = file->getDataset();

        if (acquisitionTime.isEmpty()) {
            QVERIFY(!has(ds, DCM_AcquisitionTime));
        } else {
            const QString whole = acquisitionTime.left(6);
            const QString fraction = acquisitionTime.mid(6);
            const QString expected =
                QTime::fromString(whole, QStringLiteral("HHmmss")).addSecs(s).toString(QStringLiteral("HHmmss"))
                + fraction;
            QCOMPARE(text(ds, DCM_AcquisitionTime), expected);
        }
        QVERIFY(optional(ds, DCM_ContentTime, contentTime));
        QVERIFY(optional(ds, DCM_PatientWeight, weight));
        QVERIFY(optional(ds, DCM_PatientSize, size));
        QVERIFY(optional(ds, DCM_Laterality, laterality));
        QVERIFY(optional(ds, DCM_ImageLaterality, laterality));
        QVERIFY(optional(ds, DCM_ImageComments, comments));
        if (phaseSize > 0)
            QCOMPARE(ul(ds, DCM_TemporalPositionIndex), long(spec.temporalIndexBase + s / phaseSize));
        else
            QVERIFY(!has(ds, DCM_TemporalPositionIndex));
        if (triggerTime >= 0)
            QCOMPARE(numbers(ds, DCM_TriggerTime), std::vector<double>{triggerTime});
        else
            QVERIFY(!has(ds, DCM_TriggerTime));
        if (cardiacImages > 0)
            QCOMPARE(text(ds, DCM_CardiacNumberOfImages).toInt(), cardiacImages);
        else
            QVERIFY(!has(ds, DCM_CardiacNumberOfImages));
    }
}

void TestSeriesGen::patientName_data()
{
    QTest::addColumn<NameEncoding>("encoding");
    QTest::addColumn<QString>("name");

    QTest::newRow("utf8 cyrillic") << NameEncoding::Utf8 << QStringLiteral("Иванов^Пётр");
    QTest::newRow("utf8 ascii") << NameEncoding::Utf8 << QStringLiteral("Doe^John");
    QTest::newRow("cp1251 cyrillic") << NameEncoding::Cp1251
                                     << QStringLiteral("Ёлкина^Фёкла Яковлевна");
    QTest::newRow("cp1251 ascii") << NameEncoding::Cp1251 << QStringLiteral("Doe^Jane");
}

void TestSeriesGen::patientName()
{
    QFETCH(NameEncoding, encoding);
    QFETCH(QString, name);

    SeriesSpec spec = smallSpec(Kind::CT, Compression::None);
    spec.slices = 1;
    spec.patientName = name;
    spec.nameEncoding = encoding;
    QStringList paths;
    QString error;
    QVERIFY2(writeSeries(spec, freshDir(QString::fromLatin1(QTest::currentDataTag())), &paths, &error),
             qPrintable(error));
    auto file = load(paths.first(), &error);
    QVERIFY2(file, qPrintable(error));
    DcmDataset *ds = file->getDataset();

    if (encoding == NameEncoding::Utf8) {
        QCOMPARE(text(ds, DCM_SpecificCharacterSet), QStringLiteral("ISO_IR 192"));
        QCOMPARE(raw(ds, DCM_PatientName), name.toUtf8());
    } else {
        QVERIFY(!has(ds, DCM_SpecificCharacterSet));
        const QByteArray expected = cp1251FromChart(name);
        QVERIFY(!expected.contains('?'));
        QCOMPARE(raw(ds, DCM_PatientName), expected);
    }
}

void TestSeriesGen::nameOutsideCp1251Fails()
{
    SeriesSpec spec = smallSpec(Kind::CT, Compression::None);
    spec.patientName = QStringLiteral("山田^太郎");
    spec.nameEncoding = NameEncoding::Cp1251;
    QStringList paths;
    QString error;
    QVERIFY(!writeSeries(spec, freshDir(QStringLiteral("cp1251-fail")), &paths, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(paths.isEmpty());
}

void TestSeriesGen::uids()
{
    // Empty UIDs are generated and written back; a second run keeps them.
    SeriesSpec spec = smallSpec(Kind::CT, Compression::None);
    spec.slices = 2;
    QStringList paths;
    QString error;
    QVERIFY2(writeSeries(spec, freshDir(QStringLiteral("uids-1")), &paths, &error), qPrintable(error));
    const QString study = spec.studyInstanceUid;
    const QString series = spec.seriesInstanceUid;
    QVERIFY(validUid(study) && validUid(series) && validUid(spec.frameOfReferenceUid));
    QVERIFY(study != series && series != spec.frameOfReferenceUid);
    QVERIFY2(writeSeries(spec, freshDir(QStringLiteral("uids-2")), &paths, &error), qPrintable(error));
    QCOMPARE(spec.studyInstanceUid, study);
    QCOMPARE(spec.seriesInstanceUid, series);

    // A second series gets fresh UIDs.
    SeriesSpec other = smallSpec(Kind::CT, Compression::None);
    other.slices = 1;
    QVERIFY2(writeSeries(other, freshDir(QStringLiteral("uids-3")), &paths, &error), qPrintable(error));
    QVERIFY(other.seriesInstanceUid != series);
    QVERIFY(other.studyInstanceUid != study);

    // Instance UIDs follow from the series UID alone.
    QSet<QString> seen;
    for (int s = 0; s < 50; ++s) {
        const QString uid = sopInstanceUid(spec, s);
        QVERIFY(validUid(uid));
        QCOMPARE(sopInstanceUid(spec, s), uid);
        seen.insert(uid);
    }
    QCOMPARE(seen.size(), 50);

    // A series UID that leaves no room for a suffix still gives valid,
    // distinct, reproducible instance UIDs, and the files carry them.
    SeriesSpec full = smallSpec(Kind::CT, Compression::None);
    full.slices = 3;
    full.seriesInstanceUid = QStringLiteral("1.2.826.0.1.3680043.2.1125.")
                                 .leftJustified(64, QLatin1Char('7'));
    QCOMPARE(full.seriesInstanceUid.size(), 64);
    full.studyInstanceUid = QStringLiteral("1.2.3.4");
    QVERIFY2(writeSeries(full, freshDir(QStringLiteral("uids-full")), &paths, &error),
             qPrintable(error));
    QCOMPARE(full.studyInstanceUid, QStringLiteral("1.2.3.4"));
    seen.clear();
    for (int s = 0; s < full.slices; ++s) {
        const QString uid = sopInstanceUid(full, s);
        QVERIFY2(validUid(uid), qPrintable(uid));
        seen.insert(uid);
        auto file = load(paths[s], &error);
        QVERIFY2(file, qPrintable(error));
        QCOMPARE(text(file->getDataset(), DCM_SOPInstanceUID), uid);
        QCOMPARE(text(file->getDataset(), DCM_SeriesInstanceUID), full.seriesInstanceUid);
        QCOMPARE(text(file->getDataset(), DCM_StudyInstanceUID), full.studyInstanceUid);
    }
    QCOMPARE(seen.size(), full.slices);

    // A multi-frame object is one instance, whichever frame is asked about.
    SeriesSpec enhanced = smallSpec(Kind::EnhancedMultiFrame, Compression::None);
    enhanced.seriesInstanceUid = series;
    QCOMPARE(sopInstanceUid(enhanced, 2), sopInstanceUid(enhanced, 0));
}

void TestSeriesGen::damagedFile_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<Compression>("compression");
    QTest::addColumn<Kind>("kind");

    QTest::newRow("no preamble") << Damage::NoPreamble << Compression::None << Kind::CT;
    QTest::newRow("truncated") << Damage::TruncatedPixelData << Compression::None << Kind::CT;
    QTest::newRow("truncated jpeg-ls") << Damage::TruncatedPixelData << Compression::JpegLs << Kind::CT;
    QTest::newRow("truncated rle, mr spec") << Damage::TruncatedPixelData << Compression::Rle << Kind::MR;
    QTest::newRow("no study uid") << Damage::NoStudyUid << Compression::None << Kind::CT;
    QTest::newRow("no series uid, rle") << Damage::NoSeriesUid << Compression::Rle << Kind::CT;
    QTest::newRow("no sop instance uid") << Damage::NoSopInstanceUid << Compression::None << Kind::CT;
    QTest::newRow("no sop instance uid, jpeg lossless")
        << Damage::NoSopInstanceUid << Compression::JpegLossless << Kind::CT;
    QTest::newRow("no study uid, enhanced spec")
        << Damage::NoStudyUid << Compression::None << Kind::EnhancedMultiFrame;
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
    const QString path = QDir(freshDir(QString::fromLatin1(QTest::currentDataTag())))
                             .filePath(QStringLiteral("sub/IMG0001.dcm"));
    QString error;
    QVERIFY2(writeDamagedFile(spec, damage, path, &error), qPrintable(error));
    QVERIFY(validUid(spec.studyInstanceUid) && validUid(spec.seriesInstanceUid));
    const QByteArray bytes = fileBytes(path);
    QVERIFY(bytes.size() > 132);
    const bool noPreamble = damage == Damage::NoPreamble;
    QCOMPARE(bytes.mid(128, 4) == "DICM", !noPreamble);

    // Whatever kind the spec names, the damaged file is one CT image.
    SeriesSpec ct = spec;
    ct.kind = Kind::CT;

    const auto file = load(path, &error);
    if (damage == Damage::TruncatedPixelData) {
        QString detail;
        QVERIFY2(pixelDataCutShort(bytes, &detail), qPrintable(detail));
        QVERIFY2(!file, "DCMTK read a file with cut pixel data without complaint");
        return;
    }
    QVERIFY2(file, qPrintable(error));
    DcmDataset *ds = file->getDataset();
    QCOMPARE(text(ds, DCM_SOPClassUID), CtStorage);
    QCOMPARE(text(ds, DCM_Modality), QStringLiteral("CT"));

    if (noPreamble) {
        // Straight into the first dataset element, group 0008.
        QCOMPARE(bytes.left(2), QByteArray("\x08\x00", 2));
        QVERIFY(!has(file->getMetaInfo(), DCM_TransferSyntaxUID));
    }
    QCOMPARE(has(ds, DCM_StudyInstanceUID), damage != Damage::NoStudyUid);
    QCOMPARE(has(ds, DCM_SeriesInstanceUID), damage != Damage::NoSeriesUid);
    QCOMPARE(has(ds, DCM_SOPInstanceUID), damage != Damage::NoSopInstanceUid);
    if (damage == Damage::NoSopInstanceUid) {
        // Not even the meta header may hold one: readers falling back to it
        // must find nothing either.
        QVERIFY(!has(file->getMetaInfo(), DCM_MediaStorageSOPInstanceUID));
        QVERIFY(!bytes.contains(sopInstanceUid(ct, 0).toLatin1()));
    } else {
        QCOMPARE(text(ds, DCM_SOPInstanceUID), sopInstanceUid(ct, 0));
    }
    if (damage != Damage::NoStudyUid)
        QCOMPARE(text(ds, DCM_StudyInstanceUID), spec.studyInstanceUid);
    if (damage != Damage::NoSeriesUid)
        QCOMPARE(text(ds, DCM_SeriesInstanceUID), spec.seriesInstanceUid);

    // Only the named damage: the image itself is intact.
    std::vector<int> pixels;
    QVERIFY2(decodedPixels(ds, &pixels, &error), qPrintable(error));
    const QString m = pixelMismatch(pixels, expectedPixels(ct, 0, 1));
    QVERIFY2(m.isEmpty(), qPrintable(m));
}

void TestSeriesGen::readableByPydicom()
{
    const QString python = QStringLiteral("/usr/bin/python3");
    {
        QProcess probe;
        probe.start(python, {QStringLiteral("-c"), QStringLiteral("import pydicom, numpy")});
        if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit
            || probe.exitCode() != 0)
            QSKIP("pydicom with numpy is not available to /usr/bin/python3");
    }

    struct Case { SeriesSpec spec; QStringList paths; };
    std::vector<Case> cases;
    auto add = [&](Kind kind, Compression compression, bool isSigned, double intercept) {
        Case c{smallSpec(kind, compression), {}};
        c.spec.signedPixels = isSigned;
        c.spec.rescaleIntercept = intercept;
        cases.push_back(c);
    };
    for (Compression compression : {Compression::None, Compression::Rle, Compression::JpegLs,
                                    Compression::JpegLossless}) {
        add(Kind::CT, compression, true, 0);
        add(Kind::EnhancedMultiFrame, compression, false, -1024);
    }
    add(Kind::ClassicMultiFrame, Compression::Rle, true, 0);
    add(Kind::MR, Compression::None, false, 0);
    cases.back().spec.patientName = QStringLiteral("Сидорова^Алёна");
    cases.back().spec.nameEncoding = NameEncoding::Cp1251;

    QStringList arguments{QFINDTESTDATA("seriesgen_pydicom.py")};
    QVERIFY(!arguments.first().isEmpty());
    const QString rawDir = freshDir(QStringLiteral("pydicom-raw"));
    QVERIFY(QDir().mkpath(rawDir));
    arguments << rawDir;
    QString error;
    for (size_t i = 0; i < cases.size(); ++i) {
        QVERIFY2(writeSeries(cases[i].spec, freshDir(QStringLiteral("pydicom-%1").arg(i)),
                             &cases[i].paths, &error),
                 qPrintable(error));
        arguments << cases[i].paths;
    }

    QProcess process;
    process.start(python, arguments);
    QVERIFY(process.waitForFinished(60000));
    const QByteArray output = process.readAllStandardOutput();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             process.readAllStandardError().constData());
    QJsonParseError parseError;
    const QJsonArray report = QJsonDocument::fromJson(output, &parseError).array();
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(parseError.errorString()));

    int index = 0;
    QStringList undecoded;
    for (const Case &c : cases) {
        const bool multi = isMultiFrame(c.spec.kind);
        for (int i = 0; i < c.paths.size(); ++i, ++index) {
            const QJsonObject entry = report.at(index).toObject();
            const QString where = c.paths[i];
            QCOMPARE(entry.value(QStringLiteral("path")).toString(), where);
            QCOMPARE(entry.value(QStringLiteral("sopInstanceUid")).toString(), sopInstanceUid(c.spec, i));
            QCOMPARE(entry.value(QStringLiteral("rows")).toInt(), c.spec.rows);
            QCOMPARE(entry.value(QStringLiteral("columns")).toInt(), c.spec.columns);
            QCOMPARE(entry.value(QStringLiteral("frames")).toInt(), multi ? c.spec.slices : 1);
            const QByteArray nameBytes = c.spec.nameEncoding == NameEncoding::Cp1251
                                             ? cp1251FromChart(c.spec.patientName)
                                             : c.spec.patientName.toUtf8();
            QCOMPARE(entry.value(QStringLiteral("patientNameHex")).toString().toLatin1(),
                     nameBytes.toHex());

            const QJsonArray positions = entry.value(QStringLiteral("positions")).toArray();
            const int positionCount = c.spec.kind == Kind::EnhancedMultiFrame ? c.spec.slices : 1;
            QCOMPARE(positions.size(), positionCount);
            for (int p = 0; p < positionCount; ++p) {
                const QJsonArray xyz = positions.at(p).toArray();
                std::vector<double> actual;
                for (const auto &v : xyz)
                    actual.push_back(v.toDouble());
                const int slice = c.spec.kind == Kind::EnhancedMultiFrame ? p : (multi ? 0 : i);
                const QString m = mismatch(actual, expectedPosition(c.spec, slice));
                QVERIFY2(m.isEmpty(), qPrintable(where + QStringLiteral(": ") + m));
            }

            if (!entry.value(QStringLiteral("decoded")).toBool()) {
                // pydicom in this installation has no decoder for every
                // syntax; the uncompressed and RLE ones it always has.
                QVERIFY2(c.spec.compression != Compression::None
                             && c.spec.compression != Compression::Rle,
                         qPrintable(where));
                undecoded << entry.value(QStringLiteral("transferSyntax")).toString();
                continue;
            }
            const QByteArray rawPixels = fileBytes(QDir(rawDir).filePath(QString::number(index) + QStringLiteral(".raw")));
            std::vector<int> pixels(size_t(rawPixels.size()) / 4);
            for (size_t k = 0; k < pixels.size(); ++k)
                pixels[k] = qFromLittleEndian<qint32>(rawPixels.constData() + 4 * k);
            const QString m = pixelMismatch(
                pixels, expectedPixels(c.spec, multi ? 0 : i, multi ? c.spec.slices : 1));
            QVERIFY2(m.isEmpty(), qPrintable(where + QStringLiteral(": ") + m));
        }
    }
    QCOMPARE(index, int(report.size()));
    if (!undecoded.isEmpty()) {
        undecoded.removeDuplicates();
        qInfo("pydicom here cannot decode %s; those pixels are checked through DCMTK only",
              qPrintable(undecoded.join(QStringLiteral(", "))));
    }
}

void TestSeriesGen::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("transferSyntax");
    QTest::addColumn<int>("frames");

    const QStringList ct{QStringLiteral("--kind"), QStringLiteral("ct"), QStringLiteral("--slices"),
                         QStringLiteral("3"), QStringLiteral("--size"), QStringLiteral("16")};
    QTest::newRow("ct") << ct << 0 << 3 << ExplicitLittle << 1;
    QTest::newRow("mr rle") << QStringList{QStringLiteral("--kind"), QStringLiteral("mr"),
                                           QStringLiteral("--slices"), QStringLiteral("2"),
                                           QStringLiteral("--rows"), QStringLiteral("12"),
                                           QStringLiteral("--columns"), QStringLiteral("10"),
                                           QStringLiteral("--compression"), QStringLiteral("rle")}
                            << 0 << 2 << RleLossless << 1;
    QTest::newRow("enhanced jpeg-ls")
        << QStringList{QStringLiteral("--kind"), QStringLiteral("enhanced"), QStringLiteral("--slices"),
                       QStringLiteral("4"), QStringLiteral("--size"), QStringLiteral("12"),
                       QStringLiteral("--compression"), QStringLiteral("jpegls")}
        << 0 << 1 << JpegLsLossless << 4;
    QTest::newRow("classic jpeg lossless")
        << QStringList{QStringLiteral("--kind"), QStringLiteral("classic"), QStringLiteral("--slices"),
                       QStringLiteral("2"), QStringLiteral("--size"), QStringLiteral("12"),
                       QStringLiteral("--compression"), QStringLiteral("jpeglossless")}
        << 0 << 1 << JpegLosslessSv1 << 2;
    QTest::newRow("cp1251 name") << ct + QStringList{QStringLiteral("--cp1251"), QStringLiteral("--name"),
                                                     QStringLiteral("Петров^Иван")}
                                 << 0 << 3 << ExplicitLittle << 1;
    QTest::newRow("damaged") << ct + QStringList{QStringLiteral("--damage"), QStringLiteral("nopreamble")}
                             << 0 << 1 << QString() << 1;

    QTest::newRow("unknown kind") << QStringList{QStringLiteral("--kind"), QStringLiteral("pet")}
                                  << 2 << 0 << QString() << 0;
    QTest::newRow("zero slices") << QStringList{QStringLiteral("--slices"), QStringLiteral("0")}
                                 << 2 << 0 << QString() << 0;
    QTest::newRow("size not a number") << QStringList{QStringLiteral("--size"), QStringLiteral("big")}
                                       << 2 << 0 << QString() << 0;
    QTest::newRow("unknown compression")
        << QStringList{QStringLiteral("--compression"), QStringLiteral("jpeg2000")} << 2 << 0 << QString() << 0;
    QTest::newRow("unknown damage") << QStringList{QStringLiteral("--damage"), QStringLiteral("scratched")}
                                    << 2 << 0 << QString() << 0;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << 2 << 0 << QString() << 0;
    QTest::newRow("no output directory") << QStringList{QStringLiteral("--no-out")} << 2 << 0 << QString() << 0;
    QTest::newRow("output below a file") << QStringList{QStringLiteral("--out-below-file")}
                                         << 1 << 0 << QString() << 0;
}

void TestSeriesGen::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(int, files);
    QFETCH(QString, transferSyntax);
    QFETCH(int, frames);

    const QString dir = freshDir(QStringLiteral("cli-") + QString::fromLatin1(QTest::currentDataTag()));
    if (arguments.removeAll(QStringLiteral("--out-below-file"))) {
        QFile blocker(dir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        arguments << QStringLiteral("--out") << dir + QStringLiteral("/series");
    } else if (!arguments.removeAll(QStringLiteral("--no-out"))) {
        arguments << QStringLiteral("--out") << dir;
    }

    QProcess process;
    process.start(QStringLiteral(NORVANE_GEN_PATH), arguments);
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode,
             qPrintable(QStringLiteral("exit %1, stderr: %2").arg(process.exitCode()).arg(err)));
    if (exitCode != 0) {
        QVERIFY(!err.trimmed().isEmpty());
        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/IMG0001.dcm")));
        return;
    }

    const QStringList written = QDir(dir).entryList({QStringLiteral("*.dcm")}, QDir::Files, QDir::Name);
    QCOMPARE(written.size(), files);
    QVERIFY2(out.contains(QStringLiteral("files: %1\n").arg(files)), qPrintable(out));
    const QRegularExpressionMatch series =
        QRegularExpression(QStringLiteral("series-uid: (\\S+)")).match(out);
    const QRegularExpressionMatch study =
        QRegularExpression(QStringLiteral("study-uid: (\\S+)")).match(out);
    QVERIFY2(series.hasMatch() && study.hasMatch(), qPrintable(out));

    const QString first = QDir(dir).filePath(written.first());
    if (arguments.contains(QStringLiteral("--damage"))) {
        QVERIFY(fileBytes(first).mid(128, 4) != "DICM");
        return;
    }
    for (const QString &name : written) {
        QString error;
        auto file = load(QDir(dir).filePath(name), &error);
        QVERIFY2(file, qPrintable(error));
        QCOMPARE(text(file->getMetaInfo(), DCM_TransferSyntaxUID), transferSyntax);
        QCOMPARE(text(file->getDataset(), DCM_SeriesInstanceUID), series.captured(1));
        QCOMPARE(text(file->getDataset(), DCM_StudyInstanceUID), study.captured(1));
        if (frames > 1)
            QCOMPARE(text(file->getDataset(), DCM_NumberOfFrames).toInt(), frames);
        const qsizetype nameAt = arguments.indexOf(QStringLiteral("--name"));
        if (nameAt >= 0) {
            const QString name = arguments.at(nameAt + 1);
            QCOMPARE(raw(file->getDataset(), DCM_PatientName), cp1251FromChart(name));
            QVERIFY(!has(file->getDataset(), DCM_SpecificCharacterSet));
        }
    }
}

QTEST_GUILESS_MAIN(TestSeriesGen)
#include "test_seriesgen.moc"
