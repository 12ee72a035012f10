#include "dicom/HostileFiles.h"
#include "dicom/ZipImportWorker.h"
#include "seriesgen/SeriesGenerator.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QProcess>
#include <QtTest>

#include <archive.h>
#include <archive_entry.h>
#include <zip.h>

#include <memory>

using velmaris::gen::SeriesSpec;

namespace {

struct Entry
{
    QByteArray name;
    QByteArray data;
    bool folder = false;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// `stored` keeps each entry's bytes as they are, so a test can damage one.
bool writeZip(const QString &path, const QList<Entry> &entries, bool stored = false)
{
    int code = 0;
    zip_t *archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr)
        return false;
    for (const Entry &e : entries) {
        // The buffers stay alive in `entries` until zip_close reads them.
        zip_source_t *source = zip_source_buffer(archive, e.data.constData(), e.data.size(), 0);
        if ((e.folder ? zip_dir_add(archive, e.name.constData(), 0)
                      : zip_file_add(archive, e.name.constData(), source, 0)) < 0) {
            zip_discard(archive);
            return false;
        }
        if (e.folder)
            zip_source_free(source);
        else if (stored)
            zip_set_file_compression(archive, zip_get_num_entries(archive, 0) - 1, ZIP_CM_STORE, 0);
    }
    return zip_close(archive) == 0;
}

// "store" lays the entries' bytes out one after another, so a test can damage
// a chosen one.
bool write7z(const QString &path, const QList<Entry> &entries, const char *compression = nullptr)
{
    std::unique_ptr<struct archive, int (*)(struct archive *)> out(archive_write_new(), archive_write_free);
    archive_write_set_format_7zip(out.get());
    if (compression != nullptr)
        archive_write_set_format_option(out.get(), "7zip", "compression", compression);
    if (archive_write_open_filename(out.get(), QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return false;
    for (const Entry &e : entries) {
        std::unique_ptr<archive_entry, void (*)(archive_entry *)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), e.name.constData());
        archive_entry_set_filetype(entry.get(), e.folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), e.folder ? 0 : e.data.size());
        if (archive_write_header(out.get(), entry.get()) != ARCHIVE_OK
            || (!e.folder && archive_write_data(out.get(), e.data.constData(), e.data.size()) != e.data.size()))
            return false;
    }
    return archive_write_close(out.get()) == ARCHIVE_OK;
}

bool writeArchive(const QString &path, const QList<Entry> &entries)
{
    return path.endsWith(QLatin1String(".zip")) ? writeZip(path, entries) : write7z(path, entries);
}

QString md5Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

struct Import
{
    int imported = -1;
    int skipped = -1;
    QString message;
    QList<dicom::DicomFileSummary> found;
    QList<int> progress;
};

// What the worker reported, in one line: "imported/skipped, found: message".
QString outcome(const Import &r)
{
    return QStringLiteral("%1/%2, %3 found: %4").arg(r.imported).arg(r.skipped).arg(r.found.size()).arg(r.message);
}

Import runImport(const QString &archive, const QString &storage,
                 qint64 reserve = dicom::ZipImportWorker::defaultDiskReserveBytes)
{
    Import result;
    dicom::ZipImportWorker worker(archive, storage);
    worker.setDiskReserveBytes(reserve);
    QObject::connect(&worker, &dicom::ZipImportWorker::fileFound,
                     [&result](const dicom::DicomFileSummary &s) { result.found.append(s); });
    QObject::connect(&worker, &dicom::ZipImportWorker::progress, [&result](int n) { result.progress.append(n); });
    QObject::connect(&worker, &dicom::ZipImportWorker::finished, [&result](int imported, int skipped, const QString &m) {
        result.imported = imported;
        result.skipped = skipped;
        result.message = m;
    });
    worker.run();
    return result;
}

} // namespace

class ZipImportTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void imports_data();
    void imports();
    void unreadableArchives_data();
    void unreadableArchives();
    void damagedArchives_data();
    void damagedArchives();
    void copyFailuresAreCountedAndReported();
    void foldersOfDeadImportsAreRemoved();
    void archiveLargerThanFreeSpaceLeavesNothing_data();
    void archiveLargerThanFreeSpaceLeavesNothing();

private:
    QString archivePath(const QString &name) const { return m_root.filePath(QStringLiteral("archives/") + name); }
    bool tmpIsEmpty() const { return QDir(m_tmp).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); }
    bool leftNoTrace() const { return !QFileInfo::exists(m_storage) && tmpIsEmpty(); }

    QTemporaryDir m_root;
    QString m_tmp; // the system temporary folder as the worker sees it
    QString m_storage;
    SeriesSpec m_first;  // 3 slices
    SeriesSpec m_second; // 2 slices
    QList<QByteArray> m_firstFiles;
    QList<QByteArray> m_secondFiles;
};

void ZipImportTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("archives")));
    // The worker unpacks below QDir::tempPath(); a private one shows what it
    // leaves behind.
    m_tmp = m_root.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(m_tmp));
    qputenv("TMPDIR", QFile::encodeName(m_tmp));
    QCOMPARE(QDir::tempPath(), m_tmp);

    m_first.slices = 3;
    m_second.slices = 2;
    for (auto [spec, files, name] : {std::tuple(&m_first, &m_firstFiles, "first"),
                                     std::tuple(&m_second, &m_secondFiles, "second")}) {
        spec->rows = spec->columns = 16;
        QStringList paths;
        QVERIFY(velmaris::gen::writeSeries(*spec, m_root.filePath(QString::fromLatin1(name)), &paths));
        for (const QString &path : paths)
            files->append(readAll(path));
    }
}

void ZipImportTest::init()
{
    static int run = 0;
    m_storage = m_root.filePath(QStringLiteral("storage%1/imported_from_zip").arg(++run));
}

void ZipImportTest::imports_data()
{
    QTest::addColumn<QString>("archiveName");
    QTest::newRow("zip") << "series.zip";
    QTest::newRow("7z") << "series.7z";
    QTest::newRow("7z, upper-case suffix") << "SERIES.7Z";
}

// The same object twice lands on one file; names climbing out of the archive
// ("../") are unpacked inside its temporary folder all the same.
void ZipImportTest::imports()
{
    QFETCH(QString, archiveName);
    QList<Entry> entries{{"notes.txt", "not an image"},
                         {"DICOMDIR-like", QByteArray(200, 'x')},
                         {"sub/", {}, true},
                         {"../evil1.dcm", m_firstFiles[0]},
                         {"../../evil2.dcm", m_firstFiles[1]},
                         {"a/../../../evil3.dcm", m_firstFiles[2]}};
    for (int i = 0; i < m_first.slices; ++i)
        entries.append({"sub/IMG" + QByteArray::number(i), m_firstFiles[i]});
    entries.append({"copy/IMG0", m_firstFiles[0]});
    const QString archive = archivePath(archiveName);
    QVERIFY(writeArchive(archive, entries));

    const Import result = runImport(archive, m_storage);
    const int objects = 2 * m_first.slices + 1;
    QCOMPARE(outcome(result), QStringLiteral("%1/2, %1 found: ").arg(objects)); // the folder entry is no file at all
    QCOMPARE(result.progress.size(), objects);
    QCOMPARE(result.progress.last(), objects + 2);
    QStringList expected;
    QStringList reported;
    for (int i = 0; i < objects; ++i) {
        expected << QDir(m_storage).filePath(md5Hex(m_first.seriesInstanceUid) + '/'
                                             + md5Hex(velmaris::gen::sopInstanceUid(m_first, i % m_first.slices)) + ".dcm");
        reported << result.found[i].file_path;
        QCOMPARE(result.found[i].series_instance_uid, m_first.seriesInstanceUid);
        QVERIFY(m_firstFiles.contains(readAll(reported[i])));
    }
    expected.sort();
    reported.sort();
    QCOMPARE(reported, expected);
    QCOMPARE(QFileInfo(reported[0]).dir().entryList(QDir::Files).size(), m_first.slices);
    QVERIFY(tmpIsEmpty());
    // Each climbing name reaches at most the test's root: nothing is written there.
    QDirIterator it(m_root.path(), {QStringLiteral("evil*")}, QDir::Files, QDirIterator::Subdirectories);
    QVERIFY2(!it.hasNext(), qPrintable(it.hasNext() ? it.next() : QString()));
}

void ZipImportTest::unreadableArchives_data()
{
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<QByteArray>("contents"); // null: no such file
    QTest::addColumn<QString>("expectedMessage"); // a 7z message ends with libarchive's own text
    const QString zipMessage = QStringLiteral("Не удалось открыть ZIP-архив (код ошибки libzip: %1)");
    QTest::newRow("zip of random bytes") << "random.zip" << QByteArray(4096, '\x5a') << zipMessage.arg(ZIP_ER_NOZIP);
    QTest::newRow("missing zip") << "missing.zip" << QByteArray() << zipMessage.arg(ZIP_ER_NOENT);
    QTest::newRow("7z of random bytes") << "random.7z" << QByteArray(4096, '\x5a')
                                        << QStringLiteral("Не удалось открыть 7z-архив: ");
    QTest::newRow("missing 7z") << "missing.7z" << QByteArray() << QStringLiteral("Не удалось открыть 7z-архив: ");
}

void ZipImportTest::unreadableArchives()
{
    QFETCH(QString, archiveName);
    QFETCH(QByteArray, contents);
    QFETCH(QString, expectedMessage);
    const QString archive = archivePath(archiveName);
    if (!contents.isNull())
        QVERIFY(velmaris::testing::writeBytes(archive, contents));
    const Import result = runImport(archive, m_storage);
    QVERIFY2(result.message.startsWith(expectedMessage), qPrintable(result.message));
    QVERIFY(archiveName.endsWith(QLatin1String(".7z")) ? result.message.size() > expectedMessage.size()
                                                        : result.message == expectedMessage);
    QCOMPARE(outcome(result), QStringLiteral("0/0, 0 found: ") + result.message);
    QVERIFY(leftNoTrace());
}

void ZipImportTest::damagedArchives_data()
{
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("expected"); // outcome()
    const QString skipped = QStringLiteral("4/1, 4 found: Повреждённые элементы архива пропущены (1): %1");
    // 7z keeps its list of entries at the end: cut in half, nothing is left
    // to read.
    QTest::newRow("7z truncated halfway") << "cut.7z" << "truncate" << QStringLiteral("0/0, 0 found: ");
    // The third entry fails its checksum: it never reaches storage and is
    // named, and the entries before and after it are kept.
    QTest::newRow("7z, third entry damaged") << "entry.7z" << "data" << skipped.arg("IMG2");
    QTest::newRow("zip, CRC error in the third entry") << "entry.zip" << "data" << skipped.arg("IMG2");
    // Its name is flagged UTF-8 but is not: libzip refuses the whole central
    // directory for it.
    QTest::newRow("zip, name flagged UTF-8 that is not") << "name.zip" << "name" << skipped.arg("элемент №3");
}

void ZipImportTest::damagedArchives()
{
    QFETCH(QString, archiveName);
    QFETCH(QString, damage);
    QFETCH(QString, expected);
    QList<Entry> entries;
    for (const QByteArray &file : m_firstFiles + m_secondFiles)
        entries.append({"IMG" + QByteArray::number(entries.size()), file});
    const QString archive = archivePath(archiveName);
    // Stored, not packed, so that an entry's bytes can be found and damaged.
    QVERIFY(archiveName.endsWith(QLatin1String(".7z")) ? write7z(archive, entries, "store")
                                                        : writeZip(archive, entries, true));
    QByteArray bytes = readAll(archive);
    if (damage == QLatin1String("truncate")) {
        bytes.truncate(bytes.size() / 2);
    } else if (damage == QLatin1String("data")) {
        // Pixel data at the end of the entry: its header still reads, so a
        // kept partial file would be imported.
        const qsizetype at = bytes.indexOf(m_firstFiles[2].right(64));
        QVERIFY(at > 0);
        for (qsizetype i = at; i < at + 64; ++i)
            bytes[i] = static_cast<char>(bytes[i] ^ 0x55);
    } else {
        // The name in the local header and in the central directory, each with
        // its general-purpose flags (bit 11: UTF-8) at a fixed distance before it.
        for (const auto &[signature, flagsAt, nameAt] : {std::tuple("PK\x03\x04", 6, 30), std::tuple("PK\x01\x02", 8, 46)}) {
            for (qsizetype header = bytes.indexOf(signature); header >= 0; header = bytes.indexOf(signature, header + 4)) {
                if (bytes.mid(header + nameAt, 4) != "IMG2")
                    continue;
                bytes[header + nameAt + 3] = '\xff';
                bytes[header + flagsAt + 1] = static_cast<char>(bytes[header + flagsAt + 1] | 0x08);
            }
        }
    }
    QVERIFY(velmaris::testing::writeBytes(archive, bytes));
    const Import result = runImport(archive, m_storage);
    QCOMPARE(outcome(result), expected);
    int stored = 0;
    for (QDirIterator it(m_storage, QDir::Files, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++stored;
    QCOMPARE(stored, result.imported);
    QVERIFY(tmpIsEmpty());
}

void ZipImportTest::foldersOfDeadImportsAreRemoved()
{
    // An import whose process died (a crash mid-way) left its folder; the next
    // import removes it, and never a folder of a living process.
    QProcess finished;
    finished.start(QStringLiteral("true"), {});
    QVERIFY(finished.waitForStarted());
    const qint64 deadPid = finished.processId();
    QVERIFY(finished.waitForFinished());
    const QDir tmp(m_tmp);
    const QString dead = QStringLiteral("velmaris-archive-%1-AbCdEf").arg(deadPid);
    const QString living = QStringLiteral("velmaris-archive-1-AbCdEf"); // init lives as long as the machine
    for (const QString &name : {dead, living}) {
        QVERIFY(tmp.mkpath(name + QStringLiteral("/sub")));
        QVERIFY(velmaris::testing::writeBytes(tmp.filePath(name + QStringLiteral("/sub/e00000000")), "left over"));
    }
    const QString archive = archivePath(QStringLiteral("after-crash.zip"));
    QVERIFY(writeZip(archive, {{"IMG0", m_firstFiles[0]}}));
    QCOMPARE(runImport(archive, m_storage).imported, 1);
    QVERIFY(!tmp.exists(dead));
    QVERIFY(tmp.exists(living));
    QVERIFY(QDir(tmp.filePath(living)).removeRecursively());
    QVERIFY(tmpIsEmpty());
}

void ZipImportTest::copyFailuresAreCountedAndReported()
{
    const QString archive = archivePath(QStringLiteral("two-series.zip"));
    QList<Entry> entries;
    for (const QByteArray &file : m_firstFiles + m_secondFiles)
        entries.append({"IMG" + QByteArray::number(entries.size()), file});
    QVERIFY(writeZip(archive, entries));
    // A regular file where the first series' folder belongs; file permissions
    // would not stop a test running as root.
    QVERIFY(QDir().mkpath(m_storage));
    QVERIFY(velmaris::testing::writeBytes(QDir(m_storage).filePath(md5Hex(m_first.seriesInstanceUid)), "x"));

    const Import result = runImport(archive, m_storage);
    QCOMPARE(outcome(result),
             QStringLiteral("2/3, 2 found: Не удалось скопировать файлов в постоянное хранилище: 3 (пропущены, не "
                            "импортированы). Возможная причина — слишком длинный путь к папке данных пользователя."));
    for (const dicom::DicomFileSummary &s : result.found)
        QCOMPARE(s.series_instance_uid, m_second.seriesInstanceUid);
}

void ZipImportTest::archiveLargerThanFreeSpaceLeavesNothing_data()
{
    QTest::addColumn<QString>("archiveName");
    QTest::addColumn<bool>("understateSizes"); // the ZIP's directories claim one byte
    QTest::newRow("zip, honest sizes") << "bomb.zip" << false;
    QTest::newRow("zip, sizes that lie") << "liar.zip" << true;
    QTest::newRow("7z") << "bomb.7z" << false;
}

void ZipImportTest::archiveLargerThanFreeSpaceLeavesNothing()
{
    QFETCH(QString, archiveName);
    QFETCH(bool, understateSizes);
    // 64 MiB of zeros packs into a few hundred KiB.
    const QByteArray zeros(64 << 20, '\0');
    const QString archive = archivePath(archiveName);
    QVERIFY(writeArchive(archive, {{"first.dcm", m_firstFiles[0]}, {"zeros", zeros}}));
    QVERIFY(QFileInfo(archive).size() < zeros.size() / 32);
    if (understateSizes) {
        QByteArray bytes = readAll(archive);
        // Uncompressed size of the second entry: offset 22 of its local
        // header, offset 24 of its central directory record.
        const qsizetype local = bytes.indexOf("PK\x03\x04", 4);
        const qsizetype central = bytes.indexOf("PK\x01\x02", bytes.indexOf("PK\x01\x02") + 4);
        QVERIFY(local > 0 && central > 0);
        bytes.replace(local + 22, 4, QByteArray("\x01\x00\x00\x00", 4));
        bytes.replace(central + 24, 4, QByteArray("\x01\x00\x00\x00", 4));
        QVERIFY(velmaris::testing::writeBytes(archive, bytes));
    }

    // Keep all but 2 MiB of the disk free: half of that is granted to the
    // extraction, because the copies will need the same disk.
    const qint64 reserve = QStorageInfo(m_tmp).bytesAvailable() - (2 << 20);
    const Import result = runImport(archive, m_storage, reserve);
    QVERIFY2(result.message.startsWith(QStringLiteral("Архив не помещается на диск")), qPrintable(result.message));
    QCOMPARE(outcome(result), QStringLiteral("0/0, 0 found: ") + result.message);
    QVERIFY(leftNoTrace());

    // The same archive with room to spare imports its image.
    if (!understateSizes)
        QCOMPARE(runImport(archive, m_storage).imported, 1);
}

QTEST_GUILESS_MAIN(ZipImportTest)
#include "test_zip_import.moc"
