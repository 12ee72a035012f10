#include "BenchSeries.h"

#include "seriesgen/SeriesGenerator.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>

namespace velmaris::bench {

QStringList ctSeries(const QString &folder, int files, int size)
{
    QDir dir(folder);
    QStringList existing = dir.entryList({QStringLiteral("IMG*.dcm")}, QDir::Files, QDir::Name);
    if (existing.size() == files) {
        QStringList paths;
        for (const QString &name : existing)
            paths << dir.filePath(name);
        return paths;
    }
    gen::SeriesSpec spec;
    spec.kind = gen::Kind::CT;
    spec.slices = files;
    spec.rows = size;
    spec.columns = size;
    QStringList paths;
    QString error;
    std::fprintf(stderr, "generating %d files of %dx%d in %s ...\n", files, size, size, qPrintable(folder));
    if (!gen::writeSeries(spec, folder, &paths, &error)) {
        std::fprintf(stderr, "generation failed: %s\n", qPrintable(error));
        return {};
    }
    return paths;
}

QList<db::SliceRef> sliceRefs(const QStringList &paths)
{
    QList<db::SliceRef> slices;
    for (int i = 0; i < paths.size(); ++i) {
        db::SliceRef slice;
        slice.file_path = paths.at(i);
        slice.instance_number = i + 1;
        slice.pixel_spacing_x = slice.pixel_spacing_y = 0.7;
        slices.append(slice);
    }
    return slices;
}

qint64 readAllBytes(const QStringList &paths)
{
    qint64 total = 0;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        qint64 n = 0;
        while ((n = file.read(buffer.data(), buffer.size())) > 0)
            total += n;
    }
    return total;
}

namespace {

std::vector<double> sorted(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values;
}

} // namespace

double Runs::median() const
{
    if (ms.empty())
        return 0.0;
    const std::vector<double> s = sorted(ms);
    const std::size_t n = s.size();
    return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2.0;
}

double Runs::min() const
{
    return ms.empty() ? 0.0 : *std::min_element(ms.begin(), ms.end());
}

double Runs::max() const
{
    return ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end());
}

QString Runs::text(const char *unit, double scale) const
{
    return QStringLiteral("%1 %2 (%3-%4)")
        .arg(median() * scale, 0, 'f', 2)
        .arg(QLatin1String(unit))
        .arg(min() * scale, 0, 'f', 2)
        .arg(max() * scale, 0, 'f', 2);
}

std::vector<Runs> interleaved(int runs, const std::vector<std::function<void()>> &functions,
                              const std::function<void()> &before)
{
    runs = std::max(runs, 5);
    std::vector<Runs> out(functions.size());
    for (const auto &fn : functions)
        fn();
    for (int r = 0; r < runs; ++r) {
        for (std::size_t i = 0; i < functions.size(); ++i) {
            if (before)
                before();
            out[i].ms.push_back(timeMs(functions[i]));
        }
    }
    return out;
}

bool dropPageCache()
{
    std::fflush(nullptr);
    FILE *f = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (f == nullptr)
        return false;
    const bool ok = std::fputs("3\n", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

void tableRow(const QString &figure, const Runs &measured, const QString &reference, const Runs &referenceRuns,
              const char *unit, double ratio, const QString &goal, bool met)
{
    std::printf("TABLE|%s|%s|%s|%s|%.2f|%s|%s\n", qPrintable(figure), qPrintable(measured.text(unit)),
                qPrintable(reference), qPrintable(referenceRuns.text(unit)), ratio, qPrintable(goal),
                met ? "met" : "NOT met");
    std::fflush(stdout);
}

} // namespace velmaris::bench
