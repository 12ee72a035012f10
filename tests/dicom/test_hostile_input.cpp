#include "dicom/CodecRegistration.h"
#include "dicom/DicomFileOperations.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomTagEntry.h"
#include "dicom/DoseReaders.h"
#include "dicom/HostileFiles.h"

#include <QCryptographicHash>
#include <QDir>
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
};

void HostileInputTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
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

    for (const QFileInfo &info : QDir(pydicomFolder).entryInfoList(QDir::Files))
        QTest::newRow(qPrintable(QStringLiteral("pydicom/") + info.fileName())) << info.absoluteFilePath() << false;
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

    QString tagError;
    const auto tags = dicom::listTags(path, &tagError);
    QVERIFY(tags.isEmpty() || tagError.isEmpty());
    if (!tagError.isEmpty())
        QCOMPARE(tagError, QStringLiteral("Не удалось открыть файл: %1").arg(path));

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

    const QString copy = out.filePath(QStringLiteral("ls/c.dcm"));
    if (!dicom::copyCompressedLossless(path, copy, &error)) {
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFileInfo::exists(copy));
    } else if (summary) {
        QCOMPARE(dicom::readSummary(copy)->sop_instance_uid, summary->sop_instance_uid);
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
}

QTEST_GUILESS_MAIN(HostileInputTest)
#include "test_hostile_input.moc"
