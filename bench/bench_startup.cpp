// Start-up times of Norvane, each beside a reference measured in the same run:
//  - process start to the main window shown, with an empty index and with an
//    index of 10,000 studies and 1,000,000 instance rows (as the study
//    browser benchmark), against a bare Qt program showing one window;
//  - a whole forwarding second start, against a bare Qt program that exits;
//  - norvane-cli printing its usage, against DCMTK's image converter printing
//    its version (dcm2pnm --version: DCMTK's imaging libraries, as the CLI
//    draws pictures with them), and beside dcmdump --version.
// Median (min-max) of at least 5 runs, the runs of each pair interleaved.
//
//   bench_startup [runs=7]

#include "BenchSeries.h"
#include "db/Database.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct World
{
    QTemporaryDir root;
    quint16 port = 0;
    QProcessEnvironment env() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
        e.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("data")));
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("run")));
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        e.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        e.insert(QStringLiteral("VELMARIS_BRIDGE_PORT"), QString::number(port));
        return e;
    }
    World()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
        QDir().mkpath(root.filePath(QStringLiteral("run")));
        QFile::setPermissions(root.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

// Milliseconds from process start until `marker` appears in its output; the
// process is then killed. With an empty marker: until the process exits.
double timeTo(const QString &program, const QStringList &args, const QProcessEnvironment &env, const QByteArray &marker)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    if (marker.isEmpty()) {
        process.waitForFinished(30000);
        return timer.nsecsElapsed() / 1e6;
    }
    double ms = -1;
    while (process.state() != QProcess::NotRunning && timer.elapsed() < 30000) {
        process.waitForReadyRead(50);
        output += process.readAll();
        if (output.contains(marker)) {
            ms = timer.nsecsElapsed() / 1e6;
            break;
        }
    }
    process.kill();
    process.waitForFinished(5000);
    return ms;
}

bool fillIndex(const QString &dataHome, int studies, int perStudy)
{
    const QString folder = dataHome + QStringLiteral("/Brennick/Norvane");
    QDir().mkpath(folder);
    db::Database database(nullptr);
    if (!database.open(folder + QStringLiteral("/index.sqlite3")))
        return false;
    QVector<dicom::DicomFileSummary> batch;
    for (int s = 0; s < studies; ++s) {
        for (int i = 0; i < perStudy; ++i) {
            dicom::DicomFileSummary summary;
            summary.patient_id = QStringLiteral("P%1").arg(s / 3);
            summary.patient_name = QStringLiteral("Пациент^%1").arg(s / 3);
            summary.study_instance_uid = QStringLiteral("1.2.826.0.1.%1").arg(s);
            summary.study_date = QStringLiteral("2024%1%2").arg(1 + s % 12, 2, 10, QLatin1Char('0')).arg(1 + s % 28, 2, 10, QLatin1Char('0'));
            summary.study_description = QStringLiteral("КТ грудной клетки");
            summary.series_instance_uid = summary.study_instance_uid + QStringLiteral(".%1").arg(i % 10);
            summary.series_number = QString::number(i % 10 + 1);
            summary.modality = QStringLiteral("CT");
            summary.sop_instance_uid = summary.series_instance_uid + QStringLiteral(".%1").arg(i);
            summary.instance_number = i + 1;
            summary.file_path = QStringLiteral("/archive/%1/%2.dcm").arg(s).arg(i);
            batch.append(summary);
        }
        if (batch.size() >= 5000) {
            if (database.insertSummaries(batch) != batch.size())
                return false;
            batch.clear();
        }
    }
    return database.insertSummaries(batch) == batch.size();
}

int referenceWindow(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1000, 700);
    window.show();
    QTimer::singleShot(0, &app, [] {
        std::fputs("reference: shown\n", stderr);
        std::fflush(stderr);
    });
    return app.exec();
}

bool waitForBridge(quint16 port)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && std::strcmp(argv[1], "--reference-window") == 0)
        return referenceWindow(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--reference-exit") == 0) {
        QCoreApplication app(argc, argv);
        return 0;
    }
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 7;
    const QString norvane = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/Norvane");
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/cli/norvane-cli");
    const QString self = QCoreApplication::applicationFilePath();
    using velmaris::bench::Runs;
    const auto collect = [runs](std::vector<std::function<double()>> fns) {
        std::vector<Runs> out(fns.size());
        for (auto &fn : fns)
            fn(); // warm-up: the page cache holds the libraries
        for (int i = 0; i < runs; ++i)
            for (std::size_t f = 0; f < fns.size(); ++f)
                out[f].ms.push_back(fns[f]());
        return out;
    };

    World empty;
    const std::vector<Runs> starts =
        collect({[&] { return timeTo(QStringLiteral("dcm2pnm"), {QStringLiteral("--version")}, empty.env(), {}); },
                 [&] { return timeTo(cli, {}, empty.env(), {}); },
                 [&] { return timeTo(QStringLiteral("dcmdump"), {QStringLiteral("--version")}, empty.env(), {}); }});

    World full;
    if (!fillIndex(full.root.filePath(QStringLiteral("data")), 10000, 100)) {
        std::fprintf(stderr, "could not build the 10,000-study index\n");
        return 1;
    }
    const std::vector<Runs> windows = collect(
        {[&] { return timeTo(self, {QStringLiteral("--reference-window")}, empty.env(), "reference: shown"); },
         [&] { return timeTo(norvane, {}, empty.env(), "MainWindow: shown"); },
         [&] { return timeTo(norvane, {}, full.env(), "MainWindow: shown"); }});

    // A first instance to forward to.
    QProcess first;
    first.setProcessEnvironment(empty.env());
    first.start(norvane, {});
    if (!waitForBridge(empty.port)) {
        std::fprintf(stderr, "the first instance did not come up\n");
        return 1;
    }
    const std::vector<Runs> forwards = collect(
        {[&] { return timeTo(self, {QStringLiteral("--reference-exit")}, empty.env(), QByteArray()); },
         [&] { return timeTo(norvane, {QStringLiteral("velmaris://open?study=1.2.3")}, empty.env(), QByteArray()); }});
    first.kill();
    first.waitForFinished(5000);

    const double ref = windows[0].median();
    std::printf("bench_startup: median (min-max) of %d interleaved runs, offscreen platform\n", runs);
    std::printf("  bare Qt program, one window shown (reference) %s\n", qPrintable(windows[0].text()));
    std::printf("  main window shown, empty index               %s  %.2f x reference (goal 1000 ms)\n",
                qPrintable(windows[1].text()), windows[1].median() / ref);
    std::printf("  main window shown, 10,000 studies / 1M rows  %s  %.2f x reference (goal 1000 ms)\n",
                qPrintable(windows[2].text()), windows[2].median() / ref);
    std::printf("  bare Qt program that exits (reference)       %s\n", qPrintable(forwards[0].text()));
    std::printf("  forwarding second start, whole process       %s  %.2f x reference (goal 300 ms)\n",
                qPrintable(forwards[1].text()), forwards[1].median() / forwards[0].median());
    std::printf("  dcm2pnm --version (reference)                %s\n", qPrintable(starts[0].text()));
    std::printf("  dcmdump --version                            %s\n", qPrintable(starts[2].text()));
    const double cliRatio = starts[1].median() / starts[0].median();
    std::printf("  norvane-cli, usage                           %s  %.2f x reference (goal 2 x)\n",
                qPrintable(starts[1].text()), cliRatio);
    velmaris::bench::tableRow(QStringLiteral("norvane-cli start"), starts[1], QStringLiteral("dcm2pnm --version"),
                              starts[0], "ms", cliRatio, QStringLiteral("<= 2 x"), cliRatio <= 2.0);
    velmaris::bench::tableRow(QStringLiteral("main window, 10,000 studies / 1M rows"), windows[2],
                              QStringLiteral("bare Qt window"), windows[0], "ms", windows[2].median() / ref,
                              QStringLiteral("<= 1000 ms"), windows[2].median() <= 1000.0);
    return 0;
}
