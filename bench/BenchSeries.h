#pragma once

#include "db/SliceRef.h"

#include <QList>
#include <QString>
#include <QStringList>

// Shared by the benchmarks: a generated CT series, made once and reused.
namespace velmaris::bench {

// Writes (or reuses, when `folder` already holds it) a CT series of `files`
// slices of size × size 16-bit pixels. Returns the file paths in slice order.
QStringList ctSeries(const QString &folder, int files, int size);

// Slice rows for generated files in slice order, 0.7 mm pixels, as the
// study index would give them to a viewer.
QList<db::SliceRef> sliceRefs(const QStringList &paths);

// Reads every byte of every file once: the floor any reader has to pay, and a
// way to warm the page cache before timing.
qint64 readAllBytes(const QStringList &paths);

// Milliseconds taken by fn().
template<typename Fn>
double timeMs(Fn &&fn);

} // namespace velmaris::bench

#include <QElapsedTimer>

template<typename Fn>
double velmaris::bench::timeMs(Fn &&fn)
{
    QElapsedTimer timer;
    timer.start();
    fn();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}
