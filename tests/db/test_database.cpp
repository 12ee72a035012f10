#include "db/Database.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <algorithm>
#include <functional>

using dicom::DicomFileSummary;

namespace {

// A second connection of our own to look at (and prepare) index files behind
// the back of db::Database.
class RawConnection
{
public:
    explicit RawConnection(const QString &path, int busyTimeoutMs = 5000)
        : m_name(QStringLiteral("raw_%1").arg(QUuid::createUuid().toString()))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        m_open = db.open();
    }
    ~RawConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    bool isOpen() const { return m_open; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    bool exec(const QString &sql, QString *error = nullptr) const
    {
        QSqlQuery q(db());
        if (q.exec(sql))
            return true;
        if (error)
            *error = q.lastError().text();
        return false;
    }

    QVariant scalar(const QString &sql, const QVariantMap &binds = {}) const
    {
        QSqlQuery q(db());
        if (!q.prepare(sql))
            return QVariant();
        for (auto it = binds.cbegin(); it != binds.cend(); ++it)
            q.bindValue(it.key(), it.value());
        if (!q.exec() || !q.next())
            return QVariant();
        return q.value(0);
    }

    QStringList columns(const QString &table) const
    {
        QStringList out;
        QSqlQuery q(db());
        q.exec(QStringLiteral("PRAGMA table_info(%1);").arg(table));
        while (q.next())
            out.append(q.value(1).toString());
        return out;
    }

    // Every row of a table, one string per row with each value's storage class,
    // in key order, so that two indexes can be compared whole.
    QStringList dump(const QString &table, const QString &key) const
    {
        QStringList out;
        QSqlQuery q(db());
        q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY %2;").arg(table, key));
        while (q.next()) {
            QStringList cells;
            const QSqlRecord rec = q.record();
            for (int i = 0; i < rec.count(); ++i) {
                const QVariant v = q.value(i);
                cells.append(v.isNull() ? QStringLiteral("NULL")
                                        : QStringLiteral("%1:%2").arg(QString::fromLatin1(v.typeName()),
                                                                      v.toString()));
            }
            out.append(cells.join(QLatin1Char('|')));
        }
        return out;
    }

    QStringList dumpAll() const
    {
        QStringList out;
        QSqlQuery q(db());
        q.exec(QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;"));
        while (q.next())
            out.append(QStringLiteral("%1 %2 %3 %4").arg(q.value(0).toString(), q.value(1).toString(),
                                                         q.value(2).toString(), q.value(3).toString()));
        out += dump(QStringLiteral("patients"), QStringLiteral("patient_id"));
        out += dump(QStringLiteral("studies"), QStringLiteral("study_instance_uid"));
        out += dump(QStringLiteral("series"), QStringLiteral("series_instance_uid"));
        out += dump(QStringLiteral("instances"), QStringLiteral("sop_instance_uid"));
        return out;
    }

private:
    QString m_name;
    bool m_open = false;
};

// One slice of an ordinary chest CT.
DicomFileSummary ctSummary(const QString &patientId, const QString &studyUid, const QString &seriesUid,
                           const QString &sopUid, int instanceNumber, const QString &filePath)
{
    DicomFileSummary s;
    s.patient_id = patientId;
    s.patient_name = QStringLiteral("Иванов^Иван^Петрович");
    s.birth_date = QStringLiteral("19620314");
    s.sex = QStringLiteral("M");
    s.weight_kg = 82.5;
    s.height_cm = 176.0;
    s.study_instance_uid = studyUid;
    s.study_date = QStringLiteral("20240115");
    s.study_time = QStringLiteral("101530");
    s.study_description = QStringLiteral("КТ органов грудной клетки");
    s.accession_number = QStringLiteral("A20240115-07");
    s.referring_physician = QStringLiteral("Петрова^А^В");
    s.series_instance_uid = seriesUid;
    s.series_number = QStringLiteral("2");
    s.series_description = QStringLiteral("Lung 1.25mm");
    s.modality = QStringLiteral("CT");
    s.body_part_examined = QStringLiteral("CHEST");
    s.sop_instance_uid = sopUid;
    s.instance_number = instanceNumber;
    s.rows = 512;
    s.columns = 512;
    s.number_of_frames = 1;
    s.pixel_spacing_x = 0.703125;
    s.pixel_spacing_y = 0.703125;
    s.slice_thickness = 1.25;
    s.slice_location = -1.25 * instanceNumber;
    s.window_center = -600.0;
    s.window_width = 1500.0;
    s.rescale_slope = 1.0;
    s.rescale_intercept = -1024.0;
    s.acquisition_time_seconds = 36930.25;
    s.frame_of_reference_uid = QStringLiteral("1.2.826.0.1.3680043.2.1125.1.77");
    s.image_position = {-180.0, -180.0, -1.25 * instanceNumber};
    s.image_orientation = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};
    s.has_spatial_info = true;
    s.file_path = filePath;
    return s;
}

DicomFileSummary ctSummary(const QString &sopUid, const QString &filePath)
{
    return ctSummary(QStringLiteral("PAT-1"), QStringLiteral("1.2.3.100"), QStringLiteral("1.2.3.100.1"),
                     sopUid, 1, filePath);
}

QStringList modalitySet(const QString &groupConcat)
{
    QStringList parts = groupConcat.split(QLatin1Char(','), Qt::SkipEmptyParts);
    parts.sort();
    return parts;
}

QList<db::SliceRef> byFrame(QList<db::SliceRef> refs)
{
    std::sort(refs.begin(), refs.end(),
              [](const db::SliceRef &a, const db::SliceRef &b) { return a.frame_index < b.frame_index; });
    return refs;
}

void setField(DicomFileSummary &s, const QString &column, const QVariant &value)
{
    static const QHash<QString, std::function<void(DicomFileSummary &, const QVariant &)>> setters = {
        {QStringLiteral("file_path"), [](auto &x, const QVariant &v) { x.file_path = v.toString(); }},
        {QStringLiteral("instance_number"), [](auto &x, const QVariant &v) { x.instance_number = v.toInt(); }},
        {QStringLiteral("window_center"), [](auto &x, const QVariant &v) { x.window_center = v.toDouble(); }},
        {QStringLiteral("window_width"), [](auto &x, const QVariant &v) { x.window_width = v.toDouble(); }},
        {QStringLiteral("slice_thickness"), [](auto &x, const QVariant &v) { x.slice_thickness = v.toDouble(); }},
        {QStringLiteral("slice_location"), [](auto &x, const QVariant &v) { x.slice_location = v.toDouble(); }},
        {QStringLiteral("image_position_z"), [](auto &x, const QVariant &v) { x.image_position[2] = v.toDouble(); }},
        {QStringLiteral("rows"), [](auto &x, const QVariant &v) { x.rows = v.toInt(); }},
        {QStringLiteral("pixel_spacing_x"), [](auto &x, const QVariant &v) { x.pixel_spacing_x = v.toDouble(); }},
        {QStringLiteral("rescale_intercept"), [](auto &x, const QVariant &v) { x.rescale_intercept = v.toDouble(); }},
        {QStringLiteral("acquisition_time_seconds"),
         [](auto &x, const QVariant &v) { x.acquisition_time_seconds = v.toDouble(); }},
        {QStringLiteral("frame_of_reference_uid"),
         [](auto &x, const QVariant &v) { x.frame_of_reference_uid = v.toString(); }},
        {QStringLiteral("patient_name"), [](auto &x, const QVariant &v) { x.patient_name = v.toString(); }},
        {QStringLiteral("weight_kg"), [](auto &x, const QVariant &v) { x.weight_kg = v.toDouble(); }},
        {QStringLiteral("patient_id"), [](auto &x, const QVariant &v) { x.patient_id = v.toString(); }},
        {QStringLiteral("study_description"), [](auto &x, const QVariant &v) { x.study_description = v.toString(); }},
        {QStringLiteral("referring_physician"),
         [](auto &x, const QVariant &v) { x.referring_physician = v.toString(); }},
        {QStringLiteral("series_description"), [](auto &x, const QVariant &v) { x.series_description = v.toString(); }},
        {QStringLiteral("laterality"), [](auto &x, const QVariant &v) { x.laterality = v.toString(); }},
    };
    QVERIFY2(setters.contains(column), qPrintable(column));
    setters.value(column)(s, value);
}

// The tables of the first released index, before any of the later columns.
const QStringList kFirstVersionSchema = {
    QStringLiteral("CREATE TABLE patients (patient_id TEXT PRIMARY KEY, patient_name TEXT, birth_date TEXT, sex TEXT);"),
    QStringLiteral("CREATE TABLE studies (study_instance_uid TEXT PRIMARY KEY, patient_id TEXT REFERENCES patients(patient_id), "
                   "study_date TEXT, study_time TEXT, study_description TEXT, accession_number TEXT, referring_physician TEXT);"),
    QStringLiteral("CREATE TABLE series (series_instance_uid TEXT PRIMARY KEY, study_instance_uid TEXT REFERENCES studies(study_instance_uid), "
                   "series_number TEXT, series_description TEXT, modality TEXT, body_part_examined TEXT);"),
    QStringLiteral("CREATE TABLE instances (sop_instance_uid TEXT PRIMARY KEY, series_instance_uid TEXT REFERENCES series(series_instance_uid), "
                   "instance_number INTEGER, rows INTEGER, columns INTEGER, number_of_frames INTEGER, pixel_spacing_x REAL, "
                   "pixel_spacing_y REAL, slice_thickness REAL, slice_location REAL, window_center REAL, window_width REAL, "
                   "rescale_slope REAL, rescale_intercept REAL, file_path TEXT NOT NULL);"),
};

// A later index: geometry, protection and laterality present; frames, timing
// and body measurements not yet.
const QStringList kGeometryVersionSchema = {
    QStringLiteral("CREATE TABLE patients (patient_id TEXT PRIMARY KEY, patient_name TEXT, birth_date TEXT, sex TEXT);"),
    QStringLiteral("CREATE TABLE studies (study_instance_uid TEXT PRIMARY KEY, patient_id TEXT REFERENCES patients(patient_id), "
                   "study_date TEXT, study_time TEXT, study_description TEXT, accession_number TEXT, referring_physician TEXT, "
                   "is_protected INTEGER DEFAULT 0);"),
    QStringLiteral("CREATE TABLE series (series_instance_uid TEXT PRIMARY KEY, study_instance_uid TEXT REFERENCES studies(study_instance_uid), "
                   "series_number TEXT, series_description TEXT, modality TEXT, body_part_examined TEXT, laterality TEXT);"),
    QStringLiteral("CREATE TABLE instances (sop_instance_uid TEXT PRIMARY KEY, series_instance_uid TEXT REFERENCES series(series_instance_uid), "
                   "instance_number INTEGER, rows INTEGER, columns INTEGER, number_of_frames INTEGER, pixel_spacing_x REAL, "
                   "pixel_spacing_y REAL, slice_thickness REAL, slice_location REAL, window_center REAL, window_width REAL, "
                   "rescale_slope REAL, rescale_intercept REAL, repetition_time REAL, echo_time REAL, image_position_x REAL, "
                   "image_position_y REAL, image_position_z REAL, orientation_row_x REAL, orientation_row_y REAL, "
                   "orientation_row_z REAL, orientation_col_x REAL, orientation_col_y REAL, orientation_col_z REAL, "
                   "has_spatial_info INTEGER, file_path TEXT NOT NULL);"),
};

const QStringList kOldRows = {
    QStringLiteral("INSERT INTO patients (patient_id, patient_name, birth_date, sex) VALUES ('OLD-1', 'Сидоров^Олег', '19500101', 'M');"),
    QStringLiteral("INSERT INTO studies (study_instance_uid, patient_id, study_date, study_time, study_description) "
                   "VALUES ('9.9.1', 'OLD-1', '20150610', '083000', 'Old study');"),
    QStringLiteral("INSERT INTO series (series_instance_uid, study_instance_uid, series_number, series_description, modality) "
                   "VALUES ('9.9.1.1', '9.9.1', '3', 'Old series', 'MR');"),
    QStringLiteral("INSERT INTO instances (sop_instance_uid, series_instance_uid, instance_number, rows, columns, number_of_frames, "
                   "pixel_spacing_x, slice_thickness, slice_location, file_path) "
                   "VALUES ('9.9.1.1.1', '9.9.1.1', 4, 256, 256, 1, 0.9, 5.0, 12.5, '/archive/old/IM4');"),
};

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void connectionLifecycle();
    void pragmasOnOpen_data();
    void pragmasOnOpen();
    void openPaths_data();
    void openPaths();
    void badIndexFiles_data();
    void badIndexFiles();
    void lockedIndex();
    void operationsBeforeOpen();

    void migrationFromOlderIndex_data();
    void migrationFromOlderIndex();

    void reimportUpdatesOnlyNamedColumns_data();
    void reimportUpdatesOnlyNamedColumns();
    void reimportMultiFrameKeepsOneRowPerFrame();
    void multiFrameRows_data();
    void multiFrameRows();
    void enhancedPerFrameValues_data();
    void enhancedPerFrameValues();
    void rejectedSummary_data();
    void rejectedSummary();
    void patientWithoutId_data();
    void patientWithoutId();

    void listStudiesCountsAndOrder();
    void listOtherStudiesOfPatient_data();
    void listOtherStudiesOfPatient();
    void seriesOrder_data();
    void seriesOrder();
    void sliceRefStoredValues_data();
    void sliceRefStoredValues();
    void filePathsAndExistence();
    void patientInfoForStudy_data();
    void patientInfoForStudy();
    void protectedFlag_data();
    void protectedFlag();

    void deleteStudy_data();
    void deleteStudy();

    void statisticsOnEmptyIndex();
    void statisticsCounts();

    void batchMatchesSingleInserts_data();
    void batchMatchesSingleInserts();
    void batchOnFullDisk();
};

void TestDatabase::connectionLifecycle()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QObject owner;
    auto *first = new db::Database(&owner);
    auto *second = new db::Database(&owner);
    const QString firstName = first->connectionName();
    const QString secondName = second->connectionName();
    QVERIFY(firstName != secondName);
    for (const QString &name : {firstName, secondName}) {
        QVERIFY2(name.startsWith(QLatin1String("norvane_{")), qPrintable(name));
        QVERIFY2(!QUuid::fromString(name.mid(8)).isNull(), qPrintable(name));
    }

    QVERIFY2(first->open(dir.filePath(QStringLiteral("a.sqlite3"))), qPrintable(first->lastError()));
    QVERIFY2(second->open(dir.filePath(QStringLiteral("b.sqlite3"))), qPrintable(second->lastError()));
    QVERIFY(QSqlDatabase::contains(firstName));
    QVERIFY(second->insertSummary(ctSummary(QStringLiteral("1.1"), QStringLiteral("/x/1"))));
    QVERIFY(first->insertSummary(ctSummary(QStringLiteral("2.2"), QStringLiteral("/x/2"))));

    delete first;
    QVERIFY(!QSqlDatabase::contains(firstName));
    QVERIFY(QSqlDatabase::contains(secondName));
    // The survivor keeps working on its own file.
    QCOMPARE(second->allFilePaths(), QStringList{QStringLiteral("/x/1")});

    // Opening again on another file leaves the first file's data behind.
    QVERIFY(second->open(dir.filePath(QStringLiteral("a.sqlite3"))));
    QCOMPARE(second->allFilePaths(), QStringList{QStringLiteral("/x/2")});
    QVERIFY(second->insertSummary(ctSummary(QStringLiteral("3.3"), QStringLiteral("/x/3"))));

    delete second;
    QVERIFY(!QSqlDatabase::contains(secondName));
}

void TestDatabase::pragmasOnOpen_data()
{
    QTest::addColumn<QString>("pragma");
    QTest::addColumn<QString>("expected");
    QTest::newRow("rollback journal") << QStringLiteral("journal_mode") << QStringLiteral("delete");
    QTest::newRow("synchronous NORMAL") << QStringLiteral("synchronous") << QStringLiteral("1");
    QTest::newRow("foreign keys on") << QStringLiteral("foreign_keys") << QStringLiteral("1");
}

void TestDatabase::pragmasOnOpen()
{
    QFETCH(QString, pragma);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    // The settings are per connection, so ask the index's own connection.
    QSqlQuery q(QSqlDatabase::database(database.connectionName(), false));
    QVERIFY(q.exec(QStringLiteral("PRAGMA %1;").arg(pragma)));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString().toLower(), expected);
}

void TestDatabase::openPaths_data()
{
    QTest::addColumn<QString>("fileName"); // empty: in memory
    QTest::addColumn<bool>("reopen");
    QTest::newRow("new file") << QStringLiteral("index.sqlite3") << false;
    QTest::newRow("existing index") << QStringLiteral("index.sqlite3") << true;
    QTest::newRow("in memory") << QString() << false;
}

void TestDatabase::openPaths()
{
    QFETCH(QString, fileName);
    QFETCH(bool, reopen);
    QTemporaryDir dir;
    const QString path = fileName.isEmpty() ? QStringLiteral(":memory:") : dir.filePath(fileName);
    const DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.1"), QStringLiteral("/archive/CT1"));
    {
        db::Database database(nullptr);
        QVERIFY2(database.open(path), qPrintable(database.lastError()));
        QVERIFY2(database.insertSummary(s), qPrintable(database.lastError()));
        QCOMPARE(database.listStudies().size(), 1);
        if (!fileName.isEmpty())
            QVERIFY(QFile::exists(path));
    }
    if (reopen) {
        db::Database database(nullptr);
        QVERIFY2(database.open(path), qPrintable(database.lastError()));
        QCOMPARE(database.allFilePaths(), QStringList{s.file_path});
    }
}

void TestDatabase::badIndexFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("file of random bytes") << QStringLiteral("random");
    QTest::newRow("text file") << QStringLiteral("text");
    QTest::newRow("directory") << QStringLiteral("directory");
    QTest::newRow("below a regular file") << QStringLiteral("belowFile");
}

void TestDatabase::badIndexFiles()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    QByteArray original;
    if (kind == QLatin1String("random") || kind == QLatin1String("text")) {
        if (kind == QLatin1String("random")) {
            original.resize(64 * 1024);
            QRandomGenerator gen(20240115);
            for (char &c : original)
                c = char(gen.bounded(256));
        } else {
            original = QByteArray("patient_id;study\nPAT-1;1.2.3\n").repeated(200);
        }
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(original), original.size());
    } else if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("index.sqlite3")));
    } else {
        QFile f(dir.filePath(QStringLiteral("plain")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a directory");
        f.close();
        // Not even root can create a file below a regular file.
        path = dir.filePath(QStringLiteral("plain/index.sqlite3"));
    }

    db::Database database(nullptr);
    QVERIFY(!database.open(path));
    QVERIFY(!database.lastError().trimmed().isEmpty());
    // A failed open leaves the object usable: it reports instead of crashing.
    QVERIFY(!database.insertSummary(ctSummary(QStringLiteral("1.1"), QStringLiteral("/x/1"))));
    QVERIFY(!database.lastError().isEmpty());
    QVERIFY(database.listStudies().isEmpty());

    if (!original.isEmpty()) {
        // Whatever the file was, opening must not have overwritten it.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), original);
    }
}

void TestDatabase::lockedIndex()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    {
        db::Database database(nullptr);
        QVERIFY(database.open(path));
        QVERIFY(database.insertSummary(ctSummary(QStringLiteral("1.1"), QStringLiteral("/x/1"))));
    }

    RawConnection holder(path);
    QVERIFY(holder.isOpen());
    QString error;
    QVERIFY2(holder.exec(QStringLiteral("BEGIN EXCLUSIVE;"), &error), qPrintable(error));

    db::Database database(nullptr);
    QVERIFY(!database.open(path));
    QVERIFY2(database.lastError().contains(QLatin1String("locked")), qPrintable(database.lastError()));

    // Once the other connection lets go the same object opens the index intact.
    QVERIFY(holder.exec(QStringLiteral("ROLLBACK;")));
    QVERIFY2(database.open(path), qPrintable(database.lastError()));
    QCOMPARE(database.allFilePaths(), QStringList{QStringLiteral("/x/1")});
}

void TestDatabase::operationsBeforeOpen()
{
    db::Database database(nullptr);
    QVERIFY(!database.insertSummary(ctSummary(QStringLiteral("1.1"), QStringLiteral("/x/1"))));
    QVERIFY(!database.lastError().isEmpty());
    QVector<bool> results;
    QStringList errors;
    QCOMPARE(database.insertSummaries({ctSummary(QStringLiteral("1.1"), QStringLiteral("/x/1"))}, &results,
                                      &errors),
             0);
    QCOMPARE(results, QVector<bool>{false});
    QCOMPARE(errors.size(), 1);
    QVERIFY(!errors.first().isEmpty());
    QVERIFY(database.listStudies().isEmpty());
    QVERIFY(!database.studyExists(QStringLiteral("1.2.3.100")));
    QVERIFY(!database.deleteStudy(QStringLiteral("1.2.3.100")));
    QCOMPARE(database.statistics().studies, 0);
}

void TestDatabase::migrationFromOlderIndex_data()
{
    QTest::addColumn<QStringList>("oldSchema");
    QTest::addColumn<QString>("extraRowSql");
    QTest::newRow("first version") << kFirstVersionSchema << QString();
    QTest::newRow("geometry version")
        << kGeometryVersionSchema
        << QStringLiteral("UPDATE instances SET image_position_z = 12.5, has_spatial_info = 1, "
                          "orientation_row_x = 1, orientation_col_y = 1 WHERE sop_instance_uid = '9.9.1.1.1';");
}

void TestDatabase::migrationFromOlderIndex()
{
    QFETCH(QStringList, oldSchema);
    QFETCH(QString, extraRowSql);
    QTemporaryDir dir;
    const QString oldPath = dir.filePath(QStringLiteral("old.sqlite3"));
    const QString freshPath = dir.filePath(QStringLiteral("fresh.sqlite3"));
    {
        RawConnection raw(oldPath);
        QVERIFY(raw.isOpen());
        QString error;
        for (const QString &sql : oldSchema + kOldRows)
            QVERIFY2(raw.exec(sql, &error), qPrintable(error));
        if (!extraRowSql.isEmpty())
            QVERIFY2(raw.exec(extraRowSql, &error), qPrintable(error));
    }
    {
        db::Database fresh(nullptr);
        QVERIFY(fresh.open(freshPath));
    }

    QStringList afterFirstOpen;
    {
        db::Database database(nullptr);
        QVERIFY2(database.open(oldPath), qPrintable(database.lastError()));

        // The old row reads back through the current queries.
        const QList<db::StudyRecord> studies = database.listStudies();
        QCOMPARE(studies.size(), 1);
        QCOMPARE(studies[0].study_instance_uid, QStringLiteral("9.9.1"));
        QCOMPARE(studies[0].patient_name, QStringLiteral("Сидоров^Олег"));
        QCOMPARE(studies[0].weight_kg, 0.0);
        QCOMPARE(studies[0].is_protected, false);
        QCOMPARE(studies[0].instance_count, 1);
        const QList<db::SeriesRecord> series = database.listSeries(QStringLiteral("9.9.1"));
        QCOMPARE(series.size(), 1);
        QVERIFY(series[0].laterality.isEmpty());
        const QList<db::SliceRef> slices = database.listInstances(QStringLiteral("9.9.1.1"));
        QCOMPARE(slices.size(), 1);
        QCOMPARE(slices[0].file_path, QStringLiteral("/archive/old/IM4"));
        QCOMPARE(slices[0].instance_number, 4);
        QCOMPARE(slices[0].slice_location, 12.5);
        QCOMPARE(slices[0].frame_index, 0);
        QCOMPARE(slices[0].acquisition_time_seconds, -1.0);
        QCOMPARE(slices[0].trigger_time_ms, -1.0);
        QCOMPARE(slices[0].temporal_position_index, 0);
        QCOMPARE(slices[0].has_spatial_info, !extraRowSql.isEmpty());
        QCOMPARE(slices[0].image_position_z, extraRowSql.isEmpty() ? 0.0 : 12.5);

        // The upserts need every current column.
        DicomFileSummary s = ctSummary(QStringLiteral("OLD-1"), QStringLiteral("9.9.1"), QStringLiteral("9.9.1.1"),
                                       QStringLiteral("9.9.1.1.2"), 5, QStringLiteral("/archive/old/IM5"));
        QVERIFY2(database.insertSummary(s), qPrintable(database.lastError()));
    }

    {
        RawConnection raw(oldPath);
        RawConnection reference(freshPath);
        for (const QString &table : {QStringLiteral("patients"), QStringLiteral("studies"),
                                     QStringLiteral("series"), QStringLiteral("instances")}) {
            QStringList migrated = raw.columns(table);
            QStringList current = reference.columns(table);
            migrated.sort();
            current.sort();
            QCOMPARE(migrated, current);
        }
        QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM instances;")).toInt(), 2);
        QCOMPARE(raw.scalar(QStringLiteral("SELECT file_path FROM instances WHERE sop_instance_uid = '9.9.1.1.1';"))
                     .toString(),
                 QStringLiteral("/archive/old/IM4"));
        afterFirstOpen = raw.dumpAll();
    }

    {
        db::Database database(nullptr);
        QVERIFY2(database.open(oldPath), qPrintable(database.lastError()));
    }
    RawConnection raw(oldPath);
    QCOMPARE(raw.dumpAll(), afterFirstOpen);
}

void TestDatabase::reimportUpdatesOnlyNamedColumns_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("newValue");
    QTest::addColumn<bool>("updates");

    const QString instances = QStringLiteral("instances");
    QTest::newRow("moved file") << instances << QStringLiteral("file_path") << QVariant(QStringLiteral("/moved/CT1")) << true;
    QTest::newRow("instance number") << instances << QStringLiteral("instance_number") << QVariant(77) << true;
    QTest::newRow("window center") << instances << QStringLiteral("window_center") << QVariant(40.0) << true;
    QTest::newRow("window width") << instances << QStringLiteral("window_width") << QVariant(400.0) << true;
    QTest::newRow("slice thickness") << instances << QStringLiteral("slice_thickness") << QVariant(5.0) << true;
    QTest::newRow("slice location") << instances << QStringLiteral("slice_location") << QVariant(-333.5) << true;
    QTest::newRow("position z stays") << instances << QStringLiteral("image_position_z") << QVariant(-333.5) << false;
    QTest::newRow("rows stay") << instances << QStringLiteral("rows") << QVariant(1024) << false;
    QTest::newRow("pixel spacing stays") << instances << QStringLiteral("pixel_spacing_x") << QVariant(0.5) << false;
    QTest::newRow("rescale stays") << instances << QStringLiteral("rescale_intercept") << QVariant(0.0) << false;
    QTest::newRow("acquisition time stays") << instances << QStringLiteral("acquisition_time_seconds") << QVariant(100.0) << false;
    QTest::newRow("frame of reference stays") << instances << QStringLiteral("frame_of_reference_uid") << QVariant(QStringLiteral("1.2.9")) << false;

    const QString patients = QStringLiteral("patients");
    QTest::newRow("patient name, last file wins") << patients << QStringLiteral("patient_name") << QVariant(QStringLiteral("Иванов^И")) << true;
    QTest::newRow("patient weight, last file wins") << patients << QStringLiteral("weight_kg") << QVariant(79.0) << true;

    const QString studies = QStringLiteral("studies");
    QTest::newRow("study description") << studies << QStringLiteral("study_description") << QVariant(QStringLiteral("КТ ОГК повторно")) << true;
    QTest::newRow("referring physician") << studies << QStringLiteral("referring_physician") << QVariant(QStringLiteral("Смирнов")) << true;
    QTest::newRow("study keeps its patient") << studies << QStringLiteral("patient_id") << QVariant(QStringLiteral("PAT-2")) << false;

    const QString series = QStringLiteral("series");
    QTest::newRow("series description") << series << QStringLiteral("series_description") << QVariant(QStringLiteral("Mediastinum")) << true;
    QTest::newRow("laterality") << series << QStringLiteral("laterality") << QVariant(QStringLiteral("R")) << true;
}

void TestDatabase::reimportUpdatesOnlyNamedColumns()
{
    QFETCH(QString, table);
    QFETCH(QString, column);
    QFETCH(QVariant, newValue);
    QFETCH(bool, updates);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.7"), QStringLiteral("/archive/CT1"));
    s.instance_number = 7;
    s.number_of_frames = 1;

    const QHash<QString, QPair<QString, QString>> keys = {
        {QStringLiteral("patients"), {QStringLiteral("patient_id"), s.patient_id}},
        {QStringLiteral("studies"), {QStringLiteral("study_instance_uid"), s.study_instance_uid}},
        {QStringLiteral("series"), {QStringLiteral("series_instance_uid"), s.series_instance_uid}},
        {QStringLiteral("instances"), {QStringLiteral("sop_instance_uid"), s.sop_instance_uid}},
    };
    const auto [keyColumn, key] = keys.value(table);
    const QString select = QStringLiteral("SELECT %1 FROM %2 WHERE %3 = :k;").arg(column, table, keyColumn);

    db::Database database(nullptr);
    QVERIFY(database.open(path));
    QVERIFY(database.insertSummary(s));
    RawConnection raw(path);
    const QVariant before = raw.scalar(select, {{QStringLiteral(":k"), key}});
    QVERIFY(before.isValid());
    QVERIFY2(before.toString() != newValue.toString(), "the row must change the value");

    setField(s, column, newValue);
    QVERIFY2(database.insertSummary(s), qPrintable(database.lastError()));

    const QVariant after = raw.scalar(select, {{QStringLiteral(":k"), key}});
    QCOMPARE(after.toString(), updates ? newValue.toString() : before.toString());
    QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM %1;").arg(table)).toInt(),
             table == QLatin1String("patients") && column == QLatin1String("patient_id") ? 2 : 1);
    QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM instances;")).toInt(), 1);
}

void TestDatabase::reimportMultiFrameKeepsOneRowPerFrame()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.50"), QStringLiteral("/archive/MF"));
    s.number_of_frames = 4;
    db::Database database(nullptr);
    QVERIFY(database.open(path));
    QVERIFY(database.insertSummary(s));
    QVERIFY(database.insertSummary(s));
    s.file_path = QStringLiteral("/moved/MF");
    QVERIFY(database.insertSummary(s));

    const QList<db::SliceRef> slices = database.listInstances(s.series_instance_uid);
    QCOMPARE(slices.size(), 4);
    for (const db::SliceRef &r : slices)
        QCOMPARE(r.file_path, s.file_path);
    QCOMPARE(database.allFilePaths(), QStringList{s.file_path});
    QCOMPARE(database.listStudies().value(0).instance_count, 4);
}

void TestDatabase::multiFrameRows_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("thickness");
    QTest::addColumn<double>("location");
    QTest::addColumn<double>("z");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<double>>("locations");
    QTest::addColumn<QList<double>>("zs");

    const QString uid = QStringLiteral("1.2.3.100.1.9");
    QTest::newRow("3 frames, 2.5 mm, z 10")
        << 3 << 2.5 << 99.0 << 10.0
        << QStringList{uid, uid + QStringLiteral("#f1"), uid + QStringLiteral("#f2")}
        << QList<double>{0.0, 2.5, 5.0} << QList<double>{10.0, 12.5, 15.0};
    QTest::newRow("unknown thickness steps 1 mm")
        << 3 << 0.0 << 99.0 << -20.0
        << QStringList{uid, uid + QStringLiteral("#f1"), uid + QStringLiteral("#f2")}
        << QList<double>{0.0, 1.0, 2.0} << QList<double>{-20.0, -19.0, -18.0};
    QTest::newRow("negative thickness steps 1 mm")
        << 2 << -3.0 << 99.0 << 0.0
        << QStringList{uid, uid + QStringLiteral("#f1")}
        << QList<double>{0.0, 1.0} << QList<double>{0.0, 1.0};
    QTest::newRow("frame keys past nine")
        << 12 << 1.0 << 0.0 << 0.0
        << QStringList{uid, uid + "#f1", uid + "#f2", uid + "#f3", uid + "#f4", uid + "#f5",
                       uid + "#f6", uid + "#f7", uid + "#f8", uid + "#f9", uid + "#f10", uid + "#f11"}
        << QList<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}
        << QList<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    QTest::newRow("single frame keeps its own location")
        << 1 << 2.5 << 33.25 << 7.0 << QStringList{uid} << QList<double>{33.25} << QList<double>{7.0};
    QTest::newRow("zero frames count as one")
        << 0 << 2.5 << 33.25 << 7.0 << QStringList{uid} << QList<double>{33.25} << QList<double>{7.0};
}

void TestDatabase::multiFrameRows()
{
    QFETCH(int, frames);
    QFETCH(double, thickness);
    QFETCH(double, location);
    QFETCH(double, z);
    QFETCH(QStringList, keys);
    QFETCH(QList<double>, locations);
    QFETCH(QList<double>, zs);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.9"), QStringLiteral("/archive/MF9"));
    s.number_of_frames = frames;
    s.slice_thickness = thickness;
    s.slice_location = location;
    s.image_position = {-100.0, -120.0, z};
    db::Database database(nullptr);
    QVERIFY(database.open(path));
    QVERIFY2(database.insertSummary(s), qPrintable(database.lastError()));

    RawConnection raw(path);
    QSqlQuery q(raw.db());
    QVERIFY(q.exec(QStringLiteral("SELECT sop_instance_uid, frame_index, slice_location, image_position_x, "
                                  "image_position_y, image_position_z, file_path, number_of_frames "
                                  "FROM instances ORDER BY frame_index;")));
    int k = 0;
    while (q.next()) {
        QVERIFY(k < keys.size());
        QCOMPARE(q.value(0).toString(), keys[k]);
        QCOMPARE(q.value(1).toInt(), k);
        QCOMPARE(q.value(2).toDouble(), locations[k]);
        QCOMPARE(q.value(3).toDouble(), -100.0);
        QCOMPARE(q.value(4).toDouble(), -120.0);
        QCOMPARE(q.value(5).toDouble(), zs[k]);
        QCOMPARE(q.value(6).toString(), s.file_path);
        QCOMPARE(q.value(7).toInt(), frames);
        ++k;
    }
    QCOMPARE(k, keys.size());
}

void TestDatabase::enhancedPerFrameValues_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<QList<double>>("perFrameLocations");
    QTest::addColumn<QList<double>>("perFrameX");
    QTest::addColumn<QList<double>>("perFrameZ");
    QTest::addColumn<QList<int>>("perFrameTemporal");
    QTest::addColumn<QList<double>>("locations");
    QTest::addColumn<QList<double>>("xs");
    QTest::addColumn<QList<double>>("zs");
    QTest::addColumn<QList<int>>("temporal");

    // The summary itself says: slice location 99, position (7, 8, 9), thickness
    // 2.5, temporal index 5.
    QTest::newRow("positions and phases for every frame")
        << 3 << QList<double>{-10, -12, -14} << QList<double>{1, 1.5, 2} << QList<double>{-10, -12, -14}
        << QList<int>{1, 2, 3}
        << QList<double>{-10, -12, -14} << QList<double>{1, 1.5, 2} << QList<double>{-10, -12, -14}
        << QList<int>{1, 2, 3};
    QTest::newRow("fewer positions than frames")
        << 4 << QList<double>{-10, -12, -14} << QList<double>{1, 1, 1} << QList<double>{-10, -12, -14}
        << QList<int>{1, 2}
        << QList<double>{-10, -12, -14, 99} << QList<double>{1, 1, 1, 7} << QList<double>{-10, -12, -14, 9}
        << QList<int>{1, 2, 5, 5};
    QTest::newRow("more phases than frames")
        << 2 << QList<double>{3, 4} << QList<double>{0, 0} << QList<double>{3, 4}
        << QList<int>{4, 5, 6, 7}
        << QList<double>{3, 4} << QList<double>{0, 0} << QList<double>{3, 4}
        << QList<int>{4, 5};
    QTest::newRow("phases without positions")
        << 3 << QList<double>{} << QList<double>{} << QList<double>{}
        << QList<int>{1, 1, 2}
        << QList<double>{0, 2.5, 5} << QList<double>{7, 7, 7} << QList<double>{9, 11.5, 14}
        << QList<int>{1, 1, 2};
}

void TestDatabase::enhancedPerFrameValues()
{
    QFETCH(int, frames);
    QFETCH(QList<double>, perFrameLocations);
    QFETCH(QList<double>, perFrameX);
    QFETCH(QList<double>, perFrameZ);
    QFETCH(QList<int>, perFrameTemporal);
    QFETCH(QList<double>, locations);
    QFETCH(QList<double>, xs);
    QFETCH(QList<double>, zs);
    QFETCH(QList<int>, temporal);

    QTemporaryDir dir;
    DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.20"), QStringLiteral("/archive/ENH"));
    s.modality = QStringLiteral("MR");
    s.number_of_frames = frames;
    s.slice_thickness = 2.5;
    s.slice_location = 99.0;
    s.image_position = {7.0, 8.0, 9.0};
    s.temporal_position_index = 5;
    s.per_frame_slice_positions = perFrameLocations;
    s.per_frame_position_x = perFrameX;
    s.per_frame_position_y = QVector<double>(perFrameX.size(), 8.0);
    s.per_frame_position_z = perFrameZ;
    s.per_frame_temporal_indices = perFrameTemporal;

    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    QVERIFY2(database.insertSummary(s), qPrintable(database.lastError()));
    const QList<db::SliceRef> slices = byFrame(database.listInstances(s.series_instance_uid));
    QCOMPARE(slices.size(), frames);
    for (int k = 0; k < frames; ++k) {
        QCOMPARE(slices[k].frame_index, k);
        QCOMPARE(slices[k].slice_location, locations[k]);
        QCOMPARE(slices[k].image_position_x, xs[k]);
        QCOMPARE(slices[k].image_position_y, 8.0);
        QCOMPARE(slices[k].image_position_z, zs[k]);
        QCOMPARE(slices[k].temporal_position_index, temporal[k]);
        QCOMPARE(slices[k].file_path, s.file_path);
    }
}

void TestDatabase::rejectedSummary_data()
{
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<int>("frames");
    QTest::newRow("no file path") << QString() << 1;
    QTest::newRow("empty file path") << QStringLiteral("") << 1;
    QTest::newRow("multi-frame without file path") << QString() << 3;
}

void TestDatabase::rejectedSummary()
{
    QFETCH(QString, filePath);
    QFETCH(int, frames);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.3"), filePath);
    s.number_of_frames = frames;

    db::Database database(nullptr);
    QVERIFY(database.open(path));
    QVERIFY(!database.insertSummary(s));
    // The engine's own words reach the caller.
    QVERIFY2(database.lastError().contains(QLatin1String("file_path")), qPrintable(database.lastError()));
    QVERIFY(database.listInstances(s.series_instance_uid).isEmpty());
    QVERIFY(database.allFilePaths().isEmpty());

    // The index stays usable for the next file.
    QVERIFY(database.insertSummary(ctSummary(QStringLiteral("1.2.3.100.1.4"), QStringLiteral("/archive/CT4"))));
    QCOMPARE(database.allFilePaths(), QStringList{QStringLiteral("/archive/CT4")});
}

void TestDatabase::patientWithoutId_data()
{
    QTest::addColumn<QString>("patientId");
    QTest::newRow("no Patient ID") << QString();
    QTest::newRow("empty Patient ID") << QStringLiteral("");
}

void TestDatabase::patientWithoutId()
{
    QFETCH(QString, patientId);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    db::Database database(nullptr);
    QVERIFY(database.open(path));
    DicomFileSummary a = ctSummary(patientId, QStringLiteral("5.1"), QStringLiteral("5.1.1"), QStringLiteral("5.1.1.1"),
                                   1, QStringLiteral("/anon/a"));
    DicomFileSummary b = ctSummary(patientId, QStringLiteral("5.2"), QStringLiteral("5.2.1"), QStringLiteral("5.2.1.1"),
                                   1, QStringLiteral("/anon/b"));
    b.study_date = QStringLiteral("20240301");
    // Optional text attributes missing from the file arrive as null strings.
    b.laterality = QString();
    b.referring_physician = QString();
    QVERIFY2(database.insertSummary(a), qPrintable(database.lastError()));
    QVERIFY2(database.insertSummary(b), qPrintable(database.lastError()));

    {
        RawConnection raw(path);
        QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM patients;")).toInt(), 1);
        QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM patients WHERE patient_id = '';")).toInt(), 1);
        QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM studies WHERE patient_id = '';")).toInt(), 2);
        QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM series WHERE laterality IS NULL;")).toInt(), 0);
        QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM studies WHERE referring_physician IS NULL;")).toInt(), 0);
    }

    const QList<db::StudyRecord> studies = database.listStudies();
    QCOMPARE(studies.size(), 2);
    for (const db::StudyRecord &r : studies) {
        QVERIFY(r.patient_id.isEmpty());
        QCOMPARE(r.patient_name, a.patient_name);
    }
    const QList<db::StudyRecord> others = database.listOtherStudiesOfPatient(patientId, QStringLiteral("5.1"));
    QCOMPARE(others.size(), 1);
    QCOMPARE(others[0].study_instance_uid, QStringLiteral("5.2"));
    QVERIFY(database.patientInfoForStudy(QStringLiteral("5.2")).has_value());

    QVERIFY(database.deleteStudy(QStringLiteral("5.1")));
    QCOMPARE(database.statistics().patients, 1);
    QVERIFY(database.deleteStudy(QStringLiteral("5.2")));
    QCOMPARE(database.statistics().patients, 0);
}

void TestDatabase::listStudiesCountsAndOrder()
{
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));

    // Study "late": one CT series of 3 slices and an MR series with a 4-frame file.
    for (int i = 1; i <= 3; ++i) {
        DicomFileSummary s = ctSummary(QStringLiteral("P1"), QStringLiteral("7.2"), QStringLiteral("7.2.1"),
                                       QStringLiteral("7.2.1.%1").arg(i), i, QStringLiteral("/a/ct%1").arg(i));
        s.study_date = QStringLiteral("20240301");
        s.study_time = QStringLiteral("090000");
        QVERIFY(database.insertSummary(s));
    }
    DicomFileSummary mf = ctSummary(QStringLiteral("P1"), QStringLiteral("7.2"), QStringLiteral("7.2.2"),
                                    QStringLiteral("7.2.2.1"), 1, QStringLiteral("/a/mr"));
    mf.study_date = QStringLiteral("20240301");
    mf.study_time = QStringLiteral("090000");
    mf.modality = QStringLiteral("MR");
    mf.number_of_frames = 4;
    QVERIFY(database.insertSummary(mf));

    // Study "early", same day an hour before; study "oldest" a year before.
    DicomFileSummary early = ctSummary(QStringLiteral("P2"), QStringLiteral("7.1"), QStringLiteral("7.1.1"),
                                       QStringLiteral("7.1.1.1"), 1, QStringLiteral("/a/early"));
    early.study_date = QStringLiteral("20240301");
    early.study_time = QStringLiteral("080000");
    early.modality = QStringLiteral("CR");
    early.patient_name = QStringLiteral("Second^Patient");
    early.weight_kg = 61.0;
    QVERIFY(database.insertSummary(early));
    DicomFileSummary oldest = ctSummary(QStringLiteral("P1"), QStringLiteral("7.0"), QStringLiteral("7.0.1"),
                                        QStringLiteral("7.0.1.1"), 1, QStringLiteral("/a/oldest"));
    oldest.study_date = QStringLiteral("20230301");
    oldest.study_time = QStringLiteral("230000");
    QVERIFY(database.insertSummary(oldest));

    const QList<db::StudyRecord> studies = database.listStudies();
    QCOMPARE(studies.size(), 3);
    QCOMPARE(studies[0].study_instance_uid, QStringLiteral("7.0"));
    QCOMPARE(studies[1].study_instance_uid, QStringLiteral("7.1"));
    QCOMPARE(studies[2].study_instance_uid, QStringLiteral("7.2"));

    const db::StudyRecord &late = studies[2];
    QCOMPARE(late.series_count, 2);
    QCOMPARE(late.instance_count, 7); // three slices and four frames
    QCOMPARE(modalitySet(late.modalities), (QStringList{QStringLiteral("CT"), QStringLiteral("MR")}));
    QCOMPARE(late.patient_id, QStringLiteral("P1"));
    QCOMPARE(late.study_description, mf.study_description);
    QCOMPARE(late.accession_number, mf.accession_number);
    QCOMPARE(late.birth_date, mf.birth_date);
    QCOMPARE(late.sex, mf.sex);
    QCOMPARE(late.weight_kg, mf.weight_kg);

    const db::StudyRecord &second = studies[1];
    QCOMPARE(second.patient_id, QStringLiteral("P2"));
    QCOMPARE(second.patient_name, QStringLiteral("Second^Patient"));
    QCOMPARE(second.weight_kg, 61.0);
    QCOMPARE(second.series_count, 1);
    QCOMPARE(second.instance_count, 1);
    QCOMPARE(second.modalities, QStringLiteral("CR"));
}

void TestDatabase::listOtherStudiesOfPatient_data()
{
    QTest::addColumn<QString>("patientId");
    QTest::addColumn<QString>("exclude");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("exclude newest") << QStringLiteral("P1") << QStringLiteral("s.3")
                                    << QStringList{QStringLiteral("s.2"), QStringLiteral("s.1")};
    QTest::newRow("exclude oldest") << QStringLiteral("P1") << QStringLiteral("s.1")
                                    << QStringList{QStringLiteral("s.3"), QStringLiteral("s.2")};
    QTest::newRow("exclude unknown") << QStringLiteral("P1") << QStringLiteral("nope")
                                     << QStringList{QStringLiteral("s.3"), QStringLiteral("s.2"), QStringLiteral("s.1")};
    QTest::newRow("patient with one study") << QStringLiteral("P2") << QStringLiteral("s.9") << QStringList{};
    QTest::newRow("unknown patient") << QStringLiteral("P7") << QStringLiteral("s.1") << QStringList{};
}

void TestDatabase::listOtherStudiesOfPatient()
{
    QFETCH(QString, patientId);
    QFETCH(QString, exclude);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    struct Row { const char *patient; const char *study; const char *date; const char *time; };
    // s.2 and s.3 share a day: the time decides.
    const Row rows[] = {{"P1", "s.1", "20220105", "120000"}, {"P1", "s.3", "20240101", "093000"},
                        {"P1", "s.2", "20240101", "081500"}, {"P2", "s.9", "20250101", "080000"}};
    int n = 0;
    for (const Row &r : rows) {
        const QString study = QString::fromLatin1(r.study);
        DicomFileSummary s = ctSummary(QString::fromLatin1(r.patient), study, study + QStringLiteral(".1"),
                                       study + QStringLiteral(".1.1"), 1, QStringLiteral("/p/%1").arg(++n));
        s.study_date = QString::fromLatin1(r.date);
        s.study_time = QString::fromLatin1(r.time);
        QVERIFY(database.insertSummary(s));
    }
    QStringList got;
    for (const db::StudyRecord &r : database.listOtherStudiesOfPatient(patientId, exclude)) {
        QCOMPARE(r.patient_id, patientId);
        QCOMPARE(r.series_count, 1);
        got.append(r.study_instance_uid);
    }
    QCOMPARE(got, expected);
}

void TestDatabase::seriesOrder_data()
{
    QTest::addColumn<QStringList>("inserted");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("10 after 9") << QStringList{QStringLiteral("10"), QStringLiteral("9"), QStringLiteral("2")}
                                << QStringList{QStringLiteral("2"), QStringLiteral("9"), QStringLiteral("10")};
    QTest::newRow("not a number sorts as 0")
        << QStringList{QStringLiteral("3"), QStringLiteral("scout"), QStringLiteral("1")}
        << QStringList{QStringLiteral("scout"), QStringLiteral("1"), QStringLiteral("3")};
    QTest::newRow("empty sorts as 0") << QStringList{QStringLiteral("5"), QStringLiteral("")}
                                      << QStringList{QStringLiteral(""), QStringLiteral("5")};
    QTest::newRow("leading digits count")
        << QStringList{QStringLiteral("13"), QStringLiteral("12a"), QStringLiteral("2")}
        << QStringList{QStringLiteral("2"), QStringLiteral("12a"), QStringLiteral("13")};
    QTest::newRow("negative before 0") << QStringList{QStringLiteral("1"), QStringLiteral("-4")}
                                       << QStringList{QStringLiteral("-4"), QStringLiteral("1")};
}

void TestDatabase::seriesOrder()
{
    QFETCH(QStringList, inserted);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    for (int i = 0; i < inserted.size(); ++i) {
        DicomFileSummary s = ctSummary(QStringLiteral("P1"), QStringLiteral("8.1"), QStringLiteral("8.1.%1").arg(i),
                                       QStringLiteral("8.1.%1.1").arg(i), 1, QStringLiteral("/s/%1").arg(i));
        s.series_number = inserted[i];
        s.series_description = QStringLiteral("series %1").arg(inserted[i]);
        QVERIFY(database.insertSummary(s));
    }
    QStringList got;
    for (const db::SeriesRecord &r : database.listSeries(QStringLiteral("8.1"))) {
        QCOMPARE(r.study_instance_uid, QStringLiteral("8.1"));
        QCOMPARE(r.series_description, QStringLiteral("series %1").arg(r.series_number));
        QCOMPARE(r.instance_count, 1);
        QCOMPARE(r.modality, QStringLiteral("CT"));
        QCOMPARE(r.body_part_examined, QStringLiteral("CHEST"));
        got.append(r.series_number);
    }
    QCOMPARE(got, expected);
    QVERIFY(database.listSeries(QStringLiteral("no.such.study")).isEmpty());
}

void TestDatabase::sliceRefStoredValues_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<double>("expected");
    QTest::newRow("acquisition time not stored") << QStringLiteral("acquisition_time_seconds") << QVariant() << -1.0;
    QTest::newRow("acquisition time zero") << QStringLiteral("acquisition_time_seconds") << QVariant(0.0) << 0.0;
    QTest::newRow("trigger time not stored") << QStringLiteral("trigger_time_ms") << QVariant() << -1.0;
    QTest::newRow("trigger time 350") << QStringLiteral("trigger_time_ms") << QVariant(350.0) << 350.0;
    QTest::newRow("echo time not stored") << QStringLiteral("echo_time") << QVariant() << 0.0;
    QTest::newRow("position not stored") << QStringLiteral("image_position_x") << QVariant() << 0.0;
    QTest::newRow("cardiac images not stored") << QStringLiteral("cardiac_number_of_images") << QVariant() << 0.0;
    QTest::newRow("spatial info not stored") << QStringLiteral("has_spatial_info") << QVariant() << 0.0;
    QTest::newRow("spatial info 0") << QStringLiteral("has_spatial_info") << QVariant(0) << 0.0;
    QTest::newRow("spatial info 2") << QStringLiteral("has_spatial_info") << QVariant(2) << 1.0;
    QTest::newRow("spatial info -1") << QStringLiteral("has_spatial_info") << QVariant(-1) << 1.0;
}

void TestDatabase::sliceRefStoredValues()
{
    QFETCH(QString, column);
    QFETCH(QVariant, stored);
    QFETCH(double, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    db::Database database(nullptr);
    QVERIFY(database.open(path));
    DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.1"), QStringLiteral("/x/1"));
    s.trigger_time_ms = 120.0;
    s.echo_time = 2.2;
    s.cardiac_number_of_images = 25;
    QVERIFY(database.insertSummary(s));
    {
        RawConnection raw(path);
        QSqlQuery q(raw.db());
        QVERIFY(q.prepare(QStringLiteral("UPDATE instances SET %1 = :v;").arg(column)));
        q.bindValue(QStringLiteral(":v"), stored.isValid() ? stored : QVariant(QMetaType::fromType<double>()));
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
    const QList<db::SliceRef> slices = database.listInstances(s.series_instance_uid);
    QCOMPARE(slices.size(), 1);
    const db::SliceRef &r = slices[0];
    const QHash<QString, double> read = {
        {QStringLiteral("acquisition_time_seconds"), r.acquisition_time_seconds},
        {QStringLiteral("trigger_time_ms"), r.trigger_time_ms},
        {QStringLiteral("echo_time"), r.echo_time},
        {QStringLiteral("image_position_x"), r.image_position_x},
        {QStringLiteral("cardiac_number_of_images"), double(r.cardiac_number_of_images)},
        {QStringLiteral("has_spatial_info"), r.has_spatial_info ? 1.0 : 0.0},
    };
    QVERIFY(read.contains(column));
    QCOMPARE(read.value(column), expected);
}

void TestDatabase::filePathsAndExistence()
{
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    DicomFileSummary mf = ctSummary(QStringLiteral("P1"), QStringLiteral("4.1"), QStringLiteral("4.1.1"),
                                    QStringLiteral("4.1.1.1"), 1, QStringLiteral("/d/mf"));
    mf.number_of_frames = 5;
    QVERIFY(database.insertSummary(mf));
    QVERIFY(database.insertSummary(ctSummary(QStringLiteral("P1"), QStringLiteral("4.1"), QStringLiteral("4.1.2"),
                                             QStringLiteral("4.1.2.1"), 1, QStringLiteral("/d/ct"))));
    QVERIFY(database.insertSummary(ctSummary(QStringLiteral("P1"), QStringLiteral("4.2"), QStringLiteral("4.2.1"),
                                             QStringLiteral("4.2.1.1"), 1, QStringLiteral("/d/other"))));

    QStringList study = database.studyFilePaths(QStringLiteral("4.1"));
    study.sort();
    QCOMPARE(study, (QStringList{QStringLiteral("/d/ct"), QStringLiteral("/d/mf")}));
    QStringList all = database.allFilePaths();
    all.sort();
    QCOMPARE(all, (QStringList{QStringLiteral("/d/ct"), QStringLiteral("/d/mf"), QStringLiteral("/d/other")}));
    QVERIFY(database.studyFilePaths(QStringLiteral("4.9")).isEmpty());
    QVERIFY(database.studyExists(QStringLiteral("4.1")));
    QVERIFY(database.studyExists(QStringLiteral("4.2")));
    QVERIFY(!database.studyExists(QStringLiteral("4.9")));
    QVERIFY(!database.studyExists(QString()));
}

void TestDatabase::patientInfoForStudy_data()
{
    QTest::addColumn<QString>("study");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("sex");
    QTest::addColumn<double>("weight");
    QTest::addColumn<double>("height");
    QTest::newRow("first patient") << QStringLiteral("6.1") << true << QStringLiteral("F") << 58.0 << 164.0;
    // Both studies of P2 see the values of the file indexed last.
    QTest::newRow("second patient, earlier study") << QStringLiteral("6.2") << true << QStringLiteral("M") << 90.5 << 181.0;
    QTest::newRow("second patient, later study") << QStringLiteral("6.3") << true << QStringLiteral("M") << 90.5 << 181.0;
    QTest::newRow("unknown study") << QStringLiteral("6.9") << false << QString() << 0.0 << 0.0;
}

void TestDatabase::patientInfoForStudy()
{
    QFETCH(QString, study);
    QFETCH(bool, found);
    QFETCH(QString, sex);
    QFETCH(double, weight);
    QFETCH(double, height);
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    struct Row { const char *patient; const char *study; const char *sex; double weight; double height; };
    const Row rows[] = {{"P1", "6.1", "F", 58.0, 164.0}, {"P2", "6.2", "M", 88.0, 181.0},
                        {"P2", "6.3", "M", 90.5, 181.0}};
    for (const Row &r : rows) {
        const QString uid = QString::fromLatin1(r.study);
        DicomFileSummary s = ctSummary(QString::fromLatin1(r.patient), uid, uid + QStringLiteral(".1"),
                                       uid + QStringLiteral(".1.1"), 1, QStringLiteral("/i/") + uid);
        s.sex = QString::fromLatin1(r.sex);
        s.weight_kg = r.weight;
        s.height_cm = r.height;
        QVERIFY(database.insertSummary(s));
    }
    const std::optional<db::PatientInfo> info = database.patientInfoForStudy(study);
    QCOMPARE(info.has_value(), found);
    if (found) {
        QCOMPARE(info->sex, sex);
        QCOMPARE(info->weight_kg, weight);
        QCOMPARE(info->height_cm, height);
    }
}

void TestDatabase::protectedFlag_data()
{
    QTest::addColumn<bool>("protect");
    QTest::newRow("protected") << true;
    QTest::newRow("unprotected") << false;
}

void TestDatabase::protectedFlag()
{
    QFETCH(bool, protect);
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    DicomFileSummary s = ctSummary(QStringLiteral("1.2.3.100.1.1"), QStringLiteral("/x/1"));
    QVERIFY(database.insertSummary(s));
    QCOMPARE(database.listStudies().value(0).is_protected, false);
    QVERIFY(database.setStudyProtected(s.study_instance_uid, true));
    QVERIFY(database.setStudyProtected(s.study_instance_uid, protect));

    // The same files come in again, plus one more of the study.
    s.study_description = QStringLiteral("повторный импорт");
    QVERIFY(database.insertSummary(s));
    DicomFileSummary another = ctSummary(QStringLiteral("1.2.3.100.1.2"), QStringLiteral("/x/2"));
    another.study_description = s.study_description;
    QVERIFY(database.insertSummary(another));

    const QList<db::StudyRecord> studies = database.listStudies();
    QCOMPARE(studies.size(), 1);
    QCOMPARE(studies[0].is_protected, protect);
    QCOMPARE(studies[0].study_description, s.study_description);
    QCOMPARE(studies[0].instance_count, 2);
}

void TestDatabase::deleteStudy_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("remainingStudies");
    QTest::addColumn<QStringList>("remainingPatients");
    QTest::addColumn<QStringList>("remainingPaths");

    // P1 has studies 3.1 and 3.2, P2 only 3.3.
    QTest::newRow("patient keeps another study")
        << QStringLiteral("3.1") << true << QStringList{QStringLiteral("3.2"), QStringLiteral("3.3")}
        << QStringList{QStringLiteral("P1"), QStringLiteral("P2")}
        << QStringList{QStringLiteral("f3.2"), QStringLiteral("f3.3")};
    QTest::newRow("last study removes the patient")
        << QStringLiteral("3.3") << true << QStringList{QStringLiteral("3.1"), QStringLiteral("3.2")}
        << QStringList{QStringLiteral("P1")}
        << QStringList{QStringLiteral("f3.1a"), QStringLiteral("f3.1b"), QStringLiteral("f3.2")};
    QTest::newRow("unknown study")
        << QStringLiteral("3.9") << false
        << QStringList{QStringLiteral("3.1"), QStringLiteral("3.2"), QStringLiteral("3.3")}
        << QStringList{QStringLiteral("P1"), QStringLiteral("P2")}
        << QStringList{QStringLiteral("f3.1a"), QStringLiteral("f3.1b"), QStringLiteral("f3.2"), QStringLiteral("f3.3")};
}

void TestDatabase::deleteStudy()
{
    QFETCH(QString, target);
    QFETCH(bool, result);
    QFETCH(QStringList, remainingStudies);
    QFETCH(QStringList, remainingPatients);
    QFETCH(QStringList, remainingPaths);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    db::Database database(nullptr);
    QVERIFY(database.open(path));

    // Real files: deleting from the index must leave them on disk.
    const auto file = [&dir](const QString &name) {
        const QString p = dir.filePath(name);
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write("DICM");
        return p;
    };
    struct Row { const char *patient; const char *study; const char *series; const char *sop; const char *name; int frames; };
    const Row rows[] = {{"P1", "3.1", "3.1.1", "3.1.1.1", "f3.1a", 1}, {"P1", "3.1", "3.1.2", "3.1.2.1", "f3.1b", 3},
                        {"P1", "3.2", "3.2.1", "3.2.1.1", "f3.2", 1}, {"P2", "3.3", "3.3.1", "3.3.1.1", "f3.3", 2}};
    QStringList allFiles;
    for (const Row &r : rows) {
        DicomFileSummary s = ctSummary(QString::fromLatin1(r.patient), QString::fromLatin1(r.study),
                                       QString::fromLatin1(r.series), QString::fromLatin1(r.sop), 1,
                                       file(QString::fromLatin1(r.name)));
        s.number_of_frames = r.frames;
        allFiles.append(s.file_path);
        QVERIFY(database.insertSummary(s));
    }

    QCOMPARE(database.deleteStudy(target), result);
    if (!result)
        QVERIFY(!database.lastError().isEmpty());

    QStringList studies;
    for (const db::StudyRecord &r : database.listStudies())
        studies.append(r.study_instance_uid);
    studies.sort();
    QCOMPARE(studies, remainingStudies);

    RawConnection raw(path);
    QStringList patients;
    QSqlQuery q(raw.db());
    QVERIFY(q.exec(QStringLiteral("SELECT patient_id FROM patients ORDER BY patient_id;")));
    while (q.next())
        patients.append(q.value(0).toString());
    QCOMPARE(patients, remainingPatients);

    QStringList expectedPaths;
    for (const QString &name : remainingPaths)
        expectedPaths.append(dir.filePath(name));
    QStringList paths = database.allFilePaths();
    paths.sort();
    QCOMPARE(paths, expectedPaths);
    // No series or instance rows of the deleted study linger, and the other
    // studies keep all of theirs (one row per frame).
    int expectedInstances = 0;
    int expectedSeries = 0;
    for (const Row &r : rows) {
        if (remainingStudies.contains(QString::fromLatin1(r.study))) {
            expectedInstances += r.frames;
            ++expectedSeries;
        }
    }
    QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM instances;")).toInt(), expectedInstances);
    QCOMPARE(raw.scalar(QStringLiteral("SELECT COUNT(*) FROM series;")).toInt(), expectedSeries);

    for (const QString &f : allFiles)
        QVERIFY2(QFile::exists(f), qPrintable(f));
}

void TestDatabase::statisticsOnEmptyIndex()
{
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));
    const db::ArchiveStatistics stats = database.statistics();
    QCOMPARE(stats.patients, 0);
    QCOMPARE(stats.studies, 0);
    QCOMPARE(stats.series, 0);
    QCOMPARE(stats.instances, 0);
    QVERIFY(stats.studiesPerModality.isEmpty());
    QVERIFY(stats.instancesPerModality.isEmpty());
    QVERIFY(stats.studiesPerMonth.isEmpty());
    QVERIFY(stats.studiesPerDay.isEmpty());
}

void TestDatabase::statisticsCounts()
{
    QTemporaryDir dir;
    db::Database database(nullptr);
    QVERIFY(database.open(dir.filePath(QStringLiteral("index.sqlite3"))));

    // study   patient date       series (modality: files x frames)
    // 2.1     P1      20240115   CT: 3 x 1, MR: 1 x 4
    // 2.2     P1      20240120   CT: 2 x 1
    // 2.3     P2      202402     "": 1 x 1
    // 2.4     P3      (none)     CT: 1 x 1, "": 1 x 1
    struct Row { const char *patient; const char *study; const char *date; const char *series; const char *modality; int files; int frames; };
    const Row rows[] = {{"P1", "2.1", "20240115", "2.1.1", "CT", 3, 1}, {"P1", "2.1", "20240115", "2.1.2", "MR", 1, 4},
                        {"P1", "2.2", "20240120", "2.2.1", "CT", 2, 1}, {"P2", "2.3", "202402", "2.3.1", "", 1, 1},
                        {"P3", "2.4", "", "2.4.1", "CT", 1, 1}, {"P3", "2.4", "", "2.4.2", "", 1, 1}};
    for (const Row &r : rows) {
        for (int i = 0; i < r.files; ++i) {
            const QString series = QString::fromLatin1(r.series);
            DicomFileSummary s = ctSummary(QString::fromLatin1(r.patient), QString::fromLatin1(r.study), series,
                                           series + QStringLiteral(".%1").arg(i), i,
                                           QStringLiteral("/st/%1/%2").arg(series).arg(i));
            s.study_date = QString::fromLatin1(r.date);
            s.modality = QString::fromLatin1(r.modality);
            s.number_of_frames = r.frames;
            QVERIFY(database.insertSummary(s));
        }
    }

    using Pairs = QList<QPair<QString, qint32>>;
    const db::ArchiveStatistics stats = database.statistics();
    QCOMPARE(stats.patients, 3);
    QCOMPARE(stats.studies, 4);
    QCOMPARE(stats.series, 6);
    QCOMPARE(stats.instances, 3 + 4 + 2 + 1 + 1 + 1);
    QCOMPARE(stats.studiesPerModality,
             (Pairs{{QStringLiteral("CT"), 3}, {QStringLiteral("?"), 2}, {QStringLiteral("MR"), 1}}));
    QCOMPARE(stats.instancesPerModality,
             (Pairs{{QStringLiteral("CT"), 6}, {QStringLiteral("MR"), 4}, {QStringLiteral("?"), 2}}));
    QCOMPARE(stats.studiesPerMonth, (Pairs{{QStringLiteral("202401"), 2}, {QStringLiteral("202402"), 1}}));
    QCOMPARE(stats.studiesPerDay, (Pairs{{QStringLiteral("20240115"), 1}, {QStringLiteral("20240120"), 1}}));
}

namespace {

// A day of imports in miniature: new files, re-imports, moves, multi-frame
// files, a file without a Patient ID, and files the index must reject.
QVector<DicomFileSummary> mixedImport()
{
    QVector<DicomFileSummary> out;
    const QString p1 = QStringLiteral("P1");
    out << ctSummary(p1, QStringLiteral("1.1"), QStringLiteral("1.1.1"), QStringLiteral("1.1.1.1"), 1, QStringLiteral("/a/1"));
    out << ctSummary(p1, QStringLiteral("1.1"), QStringLiteral("1.1.1"), QStringLiteral("1.1.1.2"), 2, QStringLiteral("/a/2"));
    // Rejected, but its patient, study and series rows are written before the
    // instance fails.
    out << ctSummary(QStringLiteral("P2"), QStringLiteral("1.2"), QStringLiteral("1.2.1"), QStringLiteral("1.2.1.1"), 1, QString());
    DicomFileSummary moved = out[0];
    moved.file_path = QStringLiteral("/b/1");
    moved.window_center = 40.0;
    moved.image_position[2] = 1000.0;
    out << moved;
    DicomFileSummary mf = ctSummary(p1, QStringLiteral("1.1"), QStringLiteral("1.1.2"), QStringLiteral("1.1.2.1"), 1,
                                    QStringLiteral("/a/mf"));
    mf.number_of_frames = 3;
    mf.modality = QStringLiteral("MR");
    out << mf;
    // A re-import that names no file: the stored row keeps its path.
    DicomFileSummary lost = out[1];
    lost.file_path = QStringLiteral("");
    lost.patient_name = QStringLiteral("Renamed^Before^Failure");
    out << lost;
    DicomFileSummary renamed = out[1];
    renamed.study_description = QStringLiteral("описание изменено");
    out << renamed;
    out << ctSummary(QString(), QStringLiteral("1.3"), QStringLiteral("1.3.1"), QStringLiteral("1.3.1.1"), 1,
                     QStringLiteral("/c/anon"));
    DicomFileSummary mfRejected = mf;
    mfRejected.sop_instance_uid = QStringLiteral("1.1.2.2");
    mfRejected.file_path = QString();
    out << mfRejected;
    out << ctSummary(p1, QStringLiteral("1.1"), QStringLiteral("1.1.1"), QStringLiteral("1.1.1.3"), 3, QStringLiteral("/a/3"));
    return out;
}

} // namespace

void TestDatabase::batchMatchesSingleInserts_data()
{
    QTest::addColumn<int>("batchSize");
    QTest::newRow("one batch") << 0;
    QTest::newRow("batches of 3") << 3;
    QTest::newRow("batches of 1") << 1;
}

void TestDatabase::batchMatchesSingleInserts()
{
    QFETCH(int, batchSize);
    QTemporaryDir dir;
    const QString singlePath = dir.filePath(QStringLiteral("single.sqlite3"));
    const QString batchPath = dir.filePath(QStringLiteral("batch.sqlite3"));
    const QVector<DicomFileSummary> summaries = mixedImport();

    QVector<bool> singleResults;
    QStringList singleErrors;
    {
        db::Database database(nullptr);
        QVERIFY(database.open(singlePath));
        for (const DicomFileSummary &s : summaries) {
            const bool ok = database.insertSummary(s);
            singleResults.append(ok);
            singleErrors.append(ok ? QString() : database.lastError());
        }
    }
    // Exactly the summaries without a file are turned away.
    for (int i = 0; i < summaries.size(); ++i)
        QCOMPARE(singleResults[i], !summaries[i].file_path.isEmpty());

    QVector<bool> batchResults;
    QStringList batchErrors;
    int stored = 0;
    db::Database database(nullptr);
    QVERIFY(database.open(batchPath));
    const int step = batchSize > 0 ? batchSize : int(summaries.size());
    for (int from = 0; from < summaries.size(); from += step) {
        QVector<bool> results;
        QStringList errors;
        const QVector<DicomFileSummary> chunk = summaries.mid(from, step);
        stored += database.insertSummaries(chunk, &results, &errors);
        QCOMPARE(results.size(), chunk.size());
        QCOMPARE(errors.size(), chunk.size());
        batchResults += results;
        batchErrors += errors;
    }

    QCOMPARE(batchResults, singleResults);
    QCOMPARE(batchErrors, singleErrors);
    QCOMPARE(stored, int(std::count(singleResults.cbegin(), singleResults.cend(), true)));

    // The transaction is over: another connection can write at once.
    RawConnection other(batchPath, 0);
    QString error;
    QVERIFY2(other.exec(QStringLiteral("BEGIN IMMEDIATE;"), &error), qPrintable(error));
    QVERIFY(other.exec(QStringLiteral("ROLLBACK;")));

    RawConnection single(singlePath);
    const QStringList expected = single.dumpAll();
    QVERIFY(expected.size() > 10);
    QCOMPARE(other.dumpAll(), expected);
}

void TestDatabase::batchOnFullDisk()
{
    QTemporaryDir dir;
    QVector<DicomFileSummary> summaries;
    for (int i = 0; i < 200; ++i) {
        summaries.append(ctSummary(QStringLiteral("P1"), QStringLiteral("1.1"), QStringLiteral("1.1.1"),
                                   QStringLiteral("1.1.1.%1").arg(i), i,
                                   QStringLiteral("/full/%1/").arg(i) + QString(200, QLatin1Char('x'))));
    }
    // A nearly full disk: the file may grow only by a few pages, so the import
    // runs out of room part-way through. SQLite may then drop the whole
    // transaction, not just the statement.
    const auto limitGrowth = [](const db::Database &database) {
        QSqlQuery q(QSqlDatabase::database(database.connectionName(), false));
        if (!q.exec(QStringLiteral("PRAGMA page_count;")) || !q.next())
            return false;
        const int pages = q.value(0).toInt();
        return q.exec(QStringLiteral("PRAGMA max_page_count = %1;").arg(pages + 6));
    };

    const QString singlePath = dir.filePath(QStringLiteral("single.sqlite3"));
    QVector<bool> singleResults;
    QStringList singleErrors;
    {
        db::Database database(nullptr);
        QVERIFY(database.open(singlePath));
        QVERIFY(limitGrowth(database));
        for (const DicomFileSummary &s : summaries) {
            const bool ok = database.insertSummary(s);
            singleResults.append(ok);
            singleErrors.append(ok ? QString() : database.lastError());
        }
    }
    const int singleStored = int(std::count(singleResults.cbegin(), singleResults.cend(), true));
    QVERIFY2(singleStored > 0, "some summaries fit");
    QVERIFY2(singleStored < summaries.size(), "the disk must fill up for this test to mean anything");

    const QString batchPath = dir.filePath(QStringLiteral("batch.sqlite3"));
    db::Database database(nullptr);
    QVERIFY(database.open(batchPath));
    QVERIFY(limitGrowth(database));
    QVector<bool> results;
    QStringList errors;
    const int stored = database.insertSummaries(summaries, &results, &errors);
    QCOMPARE(stored, singleStored);
    QCOMPARE(results, singleResults);
    QCOMPARE(errors, singleErrors);
    QStringList failures = singleErrors;
    failures.removeAll(QString());
    QCOMPARE(database.lastError(), failures.last());

    // What the batch reports as stored is in the index, and nothing else.
    RawConnection raw(batchPath);
    for (int i = 0; i < summaries.size(); ++i) {
        const int rows = raw.scalar(QStringLiteral("SELECT COUNT(*) FROM instances WHERE sop_instance_uid = :u;"),
                                    {{QStringLiteral(":u"), summaries[i].sop_instance_uid}})
                             .toInt();
        QCOMPARE(rows, results[i] ? 1 : 0);
    }
    RawConnection single(singlePath);
    QCOMPARE(raw.dumpAll(), single.dumpAll());
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
