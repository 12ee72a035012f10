#pragma once

#include "db/SliceRef.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

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

// The timings of repeated runs of one thing.
struct Runs
{
    std::vector<double> ms;
    double median() const;
    double min() const;
    double max() const;
    // "12.30 ms (11.90-13.05)": the median and the spread of the runs.
    QString text(const char *unit = "ms", double scale = 1.0) const;
};

// Times each function `runs` times (at least 5), interleaved run by run
// (a, b, a, b, ...) so that a load that comes and goes on the machine meets
// both alike, after one untimed warm-up run of each. `before`, when given,
// runs untimed before every timed run (dropping the page cache, say).
std::vector<Runs> interleaved(int runs, const std::vector<std::function<void()>> &functions,
                              const std::function<void()> &before = {});

// Empties the page cache (echo 3 > /proc/sys/vm/drop_caches); false when the
// machine does not allow it, and the cold-cache figures are left out.
bool dropPageCache();

// One row of the table bench/run_all.sh prints: what is measured, its median
// and spread, the same-run reference's, the ratio of the medians and the goal
// with whether it is met.
void tableRow(const QString &figure, const Runs &measured, const QString &reference, const Runs &referenceRuns,
              const char *unit, double ratio, const QString &goal, bool met);

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
