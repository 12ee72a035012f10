#include "db/Database.h"

#include "IndexSchema.h"
#include "TransactionGuard.h"

#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomText.h"

#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <utility>

namespace db {

using namespace sql;

namespace {

const QString kDriver = QStringLiteral("QSQLITE");
const QString kInMemory = QStringLiteral(":memory:");

// Whether the instances row `i` is one the viewer pages through. Objects without
// an image (structured reports, waveforms, encapsulated documents: neither
// Rows nor Columns) are left out of a series that also has images, so that
// its slice count and paging hold images only; a series made of such objects
// alone keeps them, so that it still opens and says what it holds.
const char kDisplayableRow[] =
    "(i.rows > 0 OR i.columns > 0 OR NOT EXISTS (SELECT 1 FROM instances j "
    "WHERE j.series_instance_uid = i.series_instance_uid AND (j.rows > 0 OR j.columns > 0)))";

// listStudies and listOtherStudiesOfPatient share this select list, FROM and JOIN.
// The patient's name, birth date and sex are the study's own; the patients row
// stands in only for a study indexed before those columns whose files could
// not be read since (see fillStudyPatients).
const char kStudySelect[] =
    "SELECT st.study_instance_uid, p.patient_id, COALESCE(st.patient_name, p.patient_name), "
    "COALESCE(st.birth_date, p.birth_date), COALESCE(st.sex, p.sex), "
    "p.weight_kg, st.study_date, st.study_time, st.study_description, st.accession_number, "
    "st.series_count, st.instance_count, st.is_protected, st.modalities "
    "FROM studies st LEFT JOIN patients p ON p.patient_id = st.patient_id ";

QString textAt(const QSqlQuery &query, int column)
{
    return query.value(column).toString();
}

StudyRecord readStudy(const QSqlQuery &q)
{
    StudyRecord r;
    r.study_instance_uid = textAt(q, 0);
    r.patient_id = textAt(q, 1);
    r.patient_name = textAt(q, 2);
    r.birth_date = textAt(q, 3);
    r.sex = textAt(q, 4);
    r.weight_kg = q.value(5).toDouble();
    r.study_date = textAt(q, 6);
    r.study_time = textAt(q, 7);
    r.study_description = textAt(q, 8);
    r.accession_number = textAt(q, 9);
    r.series_count = q.value(10).toInt();
    r.instance_count = q.value(11).toInt();
    r.is_protected = q.value(12).toInt() != 0;
    r.modalities = textAt(q, 13);
    return r;
}

QString notOpenMessage()
{
    return QStringLiteral("База данных не открыта");
}

} // namespace

struct Database::Private
{
    using Bindings = std::initializer_list<std::pair<QString, QVariant>>;

    QString connectionName;
    QString lastError;
    QSqlDatabase db;

    // Prepared once per open and reused: an import stores thousands of files,
    // and parsing the four statements anew for each of them is wasted work.
    std::optional<QSqlQuery> patientUpsert;
    std::optional<QSqlQuery> studyUpsert;
    std::optional<QSqlQuery> seriesUpsert;
    std::optional<QSqlQuery> instanceUpsert;
    std::optional<QSqlQuery> seriesRecount;
    std::optional<QSqlQuery> studyRecount;

    void dropStatements()
    {
        patientUpsert.reset();
        studyUpsert.reset();
        seriesUpsert.reset();
        instanceUpsert.reset();
        seriesRecount.reset();
        studyRecount.reset();
    }

    void closeConnection()
    {
        dropStatements();
        if (db.isValid()) {
            if (db.isOpen())
                db.close();
            db = QSqlDatabase();
        }
        if (QSqlDatabase::contains(connectionName))
            QSqlDatabase::removeDatabase(connectionName);
    }

    bool isOpen() const { return db.isValid() && db.isOpen(); }

    // Prepares on first use rather than in open(): a database that another
    // connection holds locked cannot even be prepared against.
    QSqlQuery *statement(std::optional<QSqlQuery> &slot, const char *sql, QString *error)
    {
        if (slot)
            return &*slot;
        QSqlQuery q(db);
        if (!q.prepare(QString::fromLatin1(sql))) {
            *error = q.lastError().text();
            return nullptr;
        }
        slot.emplace(std::move(q));
        return &*slot;
    }

    bool exec(QSqlQuery &q, QString *error)
    {
        if (q.exec())
            return true;
        *error = q.lastError().text();
        return false;
    }

    static void bind(QSqlQuery &q, Bindings bindings)
    {
        for (const auto &[name, value] : bindings)
            q.bindValue(name, value);
    }

    // Runs one of the cached upserts with the given values.
    bool upsert(std::optional<QSqlQuery> &slot, const char *sql, Bindings bindings, QString *error)
    {
        QSqlQuery *q = statement(slot, sql, error);
        if (!q)
            return false;
        bind(*q, bindings);
        return exec(*q, error);
    }

    // Runs sql on q, binding the named values first when there are any.
    // Leaves a failure's error in q for the caller to keep or to ignore.
    static bool execute(QSqlQuery &q, const QString &sql, Bindings bindings = {})
    {
        q.setForwardOnly(true);
        if (bindings.size() == 0)
            return q.exec(sql);
        if (!q.prepare(sql))
            return false;
        bind(q, bindings);
        return q.exec();
    }

    // Every read and every change outside the import goes through here, so
    // that a closed index and a failing statement are reported alike: the
    // text lands in lastError and the caller only has to give up.
    std::optional<QSqlQuery> query(const QString &sql, Bindings bindings = {})
    {
        if (!isOpen()) {
            lastError = notOpenMessage();
            return std::nullopt;
        }
        QSqlQuery q(db);
        if (!execute(q, sql, bindings)) {
            lastError = q.lastError().text();
            return std::nullopt;
        }
        return q;
    }

    // A statement can also fail after its first rows, on a damaged page
    // further on; what was read up to there is no answer, so the caller gets
    // nothing and the error.
    bool finished(const QSqlQuery &q)
    {
        if (!q.lastError().isValid())
            return true;
        lastError = q.lastError().text();
        return false;
    }

    QStringList readPaths(std::optional<QSqlQuery> &q);
    bool insertOne(const dicom::DicomFileSummary &s, QString *error);
    // The summary of the running batch whose patient, study and series rows
    // were written last. The slices of one series come one after another and
    // carry the same values for those rows, so their upserts would change
    // nothing; only the instance rows are written for them. Null outside a
    // batch and whenever the batch's transaction is lost.
    const dicom::DicomFileSummary *rowsWrittenFor = nullptr;
    // (study, series) of each summary an insert tried, stored or not: a
    // rejected instance still leaves its patient, study and series rows.
    using Touched = QSet<QPair<QString, QString>>;
    bool recount(const Touched &touched, QString *error);
    bool inTransaction() const;
};

bool Database::Private::recount(const Touched &touched, QString *error)
{
    QSet<QString> series;
    for (const auto &pair : touched)
        series.insert(pair.second);
    for (const QString &uid : std::as_const(series)) {
        if (!upsert(seriesRecount, kSeriesRecount, {{QStringLiteral(":series"), sqlText(uid)}}, error))
            return false;
    }
    for (const auto &[study, seriesUid] : touched) {
        if (!upsert(studyRecount, kStudyRecount,
                    {{QStringLiteral(":study"), sqlText(study)}, {QStringLiteral(":series"), sqlText(seriesUid)}}, error))
            return false;
    }
    return true;
}

namespace {

bool samePatient(const dicom::DicomFileSummary &a, const dicom::DicomFileSummary &b)
{
    return a.patient_id == b.patient_id && a.patient_name == b.patient_name && a.birth_date == b.birth_date
           && a.sex == b.sex && a.weight_kg == b.weight_kg && a.height_cm == b.height_cm;
}

bool sameStudy(const dicom::DicomFileSummary &a, const dicom::DicomFileSummary &b)
{
    return a.study_instance_uid == b.study_instance_uid && a.patient_id == b.patient_id
           && a.study_date == b.study_date && a.study_time == b.study_time
           && a.study_description == b.study_description && a.accession_number == b.accession_number
           && a.referring_physician == b.referring_physician && a.patient_name == b.patient_name
           && a.birth_date == b.birth_date && a.sex == b.sex;
}

bool sameSeries(const dicom::DicomFileSummary &a, const dicom::DicomFileSummary &b)
{
    return a.series_instance_uid == b.series_instance_uid && a.study_instance_uid == b.study_instance_uid
           && a.series_number == b.series_number && a.series_description == b.series_description
           && a.modality == b.modality && a.body_part_examined == b.body_part_examined
           && a.laterality == b.laterality;
}

} // namespace

bool Database::Private::insertOne(const dicom::DicomFileSummary &s, QString *error)
{
    const dicom::DicomFileSummary *written = std::exchange(rowsWrittenFor, nullptr);
    if (!(written && samePatient(*written, s))
        && !upsert(patientUpsert, kPatientUpsert,
                {{QStringLiteral(":id"), sqlText(s.patient_id)},
                 {QStringLiteral(":name"), sqlText(s.patient_name)},
                 {QStringLiteral(":birth"), sqlText(s.birth_date)},
                 {QStringLiteral(":sex"), sqlText(s.sex)},
                 {QStringLiteral(":weight"), s.weight_kg},
                 {QStringLiteral(":height"), s.height_cm}},
                error))
        return false;

    if (!(written && sameStudy(*written, s))
        && !upsert(studyUpsert, kStudyUpsert,
                {{QStringLiteral(":uid"), sqlText(s.study_instance_uid)},
                 {QStringLiteral(":patient_id"), sqlText(s.patient_id)},
                 {QStringLiteral(":date"), sqlText(s.study_date)},
                 {QStringLiteral(":time"), sqlText(s.study_time)},
                 {QStringLiteral(":desc"), sqlText(s.study_description)},
                 {QStringLiteral(":acc"), sqlText(s.accession_number)},
                 {QStringLiteral(":ref"), sqlText(s.referring_physician)},
                 {QStringLiteral(":name"), sqlText(s.patient_name)},
                 {QStringLiteral(":birth"), sqlText(s.birth_date)},
                 {QStringLiteral(":sex"), sqlText(s.sex)}},
                error))
        return false;

    if (!(written && sameSeries(*written, s))
        && !upsert(seriesUpsert, kSeriesUpsert,
                {{QStringLiteral(":uid"), sqlText(s.series_instance_uid)},
                 {QStringLiteral(":study_uid"), sqlText(s.study_instance_uid)},
                 {QStringLiteral(":num"), sqlText(s.series_number)},
                 {QStringLiteral(":desc"), sqlText(s.series_description)},
                 {QStringLiteral(":modality"), sqlText(s.modality)},
                 {QStringLiteral(":body_part"), sqlText(s.body_part_examined)},
                 {QStringLiteral(":laterality"), sqlText(s.laterality)}},
                error))
        return false;
    rowsWrittenFor = &s;

    QSqlQuery *q = statement(instanceUpsert, kInstanceUpsert, error);
    if (!q)
        return false;

    // file_path is the one text column that must stay NULL when missing: the
    // NOT NULL constraint then rejects a summary that names no file.
    const QVariant path = s.file_path.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                                                : QVariant(s.file_path);

    // Attributes shared by every frame of the file.
    bind(*q, {{QStringLiteral(":series_uid"), sqlText(s.series_instance_uid)},
              {QStringLiteral(":inum"), s.instance_number},
              {QStringLiteral(":rows"), s.rows},
              {QStringLiteral(":cols"), s.columns},
              {QStringLiteral(":frames"), s.number_of_frames},
              {QStringLiteral(":psx"), s.pixel_spacing_x},
              {QStringLiteral(":psy"), s.pixel_spacing_y},
              {QStringLiteral(":thick"), s.slice_thickness},
              {QStringLiteral(":wc"), s.window_center},
              {QStringLiteral(":ww"), s.window_width},
              {QStringLiteral(":slope"), s.rescale_slope},
              {QStringLiteral(":intercept"), s.rescale_intercept},
              {QStringLiteral(":tr"), s.repetition_time},
              {QStringLiteral(":te"), s.echo_time},
              {QStringLiteral(":orx"), s.image_orientation[0]},
              {QStringLiteral(":ory"), s.image_orientation[1]},
              {QStringLiteral(":orz"), s.image_orientation[2]},
              {QStringLiteral(":ocx"), s.image_orientation[3]},
              {QStringLiteral(":ocy"), s.image_orientation[4]},
              {QStringLiteral(":ocz"), s.image_orientation[5]},
              {QStringLiteral(":hasspatial"), s.has_spatial_info ? 1 : 0},
              {QStringLiteral(":acqtime"), s.acquisition_time_seconds},
              {QStringLiteral(":forUid"), sqlText(s.frame_of_reference_uid)},
              {QStringLiteral(":triggertime"), s.trigger_time_ms},
              {QStringLiteral(":cardiacnimages"), s.cardiac_number_of_images},
              {QStringLiteral(":path"), path}});

    const int frames = std::max(1, s.number_of_frames);
    const bool hasPerFramePositions = !s.per_frame_slice_positions.isEmpty();
    // The four position lists come with equal length; the shortest one bounds
    // the lookups all the same, so that a malformed summary cannot read past one.
    const qsizetype perFramePositions = std::min({s.per_frame_slice_positions.size(),
                                                  s.per_frame_position_x.size(),
                                                  s.per_frame_position_y.size(),
                                                  s.per_frame_position_z.size()});
    // Frames of a classic multi-frame file carry no positions of their own; they
    // are spread along the normal by the slice thickness (1 mm when unknown).
    const double step = s.slice_thickness > 0.0 ? s.slice_thickness : 1.0;

    for (int k = 0; k < frames; ++k) {
        const QString key = k == 0 ? s.sop_instance_uid
                                   : QStringLiteral("%1#f%2").arg(s.sop_instance_uid,
                                                                  QString::number(k));
        double location = s.slice_location;
        double x = s.image_position[0];
        double y = s.image_position[1];
        double z = s.image_position[2];
        if (hasPerFramePositions && k < perFramePositions) {
            location = s.per_frame_slice_positions[k];
            x = s.per_frame_position_x[k];
            y = s.per_frame_position_y[k];
            z = s.per_frame_position_z[k];
        } else if (!hasPerFramePositions && frames >= 2) {
            location = k * step;
            z += k * step;
        }
        const qint32 temporal = k < s.per_frame_temporal_indices.size()
                                    ? s.per_frame_temporal_indices[k]
                                    : s.temporal_position_index;

        bind(*q, {{QStringLiteral(":uid"), sqlText(key)},
                  {QStringLiteral(":loc"), location},
                  {QStringLiteral(":ipx"), x},
                  {QStringLiteral(":ipy"), y},
                  {QStringLiteral(":ipz"), z},
                  {QStringLiteral(":frameidx"), k},
                  {QStringLiteral(":temporalidx"), temporal}});
        if (!exec(*q, error))
            return false;
    }
    return true;
}

bool Database::Private::inTransaction() const
{
    // Qt offers no way to ask whether SQLite still holds the transaction open;
    // the driver's handle is the documented way to reach the engine itself.
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return true;
    sqlite3 *connection = *static_cast<sqlite3 *const *>(handle.constData());
    return connection && sqlite3_get_autocommit(connection) == 0;
}

Database::Database(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->connectionName = QStringLiteral("norvane_%1").arg(QUuid::createUuid().toString());
}

Database::~Database()
{
    d->closeConnection();
}

QString Database::lastError() const
{
    return d->lastError;
}

QString Database::connectionName() const
{
    return d->connectionName;
}

bool Database::open(const QString &path)
{
    // Opening again starts over on the new path with fresh statements.
    d->closeConnection();
    d->lastError.clear();

    // SQLite takes an empty file for an empty database, and the schema would
    // be laid into it. Only the file SQLite creates here is such an index; an
    // empty file found in place is someone else's, or what is left of a file
    // that lost its content, and it is left as it is.
    const bool onDisk = path != kInMemory;
    const QFileInfo before(path);
    if (onDisk && before.isFile() && before.size() == 0) {
        d->lastError = QStringLiteral("Файл индекса пуст (0 байт) и создан не программой: %1").arg(path);
        return false;
    }
    const bool creating = onDisk && !before.exists();
    // A file created here that never got its schema (the disk filled up, the
    // journal could not be written) goes again, or the next start would find
    // an empty file that it cannot tell from someone else's.
    const auto fail = [this, &path, creating](const QString &error) {
        d->closeConnection();
        d->lastError = error;
        if (creating && QFileInfo(path).isFile() && QFileInfo(path).size() == 0)
            QFile::remove(path);
        return false;
    };

    d->db = QSqlDatabase::addDatabase(kDriver, d->connectionName);
    d->db.setDatabaseName(path);
    if (!d->db.open())
        return fail(d->db.lastError().text());
    if (!IndexSchema::checkIntegrity(d->db, &d->lastError) || !IndexSchema::apply(d->db, &d->lastError))
        return fail(d->lastError);
    return true;
}

bool Database::insertSummary(const dicom::DicomFileSummary &summary)
{
    d->lastError.clear();
    if (!d->isOpen()) {
        d->lastError = notOpenMessage();
        return false;
    }
    QString error;
    const bool stored = d->insertOne(summary, &error);
    d->rowsWrittenFor = nullptr;
    QString countError;
    if (!d->recount({{summary.study_instance_uid, summary.series_instance_uid}}, &countError) && stored)
        error = countError;
    if (!error.isEmpty()) {
        d->lastError = error;
        return false;
    }
    return true;
}

int Database::insertSummaries(const QVector<dicom::DicomFileSummary> &summaries,
                              QVector<bool> *results, QStringList *errors)
{
    d->lastError.clear();
    const qsizetype n = summaries.size();
    QVector<bool> ok(n, false);
    QStringList messages;
    messages.reserve(n);
    for (qsizetype i = 0; i < n; ++i)
        messages.append(QString());

    const auto insert = [&](qsizetype i) {
        QString error;
        ok[i] = d->insertOne(summaries[i], &error);
        messages[i] = ok[i] ? QString() : error;
    };

    if (!d->isOpen()) {
        for (QString &m : messages)
            m = notOpenMessage();
    } else {
        // Without a transaction (BEGIN failed) every statement commits by itself:
        // slower, but the outcome is the same.
        TransactionGuard transaction(d->db);
        // Summaries stored since BEGIN: they go if SQLite drops the transaction.
        QVector<qsizetype> sinceBegin;
        for (qsizetype i = 0; i < n; ++i) {
            insert(i);
            if (!transaction.active())
                continue;
            if (ok[i]) {
                sinceBegin.append(i);
                continue;
            }
            // A rejected statement alone is undone by SQLite and the batch goes
            // on just as single inserts would. Some errors (disk full, I/O)
            // roll back the whole transaction instead; the lost summaries are
            // then replayed one statement at a time, as single inserts would
            // have stored them, and the rest of the batch goes on that way.
            if (!d->inTransaction()) {
                transaction.forget();
                d->rowsWrittenFor = nullptr; // rolled back with the rest

                for (qsizetype j : std::as_const(sinceBegin))
                    insert(j);
                sinceBegin.clear();
                insert(i);
            }
        }
        Private::Touched touched;
        for (const dicom::DicomFileSummary &summary : summaries)
            touched.insert({summary.study_instance_uid, summary.series_instance_uid});
        // Counts that could not be kept would leave the list wrong: the batch
        // then goes as a whole (the guard rolls it back), as after a failed
        // commit.
        QString commitError;
        const bool counted = d->recount(touched, &commitError);
        if (!counted || !transaction.commit(&commitError)) {
            for (qsizetype j : std::as_const(sinceBegin)) {
                ok[j] = false;
                messages[j] = commitError;
            }
        }
    }

    d->rowsWrittenFor = nullptr;

    // As after single inserts, the last failure is the one to report.
    for (qsizetype i = n - 1; i >= 0; --i) {
        if (!ok[i]) {
            d->lastError = messages[i];
            break;
        }
    }

    if (results)
        *results = ok;
    if (errors)
        *errors = messages;
    return int(std::count(ok.cbegin(), ok.cend(), true));
}

QList<StudyRecord> Database::listStudies()
{
    d->lastError.clear();
    QList<StudyRecord> out;
    std::optional<QSqlQuery> q = d->query(QString::fromLatin1(kStudySelect)
                                          % QLatin1String("ORDER BY st.study_date ASC, st.study_time ASC;"));
    if (!q)
        return out;
    while (q->next())
        out.append(readStudy(*q));
    return d->finished(*q) ? out : QList<StudyRecord>();
}

QList<StudyRecord> Database::listOtherStudiesOfPatient(const QString &patientId,
                                                       const QString &excludeStudyUid,
                                                       const QString &patientName)
{
    d->lastError.clear();
    QList<StudyRecord> out;
    std::optional<QSqlQuery> q = d->query(
        QString::fromLatin1(kStudySelect)
            % QLatin1String("WHERE st.patient_id = :pid AND st.study_instance_uid != :exclude "
                            "ORDER BY st.study_date DESC, st.study_time DESC;"),
        {{QStringLiteral(":pid"), sqlText(patientId)}, {QStringLiteral(":exclude"), sqlText(excludeStudyUid)}});
    if (!q)
        return out;
    // One Patient ID may stand for several people; a name tells them apart,
    // however its components were spaced or cased in each study's files.
    const QString name = dicom::normalizedPersonName(patientName);
    while (q->next()) {
        StudyRecord study = readStudy(*q);
        if (name.isEmpty() || dicom::normalizedPersonName(study.patient_name) == name)
            out.append(std::move(study));
    }
    return d->finished(*q) ? out : QList<StudyRecord>();
}

QList<SeriesRecord> Database::listSeries(const QString &studyUid)
{
    d->lastError.clear();
    QList<SeriesRecord> out;
    std::optional<QSqlQuery> q = d->query(
        QStringLiteral(
            "SELECT se.series_instance_uid, se.study_instance_uid, se.modality, "
            "se.series_description, se.series_number, "
            "(SELECT COUNT(*) FROM instances i WHERE i.series_instance_uid = se.series_instance_uid AND %1), "
            "se.body_part_examined, se.laterality "
            "FROM series se WHERE se.study_instance_uid = :uid "
            "ORDER BY CAST(se.series_number AS INTEGER);")
            .arg(QLatin1String(kDisplayableRow)),
        {{QStringLiteral(":uid"), sqlText(studyUid)}});
    if (!q)
        return out;
    while (q->next()) {
        SeriesRecord r;
        r.series_instance_uid = textAt(*q, 0);
        r.study_instance_uid = textAt(*q, 1);
        r.modality = textAt(*q, 2);
        r.series_description = textAt(*q, 3);
        r.series_number = textAt(*q, 4);
        r.instance_count = q->value(5).toInt();
        r.body_part_examined = textAt(*q, 6);
        r.laterality = textAt(*q, 7);
        out.append(r);
    }
    return d->finished(*q) ? out : QList<SeriesRecord>();
}

QList<SliceRef> Database::listInstances(const QString &seriesUid)
{
    d->lastError.clear();
    QList<SliceRef> out;
    std::optional<QSqlQuery> q = d->query(
        QStringLiteral(
            "SELECT file_path, instance_number, pixel_spacing_x, pixel_spacing_y, slice_thickness, "
            "slice_location, repetition_time, echo_time, image_position_x, image_position_y, "
            "image_position_z, orientation_row_x, orientation_row_y, orientation_row_z, "
            "orientation_col_x, orientation_col_y, orientation_col_z, has_spatial_info, frame_index, "
            "acquisition_time_seconds, temporal_position_index, frame_of_reference_uid, "
            "trigger_time_ms, cardiac_number_of_images "
            "FROM instances i WHERE series_instance_uid = :uid AND %1 ORDER BY instance_number ASC;")
            .arg(QLatin1String(kDisplayableRow)),
        {{QStringLiteral(":uid"), sqlText(seriesUid)}});
    if (!q)
        return out;
    // Rows from earlier versions have NULL in the timing columns; for those two
    // NULL means "not known", which the viewer tells apart from zero.
    const auto orMinusOne = [&q](int column) {
        const QVariant v = q->value(column);
        return v.isNull() ? -1.0 : v.toDouble();
    };
    while (q->next()) {
        SliceRef r;
        r.file_path = textAt(*q, 0);
        r.instance_number = q->value(1).toInt();
        r.pixel_spacing_x = q->value(2).toDouble();
        r.pixel_spacing_y = q->value(3).toDouble();
        r.slice_thickness = q->value(4).toDouble();
        r.slice_location = q->value(5).toDouble();
        r.repetition_time = q->value(6).toDouble();
        r.echo_time = q->value(7).toDouble();
        r.image_position_x = q->value(8).toDouble();
        r.image_position_y = q->value(9).toDouble();
        r.image_position_z = q->value(10).toDouble();
        r.orientation_row_x = q->value(11).toDouble();
        r.orientation_row_y = q->value(12).toDouble();
        r.orientation_row_z = q->value(13).toDouble();
        r.orientation_col_x = q->value(14).toDouble();
        r.orientation_col_y = q->value(15).toDouble();
        r.orientation_col_z = q->value(16).toDouble();
        r.has_spatial_info = q->value(17).toLongLong() != 0;
        r.frame_index = q->value(18).toInt();
        r.acquisition_time_seconds = orMinusOne(19);
        r.temporal_position_index = q->value(20).toInt();
        r.frame_of_reference_uid = textAt(*q, 21);
        r.trigger_time_ms = orMinusOne(22);
        r.cardiac_number_of_images = q->value(23).toInt();
        out.append(r);
    }
    return d->finished(*q) ? out : QList<SliceRef>();
}

QStringList Database::Private::readPaths(std::optional<QSqlQuery> &q)
{
    QStringList out;
    if (!q)
        return out;
    while (q->next())
        out.append(q->value(0).toString());
    return finished(*q) ? out : QStringList();
}

QStringList Database::studyFilePaths(const QString &studyUid)
{
    d->lastError.clear();
    std::optional<QSqlQuery> q = d->query(
        QStringLiteral("SELECT DISTINCT i.file_path FROM instances i "
                       "JOIN series se ON se.series_instance_uid = i.series_instance_uid "
                       "WHERE se.study_instance_uid = :uid;"),
        {{QStringLiteral(":uid"), sqlText(studyUid)}});
    return d->readPaths(q);
}

QStringList Database::allFilePaths()
{
    d->lastError.clear();
    std::optional<QSqlQuery> q = d->query(QStringLiteral("SELECT DISTINCT file_path FROM instances;"));
    return d->readPaths(q);
}

bool Database::studyExists(const QString &studyUid)
{
    d->lastError.clear();
    std::optional<QSqlQuery> q = d->query(
        QStringLiteral("SELECT 1 FROM studies WHERE study_instance_uid = :uid LIMIT 1"),
        {{QStringLiteral(":uid"), sqlText(studyUid)}});
    if (!q)
        return false;
    if (q->next())
        return true;
    d->finished(*q);
    return false;
}

QString Database::studyOfInstance(const QString &sopInstanceUid)
{
    d->lastError.clear();
    std::optional<QSqlQuery> q = d->query(
        QStringLiteral("SELECT s.study_instance_uid FROM instances i "
                       "JOIN series s ON s.series_instance_uid = i.series_instance_uid "
                       "WHERE i.sop_instance_uid = :uid LIMIT 1"),
        {{QStringLiteral(":uid"), sqlText(sopInstanceUid)}});
    if (!q)
        return {};
    if (q->next())
        return q->value(0).toString();
    d->finished(*q);
    return {};
}

bool Database::setStudyProtected(const QString &studyUid, bool isProtected)
{
    d->lastError.clear();
    return d->query(QStringLiteral(
                        "UPDATE studies SET is_protected = :prot WHERE study_instance_uid = :uid;"),
                    {{QStringLiteral(":prot"), isProtected ? 1 : 0},
                     {QStringLiteral(":uid"), sqlText(studyUid)}})
        .has_value();
}

std::optional<PatientInfo> Database::patientInfoForStudy(const QString &studyUid)
{
    d->lastError.clear();
    std::optional<QSqlQuery> q = d->query(
        QStringLiteral("SELECT COALESCE(st.sex, p.sex), p.weight_kg, p.height_cm FROM studies st "
                       "JOIN patients p ON p.patient_id = st.patient_id "
                       "WHERE st.study_instance_uid = :uid LIMIT 1"),
        {{QStringLiteral(":uid"), sqlText(studyUid)}});
    if (!q)
        return std::nullopt;
    if (!q->next()) {
        d->finished(*q);
        return std::nullopt;
    }
    PatientInfo info;
    info.sex = textAt(*q, 0);
    info.weight_kg = q->value(1).toDouble();
    info.height_cm = q->value(2).toDouble();
    return info;
}

bool Database::deleteStudy(const QString &studyUid)
{
    d->lastError.clear();
    const QVariant uid = sqlText(studyUid);

    QVariant patientId;
    {
        std::optional<QSqlQuery> q = d->query(
            QStringLiteral("SELECT patient_id FROM studies WHERE study_instance_uid = :uid;"),
            {{QStringLiteral(":uid"), uid}});
        if (!q)
            return false;
        if (!q->next()) {
            if (d->finished(*q))
                d->lastError = QStringLiteral("Исследование не найдено в базе: %1").arg(studyUid);
            return false;
        }
        patientId = q->value(0);
    }

    for (const char *sql :
         {"DELETE FROM instances WHERE series_instance_uid IN "
          "(SELECT series_instance_uid FROM series WHERE study_instance_uid = :uid);",
          "DELETE FROM series WHERE study_instance_uid = :uid;",
          "DELETE FROM studies WHERE study_instance_uid = :uid;"}) {
        if (!d->query(QString::fromLatin1(sql), {{QStringLiteral(":uid"), uid}}))
            return false;
    }

    // The patient row goes with its last study. The study itself is gone by
    // now, so a failure here is not the caller's error: at worst a patient
    // without studies is left behind, and it is not reported.
    QSqlQuery count(d->db);
    if (Private::execute(count, QStringLiteral("SELECT COUNT(*) FROM studies WHERE patient_id = :pid;"),
                         {{QStringLiteral(":pid"), patientId}})
        && count.next() && count.value(0).toLongLong() == 0) {
        count.finish();
        QSqlQuery remove(d->db);
        Private::execute(remove, QStringLiteral("DELETE FROM patients WHERE patient_id = :pid;"),
                         {{QStringLiteral(":pid"), patientId}});
    }
    return true;
}

ArchiveStatistics Database::statistics()
{
    // On a closed index every query below fails alike and leaves the not-open
    // message; the statistics then stay at zero and empty.
    d->lastError.clear();
    ArchiveStatistics stats;
    const auto count = [this](const char *sql) -> qint32 {
        std::optional<QSqlQuery> q = d->query(QString::fromLatin1(sql));
        if (!q)
            return 0;
        if (!q->next()) {
            d->finished(*q);
            return 0;
        }
        return q->value(0).toInt();
    };
    const auto pairs = [this](const char *sql) {
        QList<QPair<QString, qint32>> out;
        std::optional<QSqlQuery> q = d->query(QString::fromLatin1(sql));
        if (!q)
            return out;
        while (q->next())
            out.append({q->value(0).toString(), q->value(1).toInt()});
        return d->finished(*q) ? out : QList<QPair<QString, qint32>>();
    };

    stats.patients = count("SELECT COUNT(*) FROM patients;");
    stats.studies = count("SELECT COUNT(*) FROM studies;");
    stats.series = count("SELECT COUNT(*) FROM series;");
    stats.instances = count("SELECT COUNT(*) FROM instances;");
    stats.studiesPerModality = pairs(
        "SELECT COALESCE(NULLIF(modality, ''), '?') AS m, COUNT(DISTINCT study_instance_uid) "
        "FROM series GROUP BY m ORDER BY 2 DESC;");
    stats.instancesPerModality = pairs(
        "SELECT COALESCE(NULLIF(se.modality, ''), '?') AS m, COUNT(*) FROM instances i "
        "JOIN series se ON se.series_instance_uid = i.series_instance_uid "
        "GROUP BY m ORDER BY 2 DESC;");
    stats.studiesPerMonth = pairs(
        "SELECT substr(study_date, 1, 6) AS ym, COUNT(*) FROM studies "
        "WHERE length(study_date) >= 6 GROUP BY ym ORDER BY ym;");
    stats.studiesPerDay = pairs(
        "SELECT substr(study_date, 1, 8) AS d, COUNT(*) FROM studies "
        "WHERE length(study_date) >= 8 GROUP BY d ORDER BY d;");
    return stats;
}

} // namespace db
