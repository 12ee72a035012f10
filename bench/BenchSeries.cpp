#include "BenchSeries.h"

#include "seriesgen/SeriesGenerator.h"

#include <QDir>
#include <QFile>

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

} // namespace velmaris::bench
