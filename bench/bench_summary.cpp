// Summaries per second over a generated CT series, beside DCMTK's own header
// read in the same process (the same lazy parse that leaves values above
// 4 KiB in the file, without the summary), the plain cost of reading the
// bytes, and DCMTK's dcmdump -M; all interleaved run by run, median and
// spread of at least 5 runs, warm page cache and, where the machine allows
// dropping it, cold.
//
//   bench_summary [files=2000] [size=512] [runs=7] [folder]

#include "BenchSeries.h"
#include "dicom/DicomSummaryReader.h"

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/oflog/oflog.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

using namespace velmaris::bench;

namespace {

void report(const char *what, const Runs &runs, int files, const Runs &reference, const char *referenceName)
{
    std::printf("  %-42s %-28s %8.0f files/s  %5.2f x %s\n", what, qPrintable(runs.text()),
                files / (runs.median() / 1000.0), runs.median() / reference.median(), referenceName);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.size() > 1 ? args.at(1).toInt() : 2000;
    const int size = args.size() > 2 ? args.at(2).toInt() : 512;
    const int runs = args.size() > 3 ? args.at(3).toInt() : 7;
    QTemporaryDir scratch;
    const QString folder = args.size() > 4 ? args.at(4) : scratch.filePath(QStringLiteral("ct"));
    const QStringList paths = ctSeries(folder, files, size);
    if (paths.size() != files)
        return 1;
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
    std::vector<QByteArray> names;
    for (const QString &p : paths)
        names.push_back(QFile::encodeName(p));

    int failures = 0;
    const std::function<void()> readBytes = [&] { readAllBytes(paths); };
    const std::function<void()> summaries = [&] {
        for (const QString &p : paths)
            failures += !dicom::readSummary(p).has_value();
    };
    const std::function<void()> dcmtkHeaders = [&] {
        for (const QByteArray &name : names) {
            DcmFileFormat file;
            failures += file.loadFile(name.constData(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength).bad();
        }
    };
    const bool haveDcmdump = !QStandardPaths::findExecutable(QStringLiteral("dcmdump")).isEmpty();
    const std::function<void()> dcmdump = [&] {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("dcmdump"), QStringList{QStringLiteral("-M")} + paths);
        process.waitForFinished(-1);
    };

    const qint64 bytes = readAllBytes(paths);
    std::printf("bench_summary: %d files, %.1f MiB, median (min-max) of %d interleaved runs\n", files,
                bytes / 1048576.0, std::max(runs, 5));
    std::vector<std::function<void()>> functions{readBytes, summaries, dcmtkHeaders};
    if (haveDcmdump)
        functions.push_back(dcmdump);
    const std::vector<Runs> warm = interleaved(runs, functions);
    std::printf(" warm page cache\n");
    report("read every byte", warm[0], files, warm[2], "DCMTK");
    report("readSummary", warm[1], files, warm[2], "DCMTK");
    report("DCMTK loadFile, values > 4 KiB left (in process)", warm[2], files, warm[2], "DCMTK");
    if (haveDcmdump)
        report("dcmdump -M (DCMTK, one process)", warm[3], files, warm[2], "DCMTK");
    const double ratio = warm[1].median() / warm[2].median();
    tableRow(QStringLiteral("readSummary, %1 CT files (warm)").arg(files), warm[1],
             QStringLiteral("DCMTK header read in process"), warm[2], "ms", ratio, QStringLiteral("<= 1.3 x"),
             ratio <= 1.3);

    if (dropPageCache()) {
        const std::vector<Runs> cold =
            interleaved(runs, {readBytes, summaries, dcmtkHeaders}, [] { dropPageCache(); });
        std::printf(" cold page cache (dropped before every run)\n");
        report("read every byte", cold[0], files, cold[2], "DCMTK");
        report("readSummary", cold[1], files, cold[2], "DCMTK");
        report("DCMTK loadFile, values > 4 KiB left (in process)", cold[2], files, cold[2], "DCMTK");
        const double coldRatio = cold[1].median() / cold[2].median();
        tableRow(QStringLiteral("readSummary, %1 CT files (cold)").arg(files), cold[1],
                 QStringLiteral("DCMTK header read in process"), cold[2], "ms", coldRatio,
                 QStringLiteral("<= 1.3 x"), coldRatio <= 1.3);
    } else {
        std::printf(" cold page cache: skipped, this machine does not allow dropping the page cache\n");
    }
    if (failures)
        std::printf("warning: %d reads failed\n", failures);
    return failures ? 1 : 0;
}
