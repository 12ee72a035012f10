// Summaries per second over a generated CT series, beside the cost of reading
// the bytes, DCMTK's own full parse (dcmdump) and pydicom, all in one run.
//
//   bench_summary [files=2000] [size=512] [folder]

#include "BenchSeries.h"
#include "dicom/DicomSummaryReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

using namespace velmaris::bench;

namespace {

double runProcess(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return timeMs([&] {
        process.start(program, arguments);
        process.waitForFinished(-1);
    });
}

void report(const char *what, double ms, int files, double referenceMs)
{
    std::printf("%-44s %9.1f ms %10.0f files/s  %6.2f x read-bytes time\n", what, ms,
                files / (ms / 1000.0), ms / referenceMs);
}

} // namespace

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

    const qint64 bytes = readAllBytes(paths); // warm the cache
    double readMs = 1e30;
    for (int i = 0; i < 3; ++i)
        readMs = std::min(readMs, timeMs([&] { readAllBytes(paths); }));
    std::printf("%d files, %.1f MiB, warm cache\n", files, bytes / 1048576.0);
    report("read every byte (reference)", readMs, files, readMs);

    int ok = 0;
    double summaryMs = 1e30;
    for (int i = 0; i < 3; ++i) {
        ok = 0;
        summaryMs = std::min(summaryMs, timeMs([&] {
            for (const QString &p : paths)
                ok += dicom::readSummary(p).has_value();
        }));
    }
    if (ok != files)
        std::printf("warning: only %d of %d files summarised\n", ok, files);
    report("readSummary", summaryMs, files, readMs);

    const double testedMs = timeMs([&] {
        for (const QString &p : paths)
            ok += dicom::isDicomFile(p) && dicom::readSummary(p).has_value();
    });
    report("isDicomFile + readSummary", testedMs, files, readMs);

    const double fullMs = timeMs([&] {
        for (const QString &p : paths)
            ok += dicom::readSummaryFullLoad(p).has_value();
    });
    report("summary from a whole-file load", fullMs, files, readMs);

    if (!QStandardPaths::findExecutable(QStringLiteral("dcmdump")).isEmpty()) {
        report("dcmdump, all values loaded (DCMTK)", runProcess(QStringLiteral("dcmdump"), paths), files, readMs);
        report("dcmdump -M, long values skipped (DCMTK)",
               runProcess(QStringLiteral("dcmdump"), QStringList{QStringLiteral("-M")} + paths), files, readMs);
    }
    const QString script = QStringLiteral(
        "import sys, pydicom\n"
        "for p in sys.argv[1:]:\n"
        "    pydicom.dcmread(p, stop_before_pixels=True)\n");
    report("pydicom dcmread(stop_before_pixels)",
           runProcess(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script} + paths),
           files, readMs);
    std::printf("goal: at least 4000 summaries/s; readSummary is %.2f x the time of reading the bytes\n",
                summaryMs / readMs);
    return 0;
}
