// How fast summaries reach the study index: batched in transactions of 500 as
// imports store them, beside the same four upserts through the bare SQLite C
// API in the same transactions of 500 (the ceiling that Qt's SQL layer and the
// index code are measured against), and one by one (every statement its own
// transaction). A fourth line runs the C API skipping the repeated patient,
// study and series rows as the index does: what remains between the two is
// the cost of Qt's layer and the index code. Median (min-max) of at least 5
// interleaved runs, each into a new index file.
//
// Usage: bench_index_insert [N = 20000] [N one by one = 500] [runs = 5]

#include "BenchSeries.h"
#include "db/Database.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

using dicom::DicomFileSummary;

namespace {

// A realistic CT archive: one patient per study, a localiser and two axial
// series of 1.25 mm slices.
QVector<DicomFileSummary> makeSummaries(int count)
{
    QVector<DicomFileSummary> out;
    out.reserve(count);
    const int perSeries = 150;
    for (int i = 0; i < count; ++i) {
        const int seriesIndex = i / perSeries;
        const int studyIndex = seriesIndex / 3;
        const int slice = i % perSeries;
        DicomFileSummary s;
        s.patient_id = QStringLiteral("PAT%1").arg(100000 + studyIndex);
        s.patient_name = QStringLiteral("Пациент^Тестовый^%1").arg(studyIndex);
        s.birth_date = QStringLiteral("19%1%2").arg(40 + studyIndex % 50).arg(QStringLiteral("0615"));
        s.sex = studyIndex % 2 ? QStringLiteral("M") : QStringLiteral("F");
        s.weight_kg = 60.0 + studyIndex % 40;
        s.height_cm = 160.0 + studyIndex % 30;
        s.study_instance_uid = QStringLiteral("1.2.826.0.1.3680043.8.498.%1").arg(studyIndex);
        s.study_date = QStringLiteral("2024%1%2")
                           .arg(1 + studyIndex % 12, 2, 10, QLatin1Char('0'))
                           .arg(1 + studyIndex % 28, 2, 10, QLatin1Char('0'));
        s.study_time = QStringLiteral("101530");
        s.study_description = QStringLiteral("КТ органов грудной клетки");
        s.accession_number = QStringLiteral("ACC%1").arg(studyIndex);
        s.referring_physician = QStringLiteral("Петрова^А^В");
        s.series_instance_uid = s.study_instance_uid + QStringLiteral(".%1").arg(seriesIndex % 3 + 1);
        s.series_number = QString::number(seriesIndex % 3 + 1);
        s.series_description = QStringLiteral("Lung 1.25mm");
        s.modality = QStringLiteral("CT");
        s.body_part_examined = QStringLiteral("CHEST");
        s.sop_instance_uid = s.series_instance_uid + QStringLiteral(".%1").arg(slice + 1);
        s.instance_number = slice + 1;
        s.rows = 512;
        s.columns = 512;
        s.number_of_frames = 1;
        s.pixel_spacing_x = 0.703125;
        s.pixel_spacing_y = 0.703125;
        s.slice_thickness = 1.25;
        s.slice_location = -1.25 * slice;
        s.window_center = -600.0;
        s.window_width = 1500.0;
        s.rescale_slope = 1.0;
        s.rescale_intercept = -1024.0;
        s.acquisition_time_seconds = 36930.0 + slice * 0.1;
        s.frame_of_reference_uid = s.study_instance_uid + QStringLiteral(".0");
        s.image_position = {-180.0, -180.0, -1.25 * slice};
        s.image_orientation = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};
        s.has_spatial_info = true;
        s.file_path = QStringLiteral("/home/radiology/archive/%1/%2/IM%3.dcm")
                          .arg(s.study_instance_uid, s.series_number)
                          .arg(slice + 1, 5, 10, QLatin1Char('0'));
        out.append(s);
    }
    return out;
}

// The same statements db::Database runs, without Qt in between.
const char *const kUpserts[4] = {
    "INSERT INTO patients (patient_id, patient_name, birth_date, sex, weight_kg, height_cm) "
    "VALUES (:id, :name, :birth, :sex, :weight, :height) "
    "ON CONFLICT(patient_id) DO UPDATE SET patient_name = excluded.patient_name, "
    "birth_date   = excluded.birth_date, sex          = excluded.sex, "
    "weight_kg    = excluded.weight_kg, height_cm    = excluded.height_cm;",

    "INSERT INTO studies (study_instance_uid, patient_id, study_date, study_time, study_description, "
    "accession_number, referring_physician, patient_name, birth_date, sex) "
    "VALUES (:uid, :patient_id, :date, :time, :desc, :acc, :ref, :name, :birth, :sex) "
    "ON CONFLICT(study_instance_uid) DO UPDATE SET study_date          = excluded.study_date, "
    "study_time          = excluded.study_time, study_description   = excluded.study_description, "
    "accession_number    = excluded.accession_number, referring_physician = excluded.referring_physician, "
    "patient_name        = excluded.patient_name, birth_date          = excluded.birth_date, "
    "sex                 = excluded.sex;",

    "INSERT INTO series (series_instance_uid, study_instance_uid, series_number, series_description, "
    "modality, body_part_examined, laterality) "
    "VALUES (:uid, :study_uid, :num, :desc, :modality, :body_part, :laterality) "
    "ON CONFLICT(series_instance_uid) DO UPDATE SET series_number      = excluded.series_number, "
    "series_description = excluded.series_description, modality           = excluded.modality, "
    "body_part_examined = excluded.body_part_examined, laterality         = excluded.laterality;",

    "INSERT INTO instances (sop_instance_uid, series_instance_uid, instance_number, rows, columns, "
    "number_of_frames, pixel_spacing_x, pixel_spacing_y, slice_thickness, slice_location, window_center, "
    "window_width, rescale_slope, rescale_intercept, repetition_time, echo_time, image_position_x, "
    "image_position_y, image_position_z, orientation_row_x, orientation_row_y, orientation_row_z, "
    "orientation_col_x, orientation_col_y, orientation_col_z, has_spatial_info, frame_index, "
    "acquisition_time_seconds, temporal_position_index, frame_of_reference_uid, trigger_time_ms, "
    "cardiac_number_of_images, file_path) VALUES (:uid, :series_uid, :inum, :rows, :cols, :frames, :psx, "
    ":psy, :thick, :loc, :wc, :ww, :slope, :intercept, :tr, :te, :ipx, :ipy, :ipz, :orx, :ory, :orz, :ocx, "
    ":ocy, :ocz, :hasspatial, :frameidx, :acqtime, :temporalidx, :forUid, :triggertime, :cardiacnimages, "
    ":path) ON CONFLICT(sop_instance_uid) DO UPDATE SET file_path         = excluded.file_path, "
    "instance_number   = excluded.instance_number, window_center     = excluded.window_center, "
    "window_width      = excluded.window_width, slice_thickness   = excluded.slice_thickness, "
    "slice_location    = excluded.slice_location;",
};

class RawInserter
{
public:
    explicit RawInserter(const QString &path)
    {
        if (sqlite3_open(path.toUtf8().constData(), &m_db) != SQLITE_OK)
            return;
        exec("PRAGMA journal_mode=DELETE;");
        exec("PRAGMA synchronous=NORMAL;");
        exec("PRAGMA foreign_keys=ON;");
        for (int i = 0; i < 4; ++i) {
            if (sqlite3_prepare_v2(m_db, kUpserts[i], -1, &m_statements[i], nullptr) != SQLITE_OK)
                return;
        }
        m_ok = true;
    }
    ~RawInserter()
    {
        for (sqlite3_stmt *s : m_statements)
            sqlite3_finalize(s);
        sqlite3_close(m_db);
    }
    RawInserter(const RawInserter &) = delete;
    RawInserter &operator=(const RawInserter &) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return QString::fromUtf8(sqlite3_errmsg(m_db)); }
    bool exec(const char *sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    // With `skipRepeated` the patient, study and series upserts are left out
    // for a summary of the series written just before (the index skips them
    // when their values repeat; in this archive a series' slices repeat them).
    bool insert(const DicomFileSummary &s, bool skipRepeated = false)
    {
        const bool repeated = skipRepeated && s.series_instance_uid == m_lastSeries;
        m_lastSeries = s.series_instance_uid;
        if (!repeated && !writeRows(s))
            return false;
        return writeInstance(s);
    }

private:
    bool writeRows(const DicomFileSummary &s)
    {
        sqlite3_stmt *p = m_statements[0];
        text(p, ":id", s.patient_id);
        text(p, ":name", s.patient_name);
        text(p, ":birth", s.birth_date);
        text(p, ":sex", s.sex);
        real(p, ":weight", s.weight_kg);
        real(p, ":height", s.height_cm);
        if (!step(p))
            return false;

        p = m_statements[1];
        text(p, ":uid", s.study_instance_uid);
        text(p, ":patient_id", s.patient_id);
        text(p, ":date", s.study_date);
        text(p, ":time", s.study_time);
        text(p, ":desc", s.study_description);
        text(p, ":acc", s.accession_number);
        text(p, ":ref", s.referring_physician);
        text(p, ":name", s.patient_name);
        text(p, ":birth", s.birth_date);
        text(p, ":sex", s.sex);
        if (!step(p))
            return false;

        p = m_statements[2];
        text(p, ":uid", s.series_instance_uid);
        text(p, ":study_uid", s.study_instance_uid);
        text(p, ":num", s.series_number);
        text(p, ":desc", s.series_description);
        text(p, ":modality", s.modality);
        text(p, ":body_part", s.body_part_examined);
        text(p, ":laterality", s.laterality);
        return step(p);
    }

    bool writeInstance(const DicomFileSummary &s)
    {
        // Single-frame files only in this archive: one row each.
        sqlite3_stmt *p = m_statements[3];
        text(p, ":uid", s.sop_instance_uid);
        text(p, ":series_uid", s.series_instance_uid);
        integer(p, ":inum", s.instance_number);
        integer(p, ":rows", s.rows);
        integer(p, ":cols", s.columns);
        integer(p, ":frames", s.number_of_frames);
        real(p, ":psx", s.pixel_spacing_x);
        real(p, ":psy", s.pixel_spacing_y);
        real(p, ":thick", s.slice_thickness);
        real(p, ":loc", s.slice_location);
        real(p, ":wc", s.window_center);
        real(p, ":ww", s.window_width);
        real(p, ":slope", s.rescale_slope);
        real(p, ":intercept", s.rescale_intercept);
        real(p, ":tr", s.repetition_time);
        real(p, ":te", s.echo_time);
        real(p, ":ipx", s.image_position[0]);
        real(p, ":ipy", s.image_position[1]);
        real(p, ":ipz", s.image_position[2]);
        real(p, ":orx", s.image_orientation[0]);
        real(p, ":ory", s.image_orientation[1]);
        real(p, ":orz", s.image_orientation[2]);
        real(p, ":ocx", s.image_orientation[3]);
        real(p, ":ocy", s.image_orientation[4]);
        real(p, ":ocz", s.image_orientation[5]);
        integer(p, ":hasspatial", s.has_spatial_info ? 1 : 0);
        integer(p, ":frameidx", 0);
        real(p, ":acqtime", s.acquisition_time_seconds);
        integer(p, ":temporalidx", s.temporal_position_index);
        text(p, ":forUid", s.frame_of_reference_uid);
        real(p, ":triggertime", s.trigger_time_ms);
        integer(p, ":cardiacnimages", s.cardiac_number_of_images);
        text(p, ":path", s.file_path);
        return step(p);
    }

    static void text(sqlite3_stmt *p, const char *name, const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(p, sqlite3_bind_parameter_index(p, name), utf8.constData(), int(utf8.size()),
                          SQLITE_TRANSIENT);
    }
    static void real(sqlite3_stmt *p, const char *name, double value)
    {
        sqlite3_bind_double(p, sqlite3_bind_parameter_index(p, name), value);
    }
    static void integer(sqlite3_stmt *p, const char *name, int value)
    {
        sqlite3_bind_int(p, sqlite3_bind_parameter_index(p, name), value);
    }
    static bool step(sqlite3_stmt *p)
    {
        const int rc = sqlite3_step(p);
        sqlite3_reset(p);
        return rc == SQLITE_DONE;
    }

    QString m_lastSeries;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_statements[4] = {nullptr, nullptr, nullptr, nullptr};
    bool m_ok = false;
};

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
    const int n = argument(argc, argv, 1, 20000);
    const int nSingle = std::min(n, argument(argc, argv, 2, 500));
    const int runs = std::max(5, argument(argc, argv, 3, 5));
    const int batchSize = 500;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    const QVector<DicomFileSummary> summaries = makeSummaries(n);

    // Fresh index files for every run (and the warm-up), made beforehand.
    int fileSerial = 0;
    const auto newIndex = [&] { return dir.filePath(QStringLiteral("index%1.sqlite3").arg(fileSerial++)); };
    QStringList files;
    for (int i = 0; i < 4 * (runs + 1); ++i) {
        const QString path = newIndex();
        db::Database schema(nullptr);
        if (!schema.open(path)) {
            std::fprintf(stderr, "%s\n", qPrintable(schema.lastError()));
            return 1;
        }
        files << path;
    }
    int next = 0;
    bool failed = false;

    const auto rawRun = [&](bool skipRepeated) {
        RawInserter inserter(files.at(next++));
        if (!inserter.ok()) {
            std::fprintf(stderr, "C API: %s\n", qPrintable(inserter.error()));
            failed = true;
            return;
        }
        for (int from = 0; from < n; from += batchSize) {
            inserter.exec("BEGIN;");
            for (int i = from; i < std::min(n, from + batchSize); ++i) {
                if (!inserter.insert(summaries[i], skipRepeated)) {
                    std::fprintf(stderr, "C API insert: %s\n", qPrintable(inserter.error()));
                    failed = true;
                    return;
                }
            }
            inserter.exec("COMMIT;");
        }
    };
    const auto raw = [&] { rawRun(false); };
    const auto rawSkipping = [&] { rawRun(true); };
    const auto batched = [&] {
        db::Database database(nullptr);
        if (!database.open(files.at(next++))) {
            failed = true;
            return;
        }
        for (int from = 0; from < n; from += batchSize) {
            const QVector<DicomFileSummary> chunk = summaries.mid(from, batchSize);
            if (database.insertSummaries(chunk) != chunk.size()) {
                std::fprintf(stderr, "batch insert: %s\n", qPrintable(database.lastError()));
                failed = true;
                return;
            }
        }
    };
    const auto single = [&] {
        db::Database database(nullptr);
        if (!database.open(files.at(next++))) {
            failed = true;
            return;
        }
        for (int i = 0; i < nSingle; ++i) {
            if (!database.insertSummary(summaries[i])) {
                std::fprintf(stderr, "single insert: %s\n", qPrintable(database.lastError()));
                failed = true;
                return;
            }
        }
    };
    const std::vector<velmaris::bench::Runs> timed = velmaris::bench::interleaved(runs, {raw, batched, single, rawSkipping});
    if (failed)
        return 1;

    const auto rate = [](int count, double ms) { return ms > 0 ? count * 1000.0 / ms : 0.0; };
    const double rawRate = rate(n, timed[0].median());
    const double batchRate = rate(n, timed[1].median());
    const double singleRate = rate(nSingle, timed[2].median());
    const double skippingRate = rate(n, timed[3].median());
    std::printf("bench_index_insert: summaries of single-frame CT slices, file index, journal_mode=DELETE, "
                "synchronous=NORMAL; median (min-max) of %d interleaved runs\n", runs);
    std::printf("  %-48s %6d  %-28s %9.0f /s\n", "reference: C API, transactions of 500", n,
                qPrintable(timed[0].text()), rawRate);
    std::printf("  %-48s %6d  %-28s %9.0f /s  %.3f x reference\n", "insertSummaries, transactions of 500", n,
                qPrintable(timed[1].text()), batchRate, batchRate / rawRate);
    std::printf("  %-48s %6d  %-28s %9.0f /s  %.5f x reference\n", "insertSummary, one by one (autocommit)",
                nSingle, qPrintable(timed[2].text()), singleRate, singleRate / rawRate);
    // The part Qt's SQL layer and the index code add to the same statements.
    std::printf("  %-48s %6d  %-28s %9.0f /s  insertSummaries at %.3f x this\n",
                "C API, repeated rows skipped as the index does", n, qPrintable(timed[3].text()), skippingRate,
                batchRate / skippingRate);
    velmaris::bench::tableRow(QStringLiteral("insertSummaries, %1 summaries").arg(n), timed[1],
                              QStringLiteral("SQLite C API, same batches"), timed[0], "ms",
                              batchRate / rawRate, QStringLiteral(">= 0.7 x the rate"), batchRate / rawRate >= 0.7);
    return 0;
}
