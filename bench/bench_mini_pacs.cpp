// Mini-PACS throughput, each figure beside a reference measured in the same
// run, as the median of several runs with its spread:
//  - receiving `files` 512² CT files from storescu, stored and indexed, beside
//    DCMTK's storescp receiving the same files (stored only);
//  - a study-level C-FIND over `studies` studies (10 series of 10 instance rows
//    each), beside reading the study list from the index (its floor);
//  - a C-MOVE of the `files`-image study to storescp, beside dcmqrscp moving
//    the same study there.
//
//     bench_mini_pacs [files (1000)] [runs (5)] [studies (10000)]

#include "BenchSeries.h"
#include "db/Database.h"
#include "dicom/DicomSummaryReader.h"
#include "pacs/MiniPacsService.h"
#include "pacs/PacsClient.h"
#include "pacs/PacsPeers.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <utility>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

using velmaris::testing::DicomPeer;
using velmaris::testing::freePort;

// The runs of one thing, with their median and spread.
using Figure = velmaris::bench::Runs;

Figure figure(std::vector<double> ms)
{
    return Figure{std::move(ms)};
}

// Runs a tool while this thread's event loop turns (the service indexes here).
bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    loop.exec();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void print(const char *what, const Figure &ours, const char *referenceName, const Figure &reference,
           bool higherIsBetter)
{
    std::printf("%-46s %8.1f ms (%.1f..%.1f)\n", what, ours.median(), ours.min(), ours.max());
    std::printf("  %-44s %8.1f ms (%.1f..%.1f)\n", referenceName, reference.median(), reference.min(), reference.max());
    if (higherIsBetter)
        std::printf("  throughput %.2f x the reference\n", reference.median() / ours.median());
    else
        std::printf("  %.2f x the reference's time\n", ours.median() / reference.median());
}

void clearFolder(const QString &folder)
{
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
}

// Drains what the server handed over: the index is complete afterwards.
void finishIndexing(pacs::MiniPacsService &service)
{
    QCoreApplication::sendPostedEvents();
    while (service.isIndexing())
        QCoreApplication::sendPostedEvents();
}

pacs::PacsServerConfig localNode(int port, const QString &aeTitle)
{
    pacs::PacsServerConfig node;
    node.host = QStringLiteral("127.0.0.1");
    node.port = port;
    node.aeTitle = aeTitle;
    return node;
}

// A server on its own archive, ready when this returns.
struct MiniPacs
{
    explicit MiniPacs(const QString &folder, const QList<pacs::PacsServerConfig> &nodes = {})
        : databasePath(QDir(folder).filePath(QStringLiteral("index.sqlite3")))
    {
        QDir().mkpath(folder);
        database.open(databasePath);
        service = std::make_unique<pacs::MiniPacsService>(&database, databasePath,
                                                          QDir(folder).filePath(QStringLiteral("minipacs_received")));
        service->setConfigSource([nodes] {
            pacs::PacsConfig config;
            config.servers = nodes;
            return config;
        });
        pacs::MiniPacsService::Settings settings;
        settings.port = port = freePort();
        service->start(settings);
        while (!pacs::echoServer(localNode(port, settings.aeTitle), pacs::PacsConfig()))
            QCoreApplication::processEvents();
    }
    ~MiniPacs() { service->stop(); }

    QString databasePath;
    db::Database database{nullptr};
    std::unique_ptr<pacs::MiniPacsService> service;
    int port = 0;
};

// `studies` studies of 10 series with 10 instance rows each, by plain SQL.
bool fillIndex(const QString &path, int studies)
{
    {
        db::Database schema(nullptr);
        if (!schema.open(path))
            return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(path);
    bool ok = db.open();
    const QString n = QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < %1) ");
    const QStringList statements{
        QStringLiteral("BEGIN;"),
        n.arg(studies) + QStringLiteral("INSERT INTO patients (patient_id, patient_name, birth_date, sex) "
                                        "SELECT 'PAT' || i, 'ПАЦИЕНТ^' || i, '19600115', 'M' FROM n;"),
        n.arg(studies) + QStringLiteral("INSERT INTO studies (study_instance_uid, patient_id, study_date, study_time, "
                                        "study_description, accession_number, patient_name, birth_date, sex) "
                                        "SELECT '1.2.826.0.1.3680043.8.498.' || i, 'PAT' || i, "
                                        "(2015 + i % 10) || '0115', '101500', 'КТ органов грудной клетки', 'ACC' || i, "
                                        "'ПАЦИЕНТ^' || i, '19600115', 'M' FROM n;"),
        n.arg(studies * 10) + QStringLiteral("INSERT INTO series (series_instance_uid, study_instance_uid, series_number, "
                                             "modality) SELECT '1.2.826.0.1.3680043.8.498.' || (i / 10) || '.' || (i % 10), "
                                             "'1.2.826.0.1.3680043.8.498.' || (i / 10), (i % 10) + 1, "
                                             "CASE i % 3 WHEN 0 THEN 'CT' WHEN 1 THEN 'MR' ELSE 'PT' END FROM n;"),
        n.arg(studies * 100) + QStringLiteral("INSERT INTO instances (sop_instance_uid, series_instance_uid, "
                                              "instance_number, rows, columns, file_path) "
                                              "SELECT '1.2.826.0.1.3680043.8.498.' || (i / 100) || '.' || ((i / 10) % 10) "
                                              "|| '.' || (i % 10), '1.2.826.0.1.3680043.8.498.' || (i / 100) || '.' "
                                              "|| ((i / 10) % 10), (i % 10) + 1, 512, 512, '/archive/' || i || '.dcm' FROM n;"),
        QStringLiteral("COMMIT;"),
    };
    for (const QString &sql : statements) {
        QSqlQuery q(db);
        if (ok && !q.exec(sql)) {
            std::fprintf(stderr, "%s\n", qPrintable(q.lastError().text()));
            ok = false;
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
                                          : QStringLiteral("?");
}

} // namespace

int main(int argc, char *argv[])
{
    // As the service does for itself: without it every tool here, storescp
    // included, waits some 40 ms per object for a delayed acknowledgement,
    // and that wait is all any figure would show.
    qputenv("TCP_NODELAY", "1");
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int studies = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10000;
    std::printf("load average before: %s\n", qPrintable(loadAverage()));

    QTemporaryDir dir;
    const QString seriesFolder = dir.filePath(QStringLiteral("series"));
    const QStringList paths = velmaris::bench::ctSeries(seriesFolder, files, 512);
    velmaris::bench::readAllBytes(paths);
    const QString studyUid = dicom::readSummary(paths.first())->study_instance_uid;

    DicomPeer storescp(DicomPeer::Kind::Storescp, QStringLiteral("STORE"));
    QString error;
    if (!storescp.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const pacs::PacsServerConfig store = storescp.node();
    const auto storescu = [&](int port, const QString &aeTitle) {
        return runTool(QStringLiteral("storescu"), {QStringLiteral("-R"), QStringLiteral("-aec"), aeTitle,
                                                    QStringLiteral("+sd"), QStringLiteral("127.0.0.1"),
                                                    QString::number(port), seriesFolder});
    };

    // Receiving.
    std::vector<double> received, reference;
    for (int run = 0; run < runs; ++run) {
        clearFolder(storescp.receivedFolder());
        reference.push_back(velmaris::bench::timeMs([&] { storescu(store.port, store.aeTitle); }));
        MiniPacs server(dir.filePath(QStringLiteral("receive%1").arg(run)));
        received.push_back(velmaris::bench::timeMs([&] {
            storescu(server.port, QStringLiteral("VELMARIS"));
            finishIndexing(*server.service);
        }));
        const int indexed = server.database.listStudies().value(0).instance_count;
        if (indexed != files) {
            std::fprintf(stderr, "indexed %d of %d files\n", indexed, files);
            return 1;
        }
        QDir(dir.filePath(QStringLiteral("receive%1").arg(run))).removeRecursively();
    }
    print(qPrintable(QStringLiteral("receive %1 files (stored + indexed)").arg(files)), figure(received),
          "storescp (stored only)", figure(reference), true);

    // Querying.
    {
        const QString folder = dir.filePath(QStringLiteral("query"));
        QDir().mkpath(folder);
        if (!fillIndex(QDir(folder).filePath(QStringLiteral("index.sqlite3")), studies)) {
            std::fprintf(stderr, "could not fill the index\n");
            return 1;
        }
        MiniPacs server(folder);
        const pacs::PacsServerConfig node = localNode(server.port, QStringLiteral("VELMARIS"));
        pacs::StudyQuery one;
        one.patientName = QStringLiteral("пациент^4242");
        std::vector<double> find, all, list;
        int matches = 0;
        int everything = 0;
        for (int run = 0; run <= runs; ++run) { // the first run warms the caches
            const double findMs = velmaris::bench::timeMs([&] { matches = int(pacs::findStudies(node, pacs::PacsConfig(), one).size()); });
            const double allMs = velmaris::bench::timeMs([&] { everything = int(pacs::findStudies(node, pacs::PacsConfig(), {}).size()); });
            const double listMs = velmaris::bench::timeMs([&] { server.database.listStudies(); });
            if (run > 0) {
                find.push_back(findMs);
                all.push_back(allMs);
                list.push_back(listMs);
            }
        }
        if (matches != 1 || everything != studies) {
            std::fprintf(stderr, "C-FIND found %d and %d\n", matches, everything);
            return 1;
        }
        print(qPrintable(QStringLiteral("C-FIND, one of %1 studies (goal 200 ms)").arg(studies)), figure(find),
              "listStudies on the same index", figure(list), false);
        print(qPrintable(QStringLiteral("C-FIND, all %1 studies").arg(studies)), figure(all),
              "listStudies on the same index", figure(list), false);
    }

    // Moving.
    {
        DicomPeer dcmqrscp(DicomPeer::Kind::Dcmqrscp, QStringLiteral("TINYPACS"), store.aeTitle, store.port);
        if (!dcmqrscp.start(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        MiniPacs server(dir.filePath(QStringLiteral("move")), {store});
        storescu(dcmqrscp.node().port, dcmqrscp.node().aeTitle);
        storescu(server.port, QStringLiteral("VELMARIS"));
        finishIndexing(*server.service);
        const auto movescu = [&](int port, const QString &aeTitle) {
            return runTool(QStringLiteral("movescu"),
                           {QStringLiteral("-S"), QStringLiteral("-aec"), aeTitle, QStringLiteral("-aem"), store.aeTitle,
                            QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=STUDY"), QStringLiteral("-k"),
                            QStringLiteral("StudyInstanceUID=%1").arg(studyUid), QStringLiteral("127.0.0.1"),
                            QString::number(port)});
        };
        std::vector<double> moved, qr;
        for (int run = 0; run < runs; ++run) {
            clearFolder(storescp.receivedFolder());
            qr.push_back(velmaris::bench::timeMs([&] { movescu(dcmqrscp.node().port, dcmqrscp.node().aeTitle); }));
            const qsizetype byDcmqrscp = QDir(storescp.receivedFolder()).entryList(QDir::Files).size();
            clearFolder(storescp.receivedFolder());
            moved.push_back(velmaris::bench::timeMs([&] { movescu(server.port, QStringLiteral("VELMARIS")); }));
            const qsizetype byUs = QDir(storescp.receivedFolder()).entryList(QDir::Files).size();
            if (byUs != files || byDcmqrscp != files) {
                std::fprintf(stderr, "moved %lld and %lld of %d files\n", qlonglong(byUs), qlonglong(byDcmqrscp), files);
                return 1;
            }
        }
        print(qPrintable(QStringLiteral("C-MOVE of %1 images to storescp").arg(files)), figure(moved),
              "dcmqrscp moving the same study", figure(qr), true);
    }
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
