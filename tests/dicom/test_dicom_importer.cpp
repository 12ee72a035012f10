#include "dicom/DicomImporter.h"
#include "dicom/HostileFiles.h"
#include "seriesgen/SeriesGenerator.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>

using velmaris::gen::SeriesSpec;

namespace {

// Runs one import on its own thread, as the application does, and records
// what arrives on this thread.
struct ImportRun
{
    QList<QPair<int, int>> progress;
    QList<dicom::DicomFileSummary> summaries;
    QStringList errors;
    int imported = -1;
    int skipped = -1;
};

ImportRun importOnThread(const QString &folder, bool interrupt = false)
{
    ImportRun run;
    QThread thread;
    auto *importer = new dicom::DicomImporter;
    importer->moveToThread(&thread);
    QObject receiver;
    QObject::connect(&thread, &QThread::started, importer, [importer, folder] { importer->importDirectory(folder); });
    QObject::connect(importer, &dicom::DicomImporter::progress, &receiver,
                     [&run](int scanned, int found) { run.progress.append({scanned, found}); });
    QObject::connect(importer, &dicom::DicomImporter::fileFound, &receiver,
                     [&run](const dicom::DicomFileSummary &s) { run.summaries.append(s); });
    QObject::connect(importer, &dicom::DicomImporter::errorOccurred, &receiver,
                     [&run](const QString &message) { run.errors.append(message); });
    QObject::connect(importer, &dicom::DicomImporter::finished, &receiver, [&run](int imported, int skipped) {
        run.imported = imported;
        run.skipped = skipped;
    });
    // quit() is thread-safe; calling it directly lets this thread block in wait().
    QObject::connect(importer, &dicom::DicomImporter::finished, &thread, &QThread::quit, Qt::DirectConnection);
    QObject::connect(&thread, &QThread::finished, importer, &QObject::deleteLater);
    if (interrupt) {
        // Directly on the worker thread, so the walk sees it before the next file.
        QObject::connect(importer, &dicom::DicomImporter::fileFound, importer,
                         [&thread] { thread.requestInterruption(); }, Qt::DirectConnection);
    }
    thread.start();
    // The worker needs nothing from this thread: its signals queue up here
    // until the walk is over.
    if (!thread.wait(60000))
        qWarning("import did not finish");
    QCoreApplication::processEvents(); // deliver what is queued
    return run;
}

} // namespace

class DicomImporterTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void countsAndProgress_data();
    void countsAndProgress();
    void missingFolder();
    void interruptedWalkEndsEarly();

private:
    QTemporaryDir m_dir;
    QString m_dicomSource; // 40 generated CT files to copy from
};

void DicomImporterTest::initTestCase()
{
    dicom::registerSummaryMetaType();
    QVERIFY(m_dir.isValid());
    SeriesSpec spec;
    spec.slices = 40;
    spec.rows = spec.columns = 8;
    QStringList paths;
    QString error;
    m_dicomSource = m_dir.filePath(QStringLiteral("source"));
    QVERIFY2(velmaris::gen::writeSeries(spec, m_dicomSource, &paths, &error), qPrintable(error));
}

void DicomImporterTest::countsAndProgress_data()
{
    QTest::addColumn<int>("dicomFiles");
    QTest::addColumn<int>("otherFiles");
    QTest::addColumn<int>("noPreambleFiles");
    QTest::addColumn<bool>("links"); // a link back up the tree and one to a file that is gone
    QTest::addColumn<QList<int>>("progressAt");

    QTest::newRow("empty folder") << 0 << 0 << 0 << false << QList<int>{0};
    QTest::newRow("60 files") << 40 << 20 << 0 << false << QList<int>{25, 50, 60};
    QTest::newRow("exactly 50") << 30 << 20 << 0 << false << QList<int>{25, 50, 50};
    QTest::newRow("no preamble is skipped") << 10 << 0 << 5 << false << QList<int>{15};
    QTest::newRow("link loop, dangling link") << 1 << 0 << 0 << true << QList<int>{1};
}

void DicomImporterTest::countsAndProgress()
{
    QFETCH(int, dicomFiles);
    QFETCH(int, otherFiles);
    QFETCH(int, noPreambleFiles);
    QFETCH(bool, links);
    QFETCH(QList<int>, progressAt);

    QTemporaryDir folder;
    QDir().mkpath(folder.filePath(QStringLiteral("a/b")));
    const QStringList sources = QDir(m_dicomSource).entryList(QDir::Files, QDir::Name);
    for (int i = 0; i < dicomFiles; ++i) {
        const QString sub = i % 2 ? QStringLiteral("a/b/") : QStringLiteral("a/");
        QVERIFY(QFile::copy(QDir(m_dicomSource).filePath(sources.at(i)), folder.filePath(sub + sources.at(i))));
    }
    for (int i = 0; i < otherFiles; ++i)
        QVERIFY(velmaris::testing::writeBytes(folder.filePath(QStringLiteral("note%1.txt").arg(i)), "text"));
    for (int i = 0; i < noPreambleFiles; ++i) {
        SeriesSpec spec;
        QVERIFY(velmaris::gen::writeDamagedFile(spec, velmaris::gen::Damage::NoPreamble,
                                                folder.filePath(QStringLiteral("raw%1.dcm").arg(i))));
    }
    if (links) {
        QVERIFY(QFile::link(folder.path(), folder.filePath(QStringLiteral("a/b/loop"))));
        QVERIFY(QFile::link(folder.filePath(QStringLiteral("gone.dcm")), folder.filePath(QStringLiteral("a/dangling.dcm"))));
    }
    // Hidden files are left out of the walk altogether.
    QVERIFY(velmaris::testing::writeBytes(folder.filePath(QStringLiteral(".hidden.dcm")), "x"));

    const ImportRun run = importOnThread(folder.path());
    QCOMPARE((QList<qsizetype>{run.imported, run.skipped, run.summaries.size(), run.errors.size()}),
             (QList<qsizetype>{dicomFiles, otherFiles + noPreambleFiles, dicomFiles, 0}));
    QList<int> scannedAt;
    int lastFound = 0;
    for (const auto &[scanned, found] : run.progress) {
        scannedAt.append(scanned);
        QVERIFY(found <= scanned);
        QVERIFY(found >= lastFound);
        lastFound = found;
    }
    QCOMPARE(scannedAt, progressAt);
    QCOMPARE(run.progress.last().second, dicomFiles);
    QSet<QString> uids;
    for (const auto &s : run.summaries)
        uids.insert(s.sop_instance_uid);
    QCOMPARE(uids.size(), dicomFiles);
}

void DicomImporterTest::missingFolder()
{
    const QString missing = m_dir.filePath(QStringLiteral("does-not-exist"));
    const ImportRun run = importOnThread(missing);
    QCOMPARE(run.errors, QStringList{QStringLiteral("Путь не существует или не является папкой: %1").arg(missing)});
    QCOMPARE((std::pair{run.imported, run.skipped}), (std::pair{0, 0}));

    // A file is not a folder either.
    const QString file = QDir(m_dicomSource).filePath(QStringLiteral("IMG0001.dcm"));
    QCOMPARE(importOnThread(file).errors.size(), 1);
}

void DicomImporterTest::interruptedWalkEndsEarly()
{
    const ImportRun run = importOnThread(m_dicomSource, true);
    QCOMPARE((std::pair{run.imported, run.skipped}), (std::pair{1, 0}));
    QCOMPARE(run.progress, (QList<QPair<int, int>>{{1, 1}}));
}

QTEST_GUILESS_MAIN(DicomImporterTest)
#include "test_dicom_importer.moc"
