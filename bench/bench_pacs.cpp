// PACS throughput: norvane-cli send beside DCMTK's storescu to one storescp,
// and norvane-cli get beside getscu from one Orthanc, the same files in the
// same run. Each figure is the median of several runs with its spread.
//
//     bench_pacs [files (1000)] [runs (5)]

#include "BenchSeries.h"
#include "pacs/PacsClient.h"
#include "pacs/PacsPeers.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <vector>

namespace {

// The runs of one thing, with their median and spread.
using Figure = velmaris::bench::Runs;

Figure figure(std::vector<double> ms)
{
    return Figure{std::move(ms)};
}

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit;
}

void print(const char *what, const Figure &ours, const Figure &reference, int files)
{
    std::printf("%-44s %8.0f ms (%.0f..%.0f) %7.0f files/s\n", what, ours.median(), ours.min(), ours.max(),
                files / (ours.median() / 1000));
    std::printf("%-44s %8.0f ms (%.0f..%.0f) %7.0f files/s\n", "  reference (DCMTK tool)", reference.median(),
                reference.min(), reference.max(), files / (reference.median() / 1000));
    std::printf("  throughput %.2f x the DCMTK tool (goal: at least 0.8)\n", reference.median() / ours.median());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const QString cli = QStringLiteral(NORVANE_CLI);

    QTemporaryDir dir;
    const QString seriesFolder = dir.filePath(QStringLiteral("series"));
    const QStringList paths = velmaris::bench::ctSeries(seriesFolder, files, 512);
    velmaris::bench::readAllBytes(paths);

    using velmaris::testing::DicomPeer;
    DicomPeer storescp(DicomPeer::Kind::Storescp, QStringLiteral("STORE"));
    DicomPeer orthanc(DicomPeer::Kind::Orthanc, QStringLiteral("ORTHANC"));
    QString error;
    if (!storescp.start(&error) || !orthanc.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const auto nodeArgs = [](const pacs::PacsServerConfig &node) {
        return QStringList{QStringLiteral("--host"), node.host, QStringLiteral("--port"), QString::number(node.port),
                           QStringLiteral("--aet"), node.aeTitle};
    };

    std::vector<double> send, storescu;
    const QString port = QString::number(storescp.node().port);
    for (int run = 0; run < runs; ++run) {
        send.push_back(velmaris::bench::timeMs([&] {
            runTool(cli, QStringList{QStringLiteral("send"), seriesFolder} + nodeArgs(storescp.node()));
        }));
        QDir(storescp.receivedFolder()).removeRecursively();
        QDir().mkpath(storescp.receivedFolder());
        storescu.push_back(velmaris::bench::timeMs([&] {
            runTool(QStringLiteral("storescu"), {QStringLiteral("-aec"), QStringLiteral("STORE"), QStringLiteral("+sd"),
                                                 QStringLiteral("+r"), QStringLiteral("127.0.0.1"), port, seriesFolder});
        }));
        QDir(storescp.receivedFolder()).removeRecursively();
        QDir().mkpath(storescp.receivedFolder());
    }
    std::printf("%d files of 512 x 512, %d runs\n", files, runs);
    print("C-STORE: norvane-cli send -> storescp", figure(send), figure(storescu), files);

    if (!pacs::storeFiles(orthanc.node(), pacs::PacsConfig(), paths, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QString studyUid;
    {
        QProcess tags;
        tags.start(cli, {QStringLiteral("summary"), paths.first()});
        tags.waitForFinished(-1);
        const QByteArray out = tags.readAllStandardOutput();
        const qsizetype at = out.indexOf("\"study_instance_uid\":\"");
        if (at >= 0) {
            const qsizetype start = at + qsizetype(sizeof("\"study_instance_uid\":\"") - 1);
            studyUid = QString::fromLatin1(out.mid(start, out.indexOf('"', start) - start));
        }
    }
    std::vector<double> get, getscu;
    const QString orthancPort = QString::number(orthanc.node().port);
    for (int run = 0; run < runs; ++run) {
        const QString ours = dir.filePath(QStringLiteral("get-ours"));
        const QString theirs = dir.filePath(QStringLiteral("get-getscu"));
        QDir().mkpath(theirs);
        get.push_back(velmaris::bench::timeMs([&] {
            runTool(cli, QStringList{QStringLiteral("get"), studyUid, QStringLiteral("--out"), ours}
                             + nodeArgs(orthanc.node()));
        }));
        getscu.push_back(velmaris::bench::timeMs([&] {
            runTool(QStringLiteral("getscu"),
                    {QStringLiteral("-aec"), QStringLiteral("ORTHANC"), QStringLiteral("-S"), QStringLiteral("-k"),
                     QStringLiteral("QueryRetrieveLevel=STUDY"), QStringLiteral("-k"),
                     QStringLiteral("StudyInstanceUID=%1").arg(studyUid), QStringLiteral("-od"), theirs,
                     QStringLiteral("127.0.0.1"), orthancPort});
        }));
        const qsizetype oursCount = QDir(ours).entryList(QDir::Files).size();
        const qsizetype theirCount = QDir(theirs).entryList(QDir::Files).size();
        if (oursCount != files || theirCount != files)
            std::fprintf(stderr, "run %d: received %lld (ours) and %lld (getscu) of %d\n", run,
                         static_cast<long long>(oursCount), static_cast<long long>(theirCount), files);
        QDir(ours).removeRecursively();
        QDir(theirs).removeRecursively();
    }
    print("C-GET: norvane-cli get <- Orthanc", figure(get), figure(getscu), files);
    return 0;
}
