// Folder import end to end (walk, preamble test, summary, batched insert into
// a fresh index file), beside a plain walk that reads every byte.
//
//   bench_folder_import [files=2000] [size=512] [folder]

#include "BenchSeries.h"
#include "db/Database.h"
#include "dicom/FolderScan.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QTemporaryDir>

#include <cstdio>

using namespace velmaris::bench;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.size() > 1 ? args.at(1).toInt() : 2000;
    const int size = args.size() > 2 ? args.at(2).toInt() : 512;
    QTemporaryDir scratch;
    const QString folder = args.size() > 3 ? args.at(3) : scratch.filePath(QStringLiteral("ct"));
    const QStringList paths = ctSeries(folder, files, size);
    if (paths.size() != files)
        return 1;
    readAllBytes(paths); // warm the cache

    const double walkMs = timeMs([&] {
        QStringList walked;
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            walked << it.next();
        readAllBytes(walked);
    });

    int stored = 0;
    const double importMs = timeMs([&] {
        db::Database database(nullptr);
        if (!database.open(scratch.filePath(QStringLiteral("index.sqlite3"))))
            return;
        QVector<dicom::DicomFileSummary> batch;
        dicom::FolderScanHandlers handlers;
        handlers.fileFound = [&](const dicom::DicomFileSummary &s) {
            batch.append(s);
            if (batch.size() >= 500) {
                stored += database.insertSummaries(batch);
                batch.clear();
            }
        };
        dicom::FolderScanResult result;
        dicom::scanFolder(folder, handlers, &result);
        stored += database.insertSummaries(batch);
    });

    std::printf("%d files\n", files);
    std::printf("walk + read every byte (reference) %9.1f ms %8.0f files/s\n", walkMs, files / (walkMs / 1000));
    std::printf("folder import into a new index     %9.1f ms %8.0f files/s  %.2f x reference; %d stored\n",
                importMs, files / (importMs / 1000), importMs / walkMs, stored);
    std::printf("goal: at least 2000 files/s end to end\n");
    return stored == files ? 0 : 1;
}
