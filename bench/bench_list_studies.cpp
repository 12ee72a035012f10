// How long the study browser waits for its list on a large archive: 10,000
// studies of 10 series with 10 instance rows each (1,000,000 rows). Beside
// listStudies, in the same run: a bare COUNT(*) over the instances and one
// GROUP BY query that yields the same per-study counts. Also what opening the
// index costs, with the integrity reads it makes before writing anything,
// beside SQLite's quick_check over the whole file on a second connection.
//
// Median (min-max) of at least 5 runs, the list and its references
// interleaved run by run.
//
// Usage: bench_list_studies [studies = 10000] [runs = 7]

#include "BenchSeries.h"
#include "db/Database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kSeriesPerStudy = 10;
constexpr int kInstancesPerSeries = 10;

// Fills the tables with plain SQL in one transaction; going through the upserts
// would take minutes for a million rows and measure nothing of interest here.
bool fill(const QString &connection, int studies, QString *error)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    const QString seriesCount = QString::number(studies * kSeriesPerStudy);
    const QString instanceCount = QString::number(studies * kSeriesPerStudy * kInstancesPerSeries);
    const QStringList statements = {
        QStringLiteral("BEGIN;"),
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < %1) "
            "INSERT INTO patients (patient_id, patient_name, birth_date, sex, weight_kg, height_cm) "
            "SELECT 'PAT' || i, 'Пациент^' || i, '1960' || substr('0' || (1 + i % 12), -2) || '15', "
            "CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END, 60 + i % 40, 160 + i % 30 FROM n;")
            .arg(studies),
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < %1) "
            "INSERT INTO studies (study_instance_uid, patient_id, study_date, study_time, study_description, "
            "accession_number, referring_physician, is_protected) "
            "SELECT '1.2.826.0.1.3680043.8.498.' || i, 'PAT' || i, "
            "(2015 + i % 10) || substr('0' || (1 + i % 12), -2) || substr('0' || (1 + i % 28), -2), "
            "substr('00000' || ((i * 37) % 240000), -6), "
            "'КТ органов грудной клетки', 'ACC' || i, 'Петрова^А^В', i % 50 = 0 FROM n;")
            .arg(studies),
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < %1) "
            "INSERT INTO series (series_instance_uid, study_instance_uid, series_number, series_description, "
            "modality, body_part_examined, laterality) "
            "SELECT '1.2.826.0.1.3680043.8.498.' || (i / %2) || '.' || (i % %2), "
            "'1.2.826.0.1.3680043.8.498.' || (i / %2), (i % %2) + 1, 'Series ' || (i % %2), "
            "CASE (i / %2) % 3 WHEN 0 THEN 'CT' WHEN 1 THEN 'MR' ELSE (CASE i % 2 WHEN 0 THEN 'CT' ELSE 'PT' END) END, "
            "'CHEST', '' FROM n;")
            .arg(seriesCount)
            .arg(kSeriesPerStudy),
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < %1) "
            "INSERT INTO instances (sop_instance_uid, series_instance_uid, instance_number, rows, columns, "
            "number_of_frames, pixel_spacing_x, pixel_spacing_y, slice_thickness, slice_location, window_center, "
            "window_width, rescale_slope, rescale_intercept, repetition_time, echo_time, image_position_x, "
            "image_position_y, image_position_z, orientation_row_x, orientation_row_y, orientation_row_z, "
            "orientation_col_x, orientation_col_y, orientation_col_z, has_spatial_info, frame_index, "
            "acquisition_time_seconds, temporal_position_index, frame_of_reference_uid, trigger_time_ms, "
            "cardiac_number_of_images, file_path) "
            "SELECT '1.2.826.0.1.3680043.8.498.' || (i / %2) || '.' || ((i / %3) % %4) || '.' || (i % %3), "
            "'1.2.826.0.1.3680043.8.498.' || (i / %2) || '.' || ((i / %3) % %4), (i % %3) + 1, 512, 512, 1, "
            "0.703125, 0.703125, 1.25, -1.25 * (i % %3), -600, 1500, 1, -1024, 0, 0, -180, -180, "
            "-1.25 * (i % %3), 1, 0, 0, 0, 1, 0, 1, 0, 36930.5, 0, '1.2.826.0.1.3680043.8.498.' || (i / %2) || '.0', "
            "-1, 0, '/home/radiology/archive/' || (i / %2) || '/' || ((i / %3) % %4) || '/IM' || (i % %3) || '.dcm' "
            "FROM n;")
            .arg(instanceCount)
            .arg(kSeriesPerStudy * kInstancesPerSeries)
            .arg(kInstancesPerSeries)
            .arg(kSeriesPerStudy),
        // The totals the index keeps with the rows, as its upserts would
        // have left them.
        QStringLiteral("UPDATE series SET instance_count = (SELECT COUNT(*) FROM instances i "
                       "WHERE i.series_instance_uid = series.series_instance_uid);"),
        QStringLiteral("UPDATE studies SET "
                       "series_count = (SELECT COUNT(*) FROM series se "
                       "WHERE se.study_instance_uid = studies.study_instance_uid), "
                       "instance_count = (SELECT COALESCE(SUM(se.instance_count), 0) FROM series se "
                       "WHERE se.study_instance_uid = studies.study_instance_uid), "
                       "modalities = (SELECT GROUP_CONCAT(DISTINCT se.modality) FROM series se "
                       "WHERE se.study_instance_uid = studies.study_instance_uid);"),
        QStringLiteral("COMMIT;"),
    };
    for (const QString &sql : statements) {
        QSqlQuery q(db);
        if (!q.exec(sql)) {
            *error = q.lastError().text();
            return false;
        }
    }
    return true;
}

int argument(int argc, char **argv, int index, int fallback)
{
    if (argc <= index)
        return fallback;
    const int value = std::atoi(argv[index]);
    return value > 0 ? value : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int studies = argument(argc, argv, 1, 10000);
    const int runs = argument(argc, argv, 2, 7);

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));

    db::Database database(nullptr);
    if (!database.open(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(database.lastError()));
        return 1;
    }
    QElapsedTimer buildTimer;
    buildTimer.start();
    QString error;
    if (!fill(database.connectionName(), studies, &error)) {
        std::fprintf(stderr, "fill: %s\n", qPrintable(error));
        return 1;
    }
    const double buildMs = buildTimer.nsecsElapsed() / 1e6;

    // The references run on their own connection to the same file, as a
    // second reader would.
    const QString refName = QStringLiteral("bench_%1").arg(QUuid::createUuid().toString());
    using velmaris::bench::Runs;
    Runs countRuns, groupRuns, listRuns, openRuns, checkRuns, plainRuns;
    qint64 instanceRows = 0;
    QHash<QString, QPair<int, int>> grouped;
    QList<db::StudyRecord> listed;
    {
        QSqlDatabase ref = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), refName);
        ref.setDatabaseName(path);
        if (!ref.open()) {
            std::fprintf(stderr, "%s\n", qPrintable(ref.lastError().text()));
            return 1;
        }

        const auto timed = velmaris::bench::interleaved(
            runs,
            {[&] { listed = database.listStudies(); },
             [&] {
                 QSqlQuery q(ref);
                 q.setForwardOnly(true);
                 if (q.exec(QStringLiteral("SELECT COUNT(*) FROM instances")) && q.next())
                     instanceRows = q.value(0).toLongLong();
             },
             [&] {
                 grouped.clear();
                 QSqlQuery q(ref);
                 q.setForwardOnly(true);
                 q.exec(QStringLiteral(
                     "SELECT se.study_instance_uid, COUNT(DISTINCT se.series_instance_uid), COUNT(i.sop_instance_uid) "
                     "FROM series se LEFT JOIN instances i ON i.series_instance_uid = se.series_instance_uid "
                     "GROUP BY se.study_instance_uid"));
                 while (q.next())
                     grouped.insert(q.value(0).toString(), {q.value(1).toInt(), q.value(2).toInt()});
             },
             [&] {
                 // The floor: every study row with its patient, nothing counted.
                 QSqlQuery q(ref);
                 q.setForwardOnly(true);
                 q.exec(QStringLiteral("SELECT st.*, p.* FROM studies st LEFT JOIN patients p "
                                       "ON p.patient_id = st.patient_id ORDER BY st.study_date, st.study_time"));
                 while (q.next()) {
                     for (int c = 0; c < 14; ++c)
                         q.value(c);
                 }
             }});
        listRuns = timed[0];
        countRuns = timed[1];
        groupRuns = timed[2];
        plainRuns = timed[3];

        bool opened = true;
        const auto openTimed = velmaris::bench::interleaved(
            runs, {[&] {
                       db::Database again(nullptr);
                       opened = again.open(path) && opened;
                   },
                   [&] {
                       QSqlQuery q(ref);
                       q.setForwardOnly(true);
                       q.exec(QStringLiteral("PRAGMA quick_check;"));
                       while (q.next()) {
                       }
                   }});
        openRuns = openTimed[0];
        checkRuns = openTimed[1];
        if (!opened) {
            std::fprintf(stderr, "reopening the index failed\n");
            return 1;
        }
        ref.close();
    }
    QSqlDatabase::removeDatabase(refName);

    // The reference only counts if it says the same as the list.
    bool agree = listed.size() == studies && grouped.size() == studies;
    for (const db::StudyRecord &r : std::as_const(listed)) {
        const auto it = grouped.constFind(r.study_instance_uid);
        agree = agree && it != grouped.cend() && it->first == r.series_count && it->second == r.instance_count;
    }

    const double goalMs = 100.0;
    const double listMs = listRuns.median();
    std::printf("bench_list_studies: %d studies, %lld instance rows (index built in %.0f ms), median (min-max) of %d "
                "interleaved runs\n",
                studies, instanceRows, buildMs, std::max(runs, 5));
    std::printf("  %-52s %s\n", "listStudies", qPrintable(listRuns.text()));
    std::printf("  %-52s %s  listStudies / this = %.2f\n", "reference: study rows with patients, no counts",
                qPrintable(plainRuns.text()), listMs / plainRuns.median());
    std::printf("  %-52s %s  listStudies / this = %.2f\n", "reference: SELECT COUNT(*) FROM instances",
                qPrintable(countRuns.text()), listMs / countRuns.median());
    std::printf("  %-52s %s  listStudies / this = %.2f  (same counts: %s)\n",
                "reference: one GROUP BY over series and instances", qPrintable(groupRuns.text()),
                listMs / groupRuns.median(), agree ? "yes" : "NO");
    std::printf("  %-52s %s\n", "open (integrity reads included)", qPrintable(openRuns.text()));
    std::printf("  %-52s %s  open / this = %.2f\n", "reference: PRAGMA quick_check, whole file",
                qPrintable(checkRuns.text()), openRuns.median() / checkRuns.median());
    velmaris::bench::tableRow(QStringLiteral("listStudies, %1 studies / %2 rows").arg(studies).arg(instanceRows),
                              listRuns, QStringLiteral("study rows, no counts"), plainRuns, "ms",
                              listMs / plainRuns.median(), QStringLiteral("<= %1 ms").arg(goalMs),
                              listMs <= goalMs && agree);
    return agree ? 0 : 2;
}
