#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileOperations.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomTagEntry.h"
#include "dicom/DoseReaders.h"
#include "dicom/FrameDecoding.h"
#include "dicom/HostileFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmaris::testing;

namespace {

const QString pydicomFolder = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// Every entry point of the file layer must survive whatever lies on a disc or
// arrives from a peer: no crash, no hang, a clear message, nothing lost.
class HostileInputTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyEntryPoint_data();
    void everyEntryPoint();

private:
    QTemporaryDir m_dir;
    dicom::CodecRegistration m_codecs;
    QStringList m_samples;                  // pydicom's files
    QHash<QString, QJsonObject> m_pydicom; // what pydicom reads in each
};

void HostileInputTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (QDirIterator it(pydicomFolder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        m_samples << it.next();
    m_samples.sort();
    QVERIFY(m_samples.size() > 50);
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral(PYDICOM_FIELDS_SCRIPT)} + m_samples);
    QVERIFY(python.waitForFinished(120000));
    QCOMPARE(python.exitCode(), 0);
    int read = 0;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        const QJsonObject fields = QJsonDocument::fromJson(line).object();
        m_pydicom.insert(fields.value(QLatin1String("file")).toString(), fields);
        read += !fields.isEmpty() && !fields.contains(QLatin1String("error"));
    }
    QVERIFY2(read >= 40, qPrintable(QStringLiteral("pydicom read only %1 files").arg(read)));
}

void HostileInputTest::everyEntryPoint_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("hostile"); // made to break things: must give no summary

    const auto add = [this](const char *name, const QByteArray &bytes) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QVERIFY(writeBytes(path, bytes));
        QTest::newRow(name) << path << true;
    };
    add("empty", QByteArray());
    add("131 bytes", QByteArray(131, 'x'));
    QByteArray garbage(8192, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919) % 251);
    add("garbage", garbage);
    add("dicm then garbage", dicmHeader() + garbage);
    add("wrong preamble", QByteArray(128, '\0') + "DICX" + garbage);
    add("nested 200000 deep", deeplyNested(200000));
    add("nested 600 deep", deeplyNested(600));
    add("nested 200000 deep after Pixel Data", nestedAfterPixelData(200000));
    // Compressed, the item tags are invisible to a plain byte scan.
    add("deflated, nested 50000 deep", deflatedNested(50000));
    add("deflated, nested 600 deep", deflatedNested(600));
    add("oversized length", oversizedLength(0xFFFFFFF0u));
    add("length past the end", oversizedLength(100000));
    add("directory record type DCMTK throws on", uncorrectableRecordType());

    for (const QString &path : m_samples)
        QTest::newRow(qPrintable(QStringLiteral("pydicom") + path.mid(pydicomFolder.size()))) << path << false;
}

void HostileInputTest::everyEntryPoint()
{
    QFETCH(QString, path);
    QFETCH(bool, hostile);

    dicom::isDicomFile(path);
    const auto summary = dicom::readSummary(path);
    QCOMPARE(dicom::readSummaryFullLoad(path), summary);
    if (hostile)
        QVERIFY(!summary.has_value());
    // pydicom, an independent reader, finds the same UIDs, matrix and frame
    // count wherever both read the file.
    QVERIFY(hostile || m_pydicom.contains(path));
    if (const QJsonObject ref = m_pydicom.value(path); summary && !ref.contains(QLatin1String("error"))) {
        const auto text = [&ref](const char *key) { return ref.value(QLatin1String(key)).toString(); };
        const auto number = [&ref](const char *key, int absent) { return ref.value(QLatin1String(key)).toInt(absent); };
        QCOMPARE((QStringList{summary->study_instance_uid, summary->series_instance_uid, summary->sop_instance_uid,
                              summary->modality}),
                 (QStringList{text("study_instance_uid"), text("series_instance_uid"), text("sop_instance_uid"),
                              text("modality")}));
        QCOMPARE((QList<int>{summary->rows, summary->columns, summary->number_of_frames, summary->instance_number}),
                 (QList<int>{number("rows", 0), number("columns", 0), number("number_of_frames", 1),
                             number("instance_number", 0)}));
    }

    QString tagError;
    const auto tags = dicom::listTags(path, &tagError);
    QVERIFY(tags.isEmpty() || tagError.isEmpty());
    if (!tagError.isEmpty())
        QCOMPARE(tagError, QStringLiteral("Не удалось открыть файл: %1").arg(path));

    // Both frame decoders, any frame index: a result as large as the header
    // says, or a refusal with a message.
    for (const int frame : {0, -1, 1000}) {
        QString error;
        dicom::DecodedFrame values;
        const bool ok = dicom::loadDecodedFrame(values, path, frame, &error);
        QCOMPARE(values.ok, ok);
        QCOMPARE(values.error, error);
        QCOMPARE(error.isEmpty(), ok);
        QCOMPARE(values.values.size(), std::size_t(values.width) * std::size_t(values.height));
        const dicom::RenderedPicture picture = dicom::renderPicture(path, frame, {});
        QVERIFY(picture.frameCount >= 1);
        QCOMPARE(picture.pixels.size(), qsizetype(picture.width) * picture.height * (picture.colour ? 3 : 1));
        QCOMPARE(picture.pixels.isEmpty(), !picture.ok);
        if (hostile)
            QVERIFY(!ok && !picture.ok);
        if (ok && summary)
            QCOMPARE(QSize(values.width, values.height), QSize(summary->columns, summary->rows));
        if (picture.ok && summary)
            QCOMPARE(QSize(picture.width, picture.height), QSize(summary->columns, summary->rows));
    }

    dicom::readTotalDlp(path);
    dicom::readCtdiPhantom(path);
    dicom::readCtdiVol(path);
    dicom::readProtocolName(path);

    QTemporaryDir out;
    QString error;
    const QString anonymised = out.filePath(QStringLiteral("anon/a.dcm"));
    if (dicom::anonymizeFile(path, anonymised, QStringLiteral("Аноним"), QStringLiteral("X"), &error)) {
        QVERIFY(QFileInfo::exists(anonymised));
        if (summary) {
            const auto again = dicom::readSummary(anonymised);
            QVERIFY(again.has_value());
            QCOMPARE(again->patient_name, QStringLiteral("Аноним"));
            QCOMPARE(again->sop_instance_uid, summary->sop_instance_uid);
        }
    } else {
        QVERIFY2(error == QStringLiteral("Не удалось открыть файл: %1").arg(path)
                     || error == QStringLiteral("Не удалось сохранить: %1").arg(anonymised),
                 qPrintable(error));
        QVERIFY(!QFileInfo::exists(anonymised));
    }

    // Rewriting a tag either succeeds or leaves the file exactly as it was.
    const QString victim = out.filePath(QStringLiteral("victim.dcm"));
    QVERIFY(QFile::copy(path, victim));
    const QByteArray before = readAll(victim);
    if (!dicom::writeTags(victim, {{0x0008, 0x1030, QString(), QString(), QStringLiteral("Описание")}}, &error)) {
        QVERIFY(!error.isEmpty());
        QCOMPARE(readAll(victim), before);
    } else if (summary) {
        QCOMPARE(dicom::readSummary(victim)->study_description, QStringLiteral("Описание"));
    }

    const QString copy = out.filePath(QStringLiteral("ls/c.dcm"));
    if (!dicom::copyCompressedLossless(path, copy, &error)) {
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFileInfo::exists(copy));
    } else if (summary) {
        QCOMPARE(dicom::readSummary(copy)->sop_instance_uid, summary->sop_instance_uid);
    }
    // DCMTK's JPEG-LS encoder writes past its buffer on this 3 x 3 colour
    // image (valgrind: fixPaddingIfNecessary) and corrupts the heap; frames
    // that small are copied as they are, without the encoder.
    if (path.endsWith(QLatin1String("/SC_rgb_small_odd.dcm")))
        QCOMPARE(readAll(copy), readAll(path));
}

QTEST_GUILESS_MAIN(HostileInputTest)
#include "test_hostile_input.moc"
