// Folder import end to end (walk, preamble test, summary, batched insert into
// a fresh index file), beside a plain walk that reads every byte. Median
// (min-max) of at least 5 interleaved runs, each into a new index file.
//
//   bench_folder_import [files=2000] [size=512] [runs=5] [folder]

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
    const int runs = args.size() > 3 ? args.at(3).toInt() : 5;
    QTemporaryDir scratch;
    const QString folder = args.size() > 4 ? args.at(4) : scratch.filePath(QStringLiteral("ct"));
    const QStringList paths = ctSeries(folder, files, size);
    if (paths.size() != files)
        return 1;
    readAllBytes(paths); // warm the cache

    const auto walk = [&] {
        QStringList walked;
        QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            walked << it.next();
        readAllBytes(walked);
    };

    int stored = 0;
    int serial = 0;
    const auto import = [&] {
        stored = 0;
        db::Database database(nullptr);
        if (!database.open(scratch.filePath(QStringLiteral("index%1.sqlite3").arg(serial++))))
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
    };
    const std::vector<Runs> timed = interleaved(runs, {walk, import});
    const double walkMs = timed[0].median();
    const double importMs = timed[1].median();

    std::printf("bench_folder_import: %d files, median (min-max) of %d interleaved runs\n", files, std::max(runs, 5));
    std::printf("  walk + read every byte (reference) %-28s %8.0f files/s\n", qPrintable(timed[0].text()),
                files / (walkMs / 1000));
    std::printf("  folder import into a new index     %-28s %8.0f files/s  %.2f x reference; %d stored\n",
                qPrintable(timed[1].text()), files / (importMs / 1000), importMs / walkMs, stored);
    tableRow(QStringLiteral("folder import, %1 files").arg(files), timed[1], QStringLiteral("walk + read the bytes"),
             timed[0], "ms", importMs / walkMs, QStringLiteral(">= 2000 files/s"), files / (importMs / 1000) >= 2000);
    return stored == files ? 0 : 1;
}
