#include "dicom/CodecRegistration.h"
#include "dicom/DatasetEditor.h"
#include "dicom/DicomFileOperations.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomTagEntry.h"
#include "dicom/DoseReaders.h"
#include "seriesgen/SeriesGenerator.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using velmaris::gen::Compression;
using velmaris::gen::Kind;
using velmaris::gen::SeriesSpec;
using velmaris::testing::editDataset;

Q_DECLARE_METATYPE(Compression)
Q_DECLARE_METATYPE(Kind)

namespace {

struct Loaded
{
    E_TransferSyntax xfer = EXS_Unknown;
    QByteArray pixels; // decoded Pixel Data bytes
    std::unique_ptr<DcmFileFormat> file;
};

// Independent of the code under test: DCMTK directly.
Loaded load(const QString &path)
{
    Loaded result;
    result.file = std::make_unique<DcmFileFormat>();
    if (result.file->loadFile(QFile::encodeName(path).constData()).bad())
        return result;
    DcmDataset *ds = result.file->getDataset();
    result.xfer = ds->getOriginalXfer();
    if (ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr).good()) {
        const Uint8 *bytes = nullptr;
        unsigned long count = 0;
        DcmElement *pixelData = nullptr;
        if (ds->findAndGetElement(DCM_PixelData, pixelData).good()
            && pixelData->getUint8Array(const_cast<Uint8 *&>(bytes)).good()) {
            count = pixelData->getLength();
            result.pixels = QByteArray(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(count));
        }
    }
    return result;
}

QString stringOf(DcmFileFormat &file, const DcmTagKey &tag)
{
    OFString value;
    if (file.getDataset()->findAndGetOFStringArray(tag, value).bad())
        return QStringLiteral("<absent>");
    return QString::fromUtf8(value.c_str());
}

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void anonymizes_data();
    void anonymizes();
    void anonymizeFailures();
    void compressesLosslessly_data();
    void compressesLosslessly();
    void compressedCopyRefusesExistingDestination();
    void listsTags();
    void writesTags();
    void writeTagsFailuresLeaveFileIntact_data();
    void writeTagsFailuresLeaveFileIntact();
    void readsDose();

private:
    QString generate(Compression compression, Kind kind = Kind::CT);
    std::unique_ptr<QTemporaryDir> m_dir;
    dicom::CodecRegistration m_codecs;
};

void FileOperationsTest::initTestCase()
{
    // Root ignores file permissions, which the read-only cases rely on.
    if (geteuid() == 0)
        qInfo("running as root: permission cases are skipped");
}

void FileOperationsTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString FileOperationsTest::generate(Compression compression, Kind kind)
{
    SeriesSpec spec;
    spec.kind = kind;
    spec.compression = compression;
    spec.slices = kind == Kind::CT ? 1 : 3;
    spec.rows = 40;
    spec.columns = 36;
    spec.patientName = QStringLiteral("Петров^Пётр");
    QStringList paths;
    QString error;
    static int counter = 0;
    if (!velmaris::gen::writeSeries(spec, m_dir->filePath(QStringLiteral("src%1").arg(++counter)), &paths, &error)) {
        qWarning("%s", qPrintable(error));
        return QString();
    }
    return paths.first();
}

void FileOperationsTest::anonymizes_data()
{
    QTest::addColumn<Compression>("compression");
    QTest::newRow("uncompressed") << Compression::None;
    QTest::newRow("jpeg-ls") << Compression::JpegLs;
    QTest::newRow("jpeg lossless") << Compression::JpegLossless;
    QTest::newRow("rle") << Compression::Rle;
}

void FileOperationsTest::anonymizes()
{
    QFETCH(Compression, compression);
    const QString source = generate(compression);
    QVERIFY(!source.isEmpty());
    QVERIFY(editDataset(source, [](DcmDataset &ds) {
        ds.putAndInsertString(DCM_InstitutionName, "Городская больница");
        ds.putAndInsertString(DCM_StudyID, "S42");
    }));
    const QByteArray sourceDigest = digest(source);
    const QString destination = m_dir->filePath(QStringLiteral("out/deeper/anon.dcm"));
    QString error;
    QVERIFY2(dicom::anonymizeFile(source, destination, QStringLiteral("Аноним"), QStringLiteral("ANON1"), &error),
             qPrintable(error));
    QCOMPARE(digest(source), sourceDigest); // the source is never touched

    Loaded original = load(source);
    Loaded copy = load(destination);
    QVERIFY(copy.file);
    QCOMPARE(copy.xfer, EXS_LittleEndianExplicit); // compressed input comes out uncompressed
    QCOMPARE(copy.pixels, original.pixels);
    QCOMPARE(stringOf(*copy.file, DCM_PatientName), QStringLiteral("Аноним"));
    QCOMPARE(stringOf(*copy.file, DCM_PatientID), QStringLiteral("ANON1"));
    for (const DcmTagKey &tag : {DCM_PatientBirthDate, DCM_PatientSex, DCM_PatientAge,
                                 DCM_ReferringPhysicianName, DCM_InstitutionName, DCM_AccessionNumber,
                                 DCM_StudyID, DCM_OperatorsName}) {
        QCOMPARE(stringOf(*copy.file, tag), QString()); // present and empty
    }
    for (const DcmTagKey &tag : {DCM_StudyInstanceUID, DCM_SeriesInstanceUID, DCM_SOPInstanceUID, DCM_StudyDate})
        QCOMPARE(stringOf(*copy.file, tag), stringOf(*original.file, tag));
}

void FileOperationsTest::anonymizeFailures()
{
    QString error;
    const QString missing = m_dir->filePath(QStringLiteral("missing.dcm"));
    QVERIFY(!dicom::anonymizeFile(missing, m_dir->filePath(QStringLiteral("a.dcm")), QStringLiteral("A"), QStringLiteral("B"), &error));
    QCOMPARE(error, QStringLiteral("Не удалось открыть файл: %1").arg(missing));

    // A destination inside a regular file cannot be written; nothing may be
    // left behind.
    const QString source = generate(Compression::None);
    const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
    QFile(blocker).open(QIODevice::WriteOnly);
    const QString destination = blocker + QStringLiteral("/anon.dcm");
    QVERIFY(!dicom::anonymizeFile(source, destination, QStringLiteral("A"), QStringLiteral("B"), &error));
    QCOMPARE(error, QStringLiteral("Не удалось сохранить: %1").arg(destination));
}

void FileOperationsTest::compressesLosslessly_data()
{
    QTest::addColumn<Compression>("compression");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("recompressed");
    QTest::newRow("uncompressed ct") << Compression::None << Kind::CT << true;
    QTest::newRow("uncompressed multi-frame") << Compression::None << Kind::ClassicMultiFrame << true;
    QTest::newRow("jpeg lossless stays") << Compression::JpegLossless << Kind::CT << false;
    QTest::newRow("rle stays") << Compression::Rle << Kind::CT << false;
}

void FileOperationsTest::compressesLosslessly()
{
    QFETCH(Compression, compression);
    QFETCH(Kind, kind);
    QFETCH(bool, recompressed);
    const QString source = generate(compression, kind);
    QVERIFY(!source.isEmpty());
    const QString destination = m_dir->filePath(QStringLiteral("copy/ls.dcm"));
    QString error;
    QVERIFY2(dicom::copyCompressedLossless(source, destination, &error), qPrintable(error));
    if (recompressed) {
        const Loaded copy = load(destination);
        QCOMPARE(copy.xfer, EXS_JPEGLSLossless);
        QVERIFY(!copy.pixels.isEmpty());
        QCOMPARE(copy.pixels, load(source).pixels);
        QCOMPARE(dicom::readSummary(destination)->sop_instance_uid, dicom::readSummary(source)->sop_instance_uid);
    } else {
        QCOMPARE(digest(destination), digest(source));
    }
}

void FileOperationsTest::compressedCopyRefusesExistingDestination()
{
    const QString source = generate(Compression::Rle);
    const QString destination = m_dir->filePath(QStringLiteral("existing.dcm"));
    QFile existing(destination);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();
    QString error;
    QVERIFY(!dicom::copyCompressedLossless(source, destination, &error));
    QCOMPARE(error, QStringLiteral("Не удалось скопировать: %1").arg(source));
    QFile check(destination);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("keep me"));
}

void FileOperationsTest::listsTags()
{
    const QString path = generate(Compression::None);
    QString error;
    const QList<dicom::DicomTagEntry> tags = dicom::listTags(path, &error);
    QVERIFY(error.isEmpty());
    QVERIFY(tags.size() > 20);
    // Meta information first, then the dataset in tag order, without pixels.
    QCOMPARE(tags.first().group, quint16(0x0002));
    bool leftMeta = false;
    for (const auto &tag : tags) {
        if (tag.group != 0x0002)
            leftMeta = true;
        QVERIFY2(!(leftMeta && tag.group == 0x0002), "meta element after the dataset began");
        QVERIFY(!(tag.group == 0x7FE0 && tag.element == 0x0010));
    }
    const auto name = std::find_if(tags.begin(), tags.end(), [](const auto &t) {
        return t.group == 0x0010 && t.element == 0x0010;
    });
    QVERIFY(name != tags.end());
    QCOMPARE(name->value, QStringLiteral("Петров^Пётр"));
    QCOMPARE(name->vr, QStringLiteral("PN"));
    QCOMPARE(name->name, QStringLiteral("PatientName"));

    const QString missing = m_dir->filePath(QStringLiteral("none.dcm"));
    QVERIFY(dicom::listTags(missing, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("Не удалось открыть файл: %1").arg(missing));
}

void FileOperationsTest::writesTags()
{
    const QString path = generate(Compression::JpegLs);
    const QByteArray pixelsBefore = load(path).pixels;
    QList<dicom::DicomTagEntry> entries;
    entries.append({0x0010, 0x0010, QString(), QString(), QStringLiteral("Сидоров^Сидор")});
    entries.append({0x0008, 0x1030, QString(), QString(), QStringLiteral("Новое описание")});
    entries.append({0x0008, 0x0080, QString(), QString(), QStringLiteral("Created")}); // absent before
    QString error;
    QVERIFY2(dicom::writeTags(path, entries, &error), qPrintable(error));

    const auto s = dicom::readSummary(path);
    QVERIFY(s.has_value());
    QCOMPARE(s->patient_name, QStringLiteral("Сидоров^Сидор"));
    QCOMPARE(s->study_description, QStringLiteral("Новое описание"));
    Loaded after = load(path);
    QCOMPARE(after.xfer, EXS_LittleEndianExplicit);
    QCOMPARE(after.pixels, pixelsBefore);
    QCOMPARE(stringOf(*after.file, DCM_InstitutionName), QStringLiteral("Created"));
    // No temporary file is left beside it.
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void FileOperationsTest::writeTagsFailuresLeaveFileIntact_data()
{
    QTest::addColumn<quint16>("group");
    QTest::addColumn<quint16>("element");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("messageStart");
    QTest::newRow("meta element") << quint16(0x0002) << quint16(0x0010) << false
                                  << QStringLiteral("Не удалось записать тег (0002,0010): ");
    QTest::newRow("sequence element") << quint16(0x0008) << quint16(0x1140) << false
                                      << QStringLiteral("Не удалось записать тег (0008,1140): ");
    QTest::newRow("read-only file") << quint16(0x0010) << quint16(0x0010) << true
                                    << QStringLiteral("Не удалось сохранить файл: ");
}

void FileOperationsTest::writeTagsFailuresLeaveFileIntact()
{
    QFETCH(quint16, group);
    QFETCH(quint16, element);
    QFETCH(bool, readOnly);
    QFETCH(QString, messageStart);
    if (readOnly && geteuid() == 0)
        QSKIP("root writes read-only files");
    const QString path = generate(Compression::None);
    if (readOnly)
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser));
    const QByteArray before = digest(path);
    QString error;
    QVERIFY(!dicom::writeTags(path, {{group, element, QString(), QString(), QStringLiteral("x")}}, &error));
    QVERIFY2(error.startsWith(messageStart), qPrintable(error));
    QVERIFY(error.size() > messageStart.size());
    QCOMPARE(digest(path), before);
}

void FileOperationsTest::readsDose()
{
    // A CT dose SR whose total DLP sits two levels down the content tree.
    const QString sr = generate(Compression::None);
    QVERIFY(editDataset(sr, [](DcmDataset &ds) {
        ds.putAndInsertString(DCM_Modality, "SR");
        DcmItem *container = nullptr;
        ds.findOrCreateSequenceItem(DCM_ContentSequence, container, -2);
        container->putAndInsertString(DCM_ValueType, "CONTAINER");
        DcmItem *other = nullptr;
        container->findOrCreateSequenceItem(DCM_ContentSequence, other, -2);
        other->putAndInsertString(DCM_ValueType, "NUM");
        DcmItem *otherCode = nullptr;
        other->findOrCreateSequenceItem(DCM_ConceptNameCodeSequence, otherCode, -2);
        otherCode->putAndInsertString(DCM_CodeValue, "113830"); // mean CTDIvol, not the total
        otherCode->putAndInsertString(DCM_CodingSchemeDesignator, "DCM");
        DcmItem *num = nullptr;
        container->findOrCreateSequenceItem(DCM_ContentSequence, num, -2);
        num->putAndInsertString(DCM_ValueType, "NUM");
        DcmItem *code = nullptr;
        num->findOrCreateSequenceItem(DCM_ConceptNameCodeSequence, code, -2);
        code->putAndInsertString(DCM_CodeValue, "113813");
        code->putAndInsertString(DCM_CodingSchemeDesignator, "DCM");
        DcmItem *measured = nullptr;
        num->findOrCreateSequenceItem(DCM_MeasuredValueSequence, measured, -2);
        measured->putAndInsertString(DCM_NumericValue, "512.25");
    }));
    QCOMPARE(dicom::readTotalDlp(sr), std::optional<double>(512.25));

    const QString ct = generate(Compression::None);
    QVERIFY(!dicom::readTotalDlp(ct).has_value()); // not an SR
    QVERIFY(!dicom::readCtdiVol(ct).has_value());
    QCOMPARE(dicom::readCtdiPhantom(ct), QString());
    QVERIFY(editDataset(ct, [](DcmDataset &ds) {
        ds.putAndInsertFloat64(DCM_CTDIvol, 12.75);
        ds.putAndInsertString(DCM_ProtocolName, "  Грудь ");
        DcmItem *phantom = nullptr;
        ds.findOrCreateSequenceItem(DCM_CTDIPhantomTypeCodeSequence, phantom, -2);
        phantom->putAndInsertString(DCM_CodeMeaning, "IEC Body Dosimetry Phantom");
    }));
    QCOMPARE(dicom::readCtdiVol(ct), std::optional<double>(12.75));
    QCOMPARE(dicom::readCtdiPhantom(ct), QStringLiteral("body"));
    QCOMPARE(dicom::readProtocolName(ct), QStringLiteral("Грудь"));
    QVERIFY(editDataset(ct, [](DcmDataset &ds) {
        DcmItem *phantom = nullptr;
        ds.findOrCreateSequenceItem(DCM_CTDIPhantomTypeCodeSequence, phantom, 0);
        phantom->putAndInsertString(DCM_CodeMeaning, "IEC HEAD Dosimetry Phantom");
    }));
    QCOMPARE(dicom::readCtdiPhantom(ct), QStringLiteral("head"));
}

QTEST_GUILESS_MAIN(FileOperationsTest)
#include "test_file_operations.moc"
