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
using velmaris::testing::setValues;

Q_DECLARE_METATYPE(Compression)
Q_DECLARE_METATYPE(Kind)

namespace {

// Read with DCMTK directly, independently of the code under test.
struct Loaded
{
    E_TransferSyntax xfer = EXS_Unknown;
    QByteArray pixels; // decoded Pixel Data bytes
    DcmFileFormat file;

    explicit Loaded(const QString &path)
    {
        if (file.loadFile(QFile::encodeName(path).constData()).bad())
            return;
        DcmDataset *ds = file.getDataset();
        xfer = ds->getOriginalXfer();
        DcmElement *pixelData = nullptr;
        Uint8 *bytes = nullptr;
        if (ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr).good()
            && ds->findAndGetElement(DCM_PixelData, pixelData).good() && pixelData->getUint8Array(bytes).good())
            pixels = QByteArray(reinterpret_cast<const char *>(bytes), qsizetype(pixelData->getLength()));
    }

    QString string(const DcmTagKey &tag)
    {
        OFString value;
        return file.getDataset()->findAndGetOFStringArray(tag, value).bad() ? QStringLiteral("<absent>")
                                                                              : QString::fromUtf8(value.c_str());
    }
};

QByteArray digest(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256) : QByteArray();
}

} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void anonymizes_data();
    void anonymizes();
    void compressesLosslessly_data();
    void compressesLosslessly();
    void failuresTellWhy();
    void editsTags();
    void writeTagsFailuresLeaveFileIntact_data();
    void writeTagsFailuresLeaveFileIntact();
    void readsDose();

private:
    QString generate(Compression compression, Kind kind = Kind::CT)
    {
        velmaris::gen::SeriesSpec spec;
        spec.kind = kind;
        spec.compression = compression;
        spec.slices = kind == Kind::CT ? 1 : 3;
        spec.rows = 40;
        spec.columns = 36;
        spec.patientName = QStringLiteral("Петров^Пётр");
        QStringList paths;
        QString error;
        if (!velmaris::gen::writeSeries(spec, m_dir->filePath(QStringLiteral("src%1").arg(++m_generated)), &paths, &error))
            qWarning("%s", qPrintable(error));
        return paths.value(0);
    }
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_generated = 0;
    dicom::CodecRegistration m_codecs;
};

void FileOperationsTest::anonymizes_data()
{
    QTest::addColumn<Compression>("compression");
    QTest::newRow("uncompressed") << Compression::None;
    QTest::newRow("jpeg-ls") << Compression::JpegLs;
}

void FileOperationsTest::anonymizes()
{
    QFETCH(Compression, compression);
    const QString source = generate(compression);
    QVERIFY(setValues(source, {QStringLiteral("InstitutionName=Городская больница"), QStringLiteral("StudyID=S42")}));
    const QByteArray sourceDigest = digest(source);
    const QString destination = m_dir->filePath(QStringLiteral("out/deeper/anon.dcm"));
    QString error;
    QVERIFY2(dicom::anonymizeFile(source, destination, QStringLiteral("Аноним"), QStringLiteral("ANON1"), &error),
             qPrintable(error));
    QCOMPARE(digest(source), sourceDigest); // the source is never touched

    Loaded original(source);
    Loaded copy(destination);
    QCOMPARE(copy.xfer, EXS_LittleEndianExplicit); // compressed input comes out uncompressed
    QVERIFY(!copy.pixels.isEmpty() && copy.pixels == original.pixels);
    QCOMPARE((QStringList{copy.string(DCM_PatientName), copy.string(DCM_PatientID)}),
             (QStringList{QStringLiteral("Аноним"), QStringLiteral("ANON1")}));
    for (const DcmTagKey &tag : {DCM_PatientBirthDate, DCM_PatientSex, DCM_PatientAge, DCM_ReferringPhysicianName,
                                 DCM_InstitutionName, DCM_AccessionNumber, DCM_StudyID, DCM_OperatorsName})
        QCOMPARE(copy.string(tag), QString()); // present and empty
    for (const DcmTagKey &tag : {DCM_StudyInstanceUID, DCM_SeriesInstanceUID, DCM_SOPInstanceUID, DCM_StudyDate})
        QCOMPARE(copy.string(tag), original.string(tag));
}

void FileOperationsTest::compressesLosslessly_data()
{
    QTest::addColumn<Compression>("compression");
    QTest::addColumn<Kind>("kind");
    QTest::newRow("uncompressed ct") << Compression::None << Kind::CT;
    QTest::newRow("uncompressed multi-frame") << Compression::None << Kind::ClassicMultiFrame;
    QTest::newRow("rle stays") << Compression::Rle << Kind::CT;
}

void FileOperationsTest::compressesLosslessly()
{
    QFETCH(Compression, compression);
    QFETCH(Kind, kind);
    const QString source = generate(compression, kind);
    const QString destination = m_dir->filePath(QStringLiteral("copy/ls.dcm"));
    QString error;
    QVERIFY2(dicom::copyCompressedLossless(source, destination, &error), qPrintable(error));
    if (compression != Compression::None) {
        QCOMPARE(digest(destination), digest(source));
        return;
    }
    const Loaded copy(destination);
    QCOMPARE(copy.xfer, EXS_JPEGLSLossless);
    QVERIFY(!copy.pixels.isEmpty() && copy.pixels == Loaded(source).pixels);
    QCOMPARE(dicom::readSummary(destination)->sop_instance_uid, dicom::readSummary(source)->sop_instance_uid);
}

void FileOperationsTest::failuresTellWhy()
{
    QString error;
    const QString missing = m_dir->filePath(QStringLiteral("missing.dcm"));
    QVERIFY(!dicom::anonymizeFile(missing, m_dir->filePath(QStringLiteral("a.dcm")), QStringLiteral("A"),
                                  QStringLiteral("B"), &error));
    QCOMPARE(error, QStringLiteral("Не удалось открыть файл: %1").arg(missing));

    // A destination inside a regular file cannot be written.
    const QString source = generate(Compression::Rle);
    const QString blocker = m_dir->filePath(QStringLiteral("blocker"));
    QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
    const QString destination = blocker + QStringLiteral("/anon.dcm");
    QVERIFY(!dicom::anonymizeFile(source, destination, QStringLiteral("A"), QStringLiteral("B"), &error));
    QCOMPARE(error, QStringLiteral("Не удалось сохранить: %1").arg(destination));

    // A compressed copy never overwrites what is there.
    QVERIFY(!dicom::copyCompressedLossless(source, blocker, &error));
    QCOMPARE(error, QStringLiteral("Не удалось скопировать: %1").arg(source));
    QCOMPARE(QFileInfo(blocker).size(), 0);
}

void FileOperationsTest::editsTags()
{
    const QString path = generate(Compression::JpegLs);
    QString error;
    const QList<dicom::DicomTagEntry> tags = dicom::listTags(path, &error);
    QVERIFY(error.isEmpty());
    QVERIFY(tags.size() > 20);
    // Meta information first, then the dataset, without pixels.
    QCOMPARE(tags.first().group, quint16(0x0002));
    bool leftMeta = false;
    for (const auto &tag : tags) {
        leftMeta = leftMeta || tag.group != 0x0002;
        QVERIFY2(!(leftMeta && tag.group == 0x0002), "meta element after the dataset began");
        QVERIFY(!(tag.group == 0x7FE0 && tag.element == 0x0010));
    }
    QVERIFY(tags.contains(dicom::DicomTagEntry{0x0010, 0x0010, QStringLiteral("PatientName"), QStringLiteral("PN"),
                                               QStringLiteral("Петров^Пётр")}));

    const QByteArray pixelsBefore = Loaded(path).pixels;
    const QList<dicom::DicomTagEntry> entries{
        {0x0010, 0x0010, QString(), QString(), QStringLiteral("Сидоров^Сидор")},
        {0x0008, 0x1030, QString(), QString(), QStringLiteral("Новое описание")},
        {0x0008, 0x0080, QString(), QString(), QStringLiteral("Created")}, // absent before
    };
    QVERIFY2(dicom::writeTags(path, entries, &error), qPrintable(error));
    const auto s = dicom::readSummary(path);
    Loaded after(path);
    QCOMPARE((QStringList{s->patient_name, s->study_description, after.string(DCM_InstitutionName)}),
             (QStringList{QStringLiteral("Сидоров^Сидор"), QStringLiteral("Новое описание"), QStringLiteral("Created")}));
    QCOMPARE(after.xfer, EXS_LittleEndianExplicit);
    QCOMPARE(after.pixels, pixelsBefore);
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
    QVERIFY2(error.startsWith(messageStart) && error.size() > messageStart.size(), qPrintable(error));
    QCOMPARE(digest(path), before);
}

void FileOperationsTest::readsDose()
{
    // A CT dose SR whose total DLP sits two levels down the content tree, after
    // a numeric item of another concept (mean CTDIvol).
    const QString sr = generate(Compression::None);
    const QString num = QStringLiteral("ContentSequence[0].ContentSequence[%1].");
    QVERIFY(setValues(sr, {QStringLiteral("Modality=SR"), QStringLiteral("ContentSequence[0].ValueType=CONTAINER"),
                           num.arg(0) + "ValueType=NUM", num.arg(0) + "ConceptNameCodeSequence[0].CodeValue=113830",
                           num.arg(0) + "ConceptNameCodeSequence[0].CodingSchemeDesignator=DCM",
                           num.arg(1) + "ValueType=NUM", num.arg(1) + "ConceptNameCodeSequence[0].CodeValue=113813",
                           num.arg(1) + "ConceptNameCodeSequence[0].CodingSchemeDesignator=DCM",
                           num.arg(1) + "MeasuredValueSequence[0].NumericValue=512.25"}));
    QCOMPARE(dicom::readTotalDlp(sr), std::optional<double>(512.25));

    const QString ct = generate(Compression::None);
    QVERIFY(!dicom::readTotalDlp(ct).has_value()); // not an SR
    QVERIFY(!dicom::readCtdiVol(ct).has_value());
    QCOMPARE(dicom::readCtdiPhantom(ct), QString());
    QVERIFY(setValues(ct, {QStringLiteral("CTDIvol=12.75"), QStringLiteral("ProtocolName=  Грудь "),
                           QStringLiteral("CTDIPhantomTypeCodeSequence[0].CodeMeaning=IEC Body Dosimetry Phantom")}));
    QCOMPARE(dicom::readCtdiVol(ct), std::optional<double>(12.75));
    QCOMPARE(dicom::readCtdiPhantom(ct), QStringLiteral("body"));
    QCOMPARE(dicom::readProtocolName(ct), QStringLiteral("Грудь"));
    QVERIFY(setValues(ct, {QStringLiteral("CTDIPhantomTypeCodeSequence[0].CodeMeaning=IEC HEAD Dosimetry Phantom")}));
    QCOMPARE(dicom::readCtdiPhantom(ct), QStringLiteral("head"));
}

QTEST_GUILESS_MAIN(FileOperationsTest)
#include "test_file_operations.moc"
