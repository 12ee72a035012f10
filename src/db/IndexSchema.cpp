#include "IndexSchema.h"

#include "TransactionGuard.h"

#include "dicom/DicomSummaryReader.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QSqlQuery>
#include <QStringList>

#include <sqlite3.h>

#include <array>
#include <optional>
#include <utility>

namespace db {

namespace sql {

const std::array<const char *, 7> kSchema = {
    "CREATE TABLE IF NOT EXISTS patients ("
    " patient_id TEXT PRIMARY KEY,"
    " patient_name TEXT,"
    " birth_date TEXT,"
    " sex TEXT,"
    " weight_kg REAL,"
    " height_cm REAL"
    ");",

    "CREATE TABLE IF NOT EXISTS studies ("
    " study_instance_uid TEXT PRIMARY KEY,"
    " patient_id TEXT REFERENCES patients(patient_id),"
    " study_date TEXT,"
    " study_time TEXT,"
    " study_description TEXT,"
    " accession_number TEXT,"
    " referring_physician TEXT,"
    " is_protected INTEGER DEFAULT 0,"
    " patient_name TEXT,"
    " birth_date TEXT,"
    " sex TEXT,"
    " series_count INTEGER NOT NULL DEFAULT 0,"
    " instance_count INTEGER NOT NULL DEFAULT 0,"
    " modalities TEXT"
    ");",

    "CREATE TABLE IF NOT EXISTS series ("
    " series_instance_uid TEXT PRIMARY KEY,"
    " study_instance_uid TEXT REFERENCES studies(study_instance_uid),"
    " series_number TEXT,"
    " series_description TEXT,"
    " modality TEXT,"
    " body_part_examined TEXT,"
    " laterality TEXT,"
    " instance_count INTEGER NOT NULL DEFAULT 0"
    ");",

    "CREATE TABLE IF NOT EXISTS instances ("
    " sop_instance_uid TEXT PRIMARY KEY,"
    " series_instance_uid TEXT REFERENCES series(series_instance_uid),"
    " instance_number INTEGER,"
    " rows INTEGER,"
    " columns INTEGER,"
    " number_of_frames INTEGER,"
    " pixel_spacing_x REAL,"
    " pixel_spacing_y REAL,"
    " slice_thickness REAL,"
    " slice_location REAL,"
    " window_center REAL,"
    " window_width REAL,"
    " rescale_slope REAL,"
    " rescale_intercept REAL,"
    " repetition_time REAL,"
    " echo_time REAL,"
    " image_position_x REAL,"
    " image_position_y REAL,"
    " image_position_z REAL,"
    " orientation_row_x REAL,"
    " orientation_row_y REAL,"
    " orientation_row_z REAL,"
    " orientation_col_x REAL,"
    " orientation_col_y REAL,"
    " orientation_col_z REAL,"
    " has_spatial_info INTEGER,"
    " frame_index INTEGER DEFAULT 0,"
    " acquisition_time_seconds REAL,"
    " temporal_position_index INTEGER DEFAULT 0,"
    " frame_of_reference_uid TEXT,"
    " trigger_time_ms REAL,"
    " cardiac_number_of_images INTEGER DEFAULT 0,"
    " file_path TEXT NOT NULL"
    ");",

    "CREATE INDEX IF NOT EXISTS idx_studies_patient ON studies(patient_id);",
    "CREATE INDEX IF NOT EXISTS idx_series_study ON series(study_instance_uid);",
    "CREATE INDEX IF NOT EXISTS idx_instances_series ON instances(series_instance_uid);",
};

// Indexes written by earlier versions lack these columns. Each statement
// fails harmlessly once its column exists, so all of them run on every open.
const std::array<const char *, 25> kMigrations = {
    "ALTER TABLE instances ADD COLUMN repetition_time REAL;",
    "ALTER TABLE instances ADD COLUMN echo_time REAL;",
    "ALTER TABLE instances ADD COLUMN image_position_x REAL;",
    "ALTER TABLE instances ADD COLUMN image_position_y REAL;",
    "ALTER TABLE instances ADD COLUMN image_position_z REAL;",
    "ALTER TABLE instances ADD COLUMN orientation_row_x REAL;",
    "ALTER TABLE instances ADD COLUMN orientation_row_y REAL;",
    "ALTER TABLE instances ADD COLUMN orientation_row_z REAL;",
    "ALTER TABLE instances ADD COLUMN orientation_col_x REAL;",
    "ALTER TABLE instances ADD COLUMN orientation_col_y REAL;",
    "ALTER TABLE instances ADD COLUMN orientation_col_z REAL;",
    "ALTER TABLE instances ADD COLUMN has_spatial_info INTEGER;",
    "ALTER TABLE studies ADD COLUMN is_protected INTEGER DEFAULT 0;",
    "ALTER TABLE series ADD COLUMN laterality TEXT;",
    "ALTER TABLE instances ADD COLUMN frame_index INTEGER DEFAULT 0;",
    "ALTER TABLE instances ADD COLUMN acquisition_time_seconds REAL;",
    "ALTER TABLE instances ADD COLUMN temporal_position_index INTEGER DEFAULT 0;",
    "ALTER TABLE instances ADD COLUMN frame_of_reference_uid TEXT;",
    "ALTER TABLE instances ADD COLUMN trigger_time_ms REAL;",
    "ALTER TABLE instances ADD COLUMN cardiac_number_of_images INTEGER DEFAULT 0;",
    "ALTER TABLE patients ADD COLUMN weight_kg REAL;",
    "ALTER TABLE patients ADD COLUMN height_cm REAL;",
    // What a study's own files say about its patient: different people may
    // share one Patient ID (anonymised sets, the empty ID, reused test IDs),
    // and the patients row keyed by that ID only keeps the last import's name.
    "ALTER TABLE studies ADD COLUMN patient_name TEXT;",
    "ALTER TABLE studies ADD COLUMN birth_date TEXT;",
    "ALTER TABLE studies ADD COLUMN sex TEXT;",
};

// The study list shows each study's series and instance counts and its
// modalities; working them out at every listing costs a range of the series
// and of the instances per study. They are kept with the rows instead: a
// series counts its instances rows, a study its series rows and their
// instances, with its series' modalities. Every batch of upserts works them
// out anew for the series and studies it touched (a handful per batch, each an
// index range), which keeps them exact whether a row was inserted or updated;
// a deleted study takes its rows and these with it.
const char kSeriesRecount[] =
    "UPDATE series SET instance_count = "
    "(SELECT COUNT(*) FROM instances i WHERE i.series_instance_uid = :series) "
    "WHERE series_instance_uid = :series;";
#define VELMARIS_STUDY_TOTALS                                                                                     \
    "series_count = (SELECT COUNT(*) FROM series se WHERE se.study_instance_uid = studies.study_instance_uid), "   \
    "instance_count = (SELECT COALESCE(SUM(se.instance_count), 0) FROM series se "                               \
    "WHERE se.study_instance_uid = studies.study_instance_uid), "                                                  \
    "modalities = (SELECT GROUP_CONCAT(DISTINCT se.modality) FROM series se "                                      \
    "WHERE se.study_instance_uid = studies.study_instance_uid)"
// The summary's study and the study the series belongs to (an existing series
// keeps its study whatever a later file says).
const char kStudyRecount[] =
    "UPDATE studies SET " VELMARIS_STUDY_TOTALS " "
    "WHERE study_instance_uid = :study "
    "OR study_instance_uid = (SELECT study_instance_uid FROM series WHERE series_instance_uid = :series);";

// An index written before these were kept gets the columns it lacks and the
// values for what it holds, in one transaction.
struct AddedColumn
{
    const char *table;
    const char *column;
    const char *statement;
};
const std::array<AddedColumn, 4> kTotalsColumns = {{
    {"studies", "series_count", "ALTER TABLE studies ADD COLUMN series_count INTEGER NOT NULL DEFAULT 0;"},
    {"studies", "instance_count", "ALTER TABLE studies ADD COLUMN instance_count INTEGER NOT NULL DEFAULT 0;"},
    {"studies", "modalities", "ALTER TABLE studies ADD COLUMN modalities TEXT;"},
    {"series", "instance_count", "ALTER TABLE series ADD COLUMN instance_count INTEGER NOT NULL DEFAULT 0;"},
}};
const std::array<const char *, 2> kTotalsFill = {
    "UPDATE series SET instance_count = "
    "(SELECT COUNT(*) FROM instances i WHERE i.series_instance_uid = series.series_instance_uid);",
    "UPDATE studies SET " VELMARIS_STUDY_TOTALS ";",
};
#undef VELMARIS_STUDY_TOTALS

const char kPatientUpsert[] =
    "INSERT INTO patients (patient_id, patient_name, birth_date, sex, weight_kg, height_cm) "
    "VALUES (:id, :name, :birth, :sex, :weight, :height) "
    "ON CONFLICT(patient_id) DO UPDATE SET "
    "patient_name = excluded.patient_name, "
    "birth_date   = excluded.birth_date, "
    "sex          = excluded.sex, "
    "weight_kg    = excluded.weight_kg, "
    "height_cm    = excluded.height_cm;";

const char kStudyUpsert[] =
    "INSERT INTO studies (study_instance_uid, patient_id, study_date, study_time, "
    "study_description, accession_number, referring_physician, patient_name, birth_date, sex) "
    "VALUES (:uid, :patient_id, :date, :time, :desc, :acc, :ref, :name, :birth, :sex) "
    "ON CONFLICT(study_instance_uid) DO UPDATE SET "
    "study_date          = excluded.study_date, "
    "study_time          = excluded.study_time, "
    "study_description   = excluded.study_description, "
    "accession_number    = excluded.accession_number, "
    "referring_physician = excluded.referring_physician, "
    "patient_name        = excluded.patient_name, "
    "birth_date          = excluded.birth_date, "
    "sex                 = excluded.sex;";

const char kSeriesUpsert[] =
    "INSERT INTO series (series_instance_uid, study_instance_uid, series_number, "
    "series_description, modality, body_part_examined, laterality) "
    "VALUES (:uid, :study_uid, :num, :desc, :modality, :body_part, :laterality) "
    "ON CONFLICT(series_instance_uid) DO UPDATE SET "
    "series_number      = excluded.series_number, "
    "series_description = excluded.series_description, "
    "modality           = excluded.modality, "
    "body_part_examined = excluded.body_part_examined, "
    "laterality         = excluded.laterality;";

const char kInstanceUpsert[] =
    "INSERT INTO instances (sop_instance_uid, series_instance_uid, instance_number, rows, columns, "
    "number_of_frames, pixel_spacing_x, pixel_spacing_y, slice_thickness, slice_location, "
    "window_center, window_width, rescale_slope, rescale_intercept, repetition_time, echo_time, "
    "image_position_x, image_position_y, image_position_z, "
    "orientation_row_x, orientation_row_y, orientation_row_z, "
    "orientation_col_x, orientation_col_y, orientation_col_z, has_spatial_info, "
    "frame_index, acquisition_time_seconds, temporal_position_index, frame_of_reference_uid, "
    "trigger_time_ms, cardiac_number_of_images, file_path) "
    "VALUES (:uid, :series_uid, :inum, :rows, :cols, :frames, :psx, :psy, :thick, :loc, :wc, :ww, "
    ":slope, :intercept, :tr, :te, :ipx, :ipy, :ipz, :orx, :ory, :orz, :ocx, :ocy, :ocz, "
    ":hasspatial, :frameidx, :acqtime, :temporalidx, :forUid, :triggertime, :cardiacnimages, :path) "
    "ON CONFLICT(sop_instance_uid) DO UPDATE SET "
    "file_path         = excluded.file_path, "
    "instance_number   = excluded.instance_number, "
    "window_center     = excluded.window_center, "
    "window_width      = excluded.window_width, "
    "slice_thickness   = excluded.slice_thickness, "
    "slice_location    = excluded.slice_location;";

} // namespace sql

using namespace sql;

namespace {

bool addTotals(QSqlDatabase &db, QString *error)
{
    QSet<QString> present; // "table.column"
    for (const char *table : {"studies", "series"}) {
        QSqlQuery columns(db);
        if (!columns.exec(QStringLiteral("PRAGMA table_info(%1);").arg(QLatin1String(table)))) {
            *error = columns.lastError().text();
            return false;
        }
        while (columns.next())
            present.insert(QLatin1String(table) + QLatin1Char('.') + columns.value(1).toString());
    }
    const auto run = [&db, error](const char *statement) {
        QSqlQuery q(db);
        if (q.exec(QString::fromLatin1(statement)))
            return true;
        *error = q.lastError().text();
        return false;
    };
    TransactionGuard transaction(db);
    bool added = false;
    for (const AddedColumn &column : kTotalsColumns) {
        if (present.contains(QLatin1String(column.table) + QLatin1Char('.') + QLatin1String(column.column)))
            continue;
        if (!run(column.statement))
            return false;
        added = true;
    }
    if (!added)
        return true;
    for (const char *statement : kTotalsFill) {
        if (!run(statement))
            return false;
    }
    return transaction.commit(error);
}

// Studies indexed before they kept their patient's name, birth date and sex
// get them from one of their own files. This runs once per index, not on every
// open: PRAGMA user_version records that it was done. Each study costs one
// header read (the summary reader stops before Pixel Data), and a file that
// cannot be read (a disc taken out, a folder moved) is not tried again at
// every start; such a study is filled at its next import and until then lists
// the patients row's values. Failures here leave the index as it was.
void fillStudyPatients(QSqlDatabase &db)
{
    constexpr int filledVersion = 1;
    {
        QSqlQuery version(db);
        if (!version.exec(QStringLiteral("PRAGMA user_version;")) || !version.next()
            || version.value(0).toInt() >= filledVersion)
            return;
    }

    QList<QPair<QString, QString>> unfilled; // study UID, one of its files
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral(
                "SELECT st.study_instance_uid, (SELECT i.file_path FROM instances i "
                "JOIN series se ON se.series_instance_uid = i.series_instance_uid "
                "WHERE se.study_instance_uid = st.study_instance_uid LIMIT 1) "
                "FROM studies st WHERE st.patient_name IS NULL;")))
            return;
        while (q.next())
            unfilled.append({q.value(0).toString(), q.value(1).toString()});
    }

    TransactionGuard transaction(db);
    QSqlQuery update(db);
    if (!update.prepare(QStringLiteral(
            "UPDATE studies SET patient_name = :name, birth_date = :birth, sex = :sex "
            "WHERE study_instance_uid = :uid;")))
        return;
    for (const auto &[studyUid, filePath] : std::as_const(unfilled)) {
        if (filePath.isEmpty())
            continue;
        const std::optional<dicom::DicomFileSummary> summary = dicom::readSummary(filePath);
        // A path now taken by another study's file says nothing about this one.
        if (!summary || summary->study_instance_uid != studyUid)
            continue;
        update.bindValue(QStringLiteral(":name"), sqlText(summary->patient_name));
        update.bindValue(QStringLiteral(":birth"), sqlText(summary->birth_date));
        update.bindValue(QStringLiteral(":sex"), sqlText(summary->sex));
        update.bindValue(QStringLiteral(":uid"), sqlText(studyUid));
        if (!update.exec())
            return;
    }
    QString ignored;
    if (!transaction.commit(&ignored))
        return;
    QSqlQuery done(db);
    done.exec(QStringLiteral("PRAGMA user_version = %1;").arg(filledVersion));
}

} // namespace

// What open() reads before it writes anything, so that a damaged file is
// refused as it is: no schema or migration statement, no repair and no
// journal ever reach it. First the schema (a foreign file or a damaged first
// page fails there), then SQLite's quick_check of the patients, studies and
// series tables with their indexes, and a walk over every page of the instances
// table, which tells a page of garbage or one past a cut-off end as any read
// would. quick_check over the whole file takes 1 to 2 s on an archive of
// 10,000 studies with 1,000,000 instance rows, nearly all of it in the
// instances table and its indexes; these reads take about a sixth of that
// (bench_list_studies). The two indexes of the instances table are not read
// here: damage in them comes out as the error of the first query or write
// that meets it.
bool IndexSchema::checkIntegrity(QSqlDatabase &db, QString *error)
{
    QSqlError failure;
    QStringList tables;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table';"))) {
            while (q.next())
                tables.append(q.value(0).toString());
        }
        failure = q.lastError();
    }

    // A table that is not there yet (a new index, or one whose first start
    // ended early) has nothing to check; open() creates it.
    struct Check
    {
        const char *table;
        const char *sql;
        bool verdict; // rows are quick_check's findings, "ok" when there are none
    };
    const Check checks[] = {
        {"patients", "PRAGMA quick_check(patients);", true},
        {"studies", "PRAGMA quick_check(studies);", true},
        {"series", "PRAGMA quick_check(series);", true},
        {"instances", "SELECT COUNT(*) FROM instances NOT INDEXED;", false},
    };
    QString finding;
    for (const Check &check : checks) {
        if (failure.isValid() || !finding.isEmpty())
            break;
        if (!tables.contains(QLatin1String(check.table), Qt::CaseInsensitive))
            continue;
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (q.exec(QString::fromLatin1(check.sql))) {
            while (q.next()) {
                const QString row = q.value(0).toString();
                // One finding is reason enough to refuse; a badly damaged file
                // would otherwise give a hundred lines to show.
                if (check.verdict && row != QLatin1String("ok") && finding.isEmpty())
                    finding = row;
            }
        }
        failure = q.lastError();
    }

    if (failure.isValid()) {
        // A busy index or an unreadable path is not damage and says so itself.
        const int code = failure.nativeErrorCode().toInt() & 0xff;
        if (code != SQLITE_CORRUPT && code != SQLITE_NOTADB) {
            *error = failure.text();
            return false;
        }
        finding = failure.databaseText();
    }
    if (finding.isEmpty())
        return true;
    *error = QStringLiteral("Индекс архива повреждён: %1").arg(finding);
    return false;
}

bool IndexSchema::apply(QSqlDatabase &db, QString *error)
{
    for (const char *pragma : {"PRAGMA journal_mode=DELETE;", "PRAGMA synchronous=NORMAL;",
                               "PRAGMA foreign_keys=ON;"}) {
        QSqlQuery q(db);
        q.exec(QString::fromLatin1(pragma));
    }

    QString schemaError;
    bool schemaOk = true;
    bool busy = false;
    for (const char *statement : kSchema) {
        QSqlQuery q(db);
        if (!q.exec(QString::fromLatin1(statement))) {
            schemaOk = false;
            schemaError = q.lastError().text();
            const int code = q.lastError().nativeErrorCode().toInt() & 0xff;
            busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
            break;
        }
    }

    // Against a database that another connection keeps locked every migration
    // would wait out the driver's busy timeout (5 s) only to fail as well; the
    // open has already failed, and the next open runs them again.
    if (!busy) {
        for (const char *migration : kMigrations) {
            QSqlQuery q(db);
            q.exec(QString::fromLatin1(migration));
        }
    }

    if (!schemaOk) {
        *error = schemaError;
        return false;
    }
    if (!addTotals(db, error))
        return false;
    fillStudyPatients(db);
    return true;
}

} // namespace db
