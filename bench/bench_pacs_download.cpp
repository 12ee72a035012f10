// Downloading one study from Orthanc as the workstation does it, from the
// click to the last file indexed: C-MOVE into our storage listener and C-GET,
// each beside DCMTK's movescu + storescp and getscu fetching the same study
// in the same run. Also the time from the first file's arrival to the first
// image in the viewer (mode 1), and the longest stall of the GUI thread while
// files arrive. Medians of several runs with their spread.
//
//     QT_QPA_PLATFORM=offscreen bench_pacs_download [files (1000)] [runs (5)] [size (512)]

#include "BenchSeries.h"
#include "db/Database.h"
#include "pacs/PacsClient.h"
#include "pacs/PacsPeers.h"
#include "ui/pacs/PacsOpenCoordinator.h"
#include "ui/viewer/ViewerWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <vector>

namespace {

// The runs of one thing, with their median and spread.
using Figure = velmaris::bench::Runs;

Figure figure(std::vector<double> values)
{
    return Figure{std::move(values)};
}

void line(const char *what, const Figure &f, const char *unit)
{
    std::printf("%-48s %8.0f %s (%.0f..%.0f)\n", what, f.median(), unit, f.min(), f.max());
}

struct Download
{
    double totalMs = 0;
    double firstImageAfterFirstFileMs = -1;
    double longestStallMs = 0;
    int files = 0;
};

// One download through the coordinator, the event loop running as in the
// workstation; a 5 ms timer measures how long the GUI thread was away.
Download download(db::Database *database, const QString &dataDirectory, const pacs::PacsServerConfig &node,
                  const pacs::PacsConfig &config, const QString &studyUid)
{
    Download result;
    pacs::PacsOpenCoordinator coordinator(database, nullptr);
    coordinator.setDataDirectory(dataDirectory);
    QElapsedTimer clock;
    qint64 firstFile = -1;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (firstFile >= 0)
            result.longestStallMs = std::max(result.longestStallMs, double(now - lastTick));
        lastTick = now;
    });
    QObject::connect(&coordinator, &pacs::PacsOpenCoordinator::fileReceived, [&](int) {
        if (firstFile < 0)
            firstFile = clock.elapsed();
    });
    QObject::connect(&coordinator, &pacs::PacsOpenCoordinator::viewerOpened, [&](velmaris::ViewerWindow *viewer) {
        // Shown once the opening call has painted it.
        viewer->repaint();
        result.firstImageAfterFirstFileMs = double(clock.elapsed() - firstFile);
    });
    QEventLoop loop;
    QObject::connect(&coordinator, &pacs::PacsOpenCoordinator::finished, [&](bool ok, const QString &error, int n) {
        result.totalMs = double(clock.elapsed());
        result.files = n;
        if (!ok)
            std::fprintf(stderr, "download failed: %s\n", qPrintable(error));
        loop.quit();
    });
    clock.start();
    ticker.start();
    coordinator.start(node, config, studyUid, coordinator.downloadFolder(studyUid), pacs::PacsOpenCoordinator::SaveAndOpen);
    loop.exec();
    QList<QPointer<QWidget>> windows; // a viewer takes its own windows with it
    for (QWidget *widget : QApplication::topLevelWidgets())
        windows << widget;
    qDeleteAll(windows);
    return result;
}

double runTool(const QString &program, const QStringList &arguments)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    process.waitForFinished(-1);
    return double(clock.elapsed());
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int size = argc > 3 ? std::max(16, std::atoi(argv[3])) : 512;

    QTemporaryDir dir;
    const QStringList paths = velmaris::bench::ctSeries(dir.filePath(QStringLiteral("series")), files, size);
    const int listenerPort = velmaris::testing::freePort();
    using velmaris::testing::DicomPeer;
    DicomPeer orthanc(DicomPeer::Kind::Orthanc, QStringLiteral("ORTHANC"), QStringLiteral("NORVANE"), listenerPort);
    QString error;
    if (!orthanc.start(&error) || !pacs::storeFiles(orthanc.node(), pacs::PacsConfig(), paths, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const QList<pacs::StudyResult> studies = pacs::findStudies(orthanc.node(), pacs::PacsConfig(), {}, &error);
    if (studies.size() != 1) {
        std::fprintf(stderr, "expected one study on Orthanc: %s\n", qPrintable(error));
        return 1;
    }
    const QString studyUid = studies.first().studyInstanceUid;
    pacs::PacsConfig config;
    config.localPort = listenerPort;
    config.localAeTitle = QStringLiteral("NORVANE");
    pacs::PacsServerConfig moveNode = orthanc.node();
    pacs::PacsServerConfig getNode = orthanc.node();
    getNode.retrieveMode = pacs::RetrieveMode::Get;
    const QString orthancPort = QString::number(orthanc.node().port);
    const QStringList studyKeys{QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=STUDY"),
                                QStringLiteral("-k"), QStringLiteral("StudyInstanceUID=%1").arg(studyUid)};

    std::vector<double> move, get, movescu, getscu, firstImage, stall;
    for (int run = 0; run < runs; ++run) {
        for (bool byMove : {true, false}) {
            const QString data = dir.filePath(QStringLiteral("data"));
            QDir().mkpath(data);
            {
                db::Database database(nullptr);
                database.open(QDir(data).filePath(QStringLiteral("index.sqlite3")));
                const Download d = download(&database, data, byMove ? moveNode : getNode, config, studyUid);
                (byMove ? move : get).push_back(d.totalMs);
                firstImage.push_back(d.firstImageAfterFirstFileMs);
                stall.push_back(d.longestStallMs);
                if (d.files != files)
                    std::fprintf(stderr, "run %d: %d of %d files\n", run, d.files, files);
            }
            QDir(data).removeRecursively();
        }
        // The same port and AE title, now served by DCMTK's storescp.
        const QString theirs = dir.filePath(QStringLiteral("theirs"));
        QDir().mkpath(theirs);
        QProcess storescp;
        storescp.setStandardOutputFile(QProcess::nullDevice());
        storescp.start(QStringLiteral("storescp"), {QStringLiteral("-aet"), QStringLiteral("NORVANE"),
                                                    QStringLiteral("-od"), theirs, QString::number(listenerPort)});
        storescp.waitForStarted();
        pacs::PacsServerConfig self;
        self.host = QStringLiteral("127.0.0.1");
        self.port = listenerPort;
        self.aeTitle = QStringLiteral("NORVANE");
        while (!pacs::echoServer(self, pacs::PacsConfig())) {
        }
        movescu.push_back(runTool(QStringLiteral("movescu"),
                                  QStringList{QStringLiteral("-aec"), QStringLiteral("ORTHANC"), QStringLiteral("-aem"),
                                              QStringLiteral("NORVANE")}
                                      + studyKeys + QStringList{QStringLiteral("127.0.0.1"), orthancPort}));
        storescp.terminate();
        storescp.waitForFinished();
        QDir(theirs).removeRecursively();
        QDir().mkpath(theirs);
        getscu.push_back(runTool(QStringLiteral("getscu"),
                                 QStringList{QStringLiteral("-aec"), QStringLiteral("ORTHANC"), QStringLiteral("-od"), theirs}
                                     + studyKeys + QStringList{QStringLiteral("127.0.0.1"), orthancPort}));
        QDir(theirs).removeRecursively();
    }
    std::printf("%d files of %d x %d from Orthanc, %d runs\n", files, size, size, runs);
    line("C-MOVE into the listener, click to last indexed", figure(move), "ms");
    line("  reference: movescu + storescp", figure(movescu), "ms");
    std::printf("  throughput %.2f x DCMTK (goal: at least 0.8)\n", figure(movescu).median() / figure(move).median());
    line("C-GET, click to last indexed", figure(get), "ms");
    line("  reference: getscu", figure(getscu), "ms");
    std::printf("  throughput %.2f x DCMTK (goal: at least 0.8)\n", figure(getscu).median() / figure(get).median());
    line("first image after the first file (mode 1)", figure(firstImage), "ms");
    line("longest GUI stall while files arrive", figure(stall), "ms");
    return 0;
}
