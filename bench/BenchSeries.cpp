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

} // namespace velmaris::bench
