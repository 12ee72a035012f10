#include "db/Database.h"
#include "db/IndexDamage.h"
#include "db/StudyFilter.h"
#include "db/StudyTableRow.h"
#include "dicom/DicomSummaryReader.h"
#include "seriesgen/SeriesGenerator.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <iterator>

using namespace Qt::StringLiterals;
using dicom::DicomFileSummary;
using velmaris::testing::IndexDamage;
using Pairs = QList<QPair<QString, qint32>>;

namespace {

const char *const kTables[] = {"patients", "studies", "series", "instances"};

QString l1(const char *text)
{
    return QString::fromLatin1(text);
}

// Values joined by '|', so that one comparison shows a whole record.
QString cells(const QVariantList &values)
{
    QStringList out;
    for (const QVariant &v : values)
        out << v.toString();
    return out.join(u'|');
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// A second connection of our own to look at (and prepare) index files behind
// the back of db::Database.
class RawConnection
{
public:
    explicit RawConnection(const QString &path, int busyTimeoutMs = 5000)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(busyTimeoutMs));
        db.open();
    }
    ~RawConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    // The error text, empty on success, so that QCOMPARE shows it.
    QString exec(const QString &sql) const
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        return q.exec(sql) ? QString() : q.lastError().text();
    }

    // One string per row. Typed cells name each value's storage class too, so
    // that two indexes can be compared whole, REAL against INTEGER included.
    QStringList rows(const QString &sql, bool typed = false) const
    {
        QStringList out;
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        q.exec(sql);
        while (q.next()) {
            QStringList cells;
            for (int i = 0, n = q.record().count(); i < n; ++i) {
                const QVariant v = q.value(i);
                if (!typed)
                    cells.append(v.toString());
                else if (v.isNull())
                    cells.append(u"NULL"_s);
                else
                    cells.append(u"%1:%2"_s.arg(l1(v.typeName()), v.toString()));
            }
            out.append(cells.join(QLatin1Char('|')));
        }
        return out;
    }

    int count(const QString &sql) const { return rows(sql).value(0, u"-1"_s).toInt(); }

    QStringList columns(const char *table) const
    {
        return rows(u"SELECT name FROM pragma_table_info('%1') ORDER BY name;"_s.arg(l1(table)));
    }

    // The schema and every row of every table, each table in key order.
    QStringList dumpAll() const
    {
        QStringList out = rows(u"SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY name;"_s);
        for (const char *table : kTables)
            out += rows(u"SELECT * FROM %1 ORDER BY 1;"_s.arg(l1(table)), true);
        return out;
    }

private:
    const QString m_name = u"raw_%1"_s.arg(QUuid::createUuid().toString());
};

// An index file of its own in a temporary directory.
struct TempIndex
{
    QTemporaryDir dir;
    QString path = dir.filePath(u"index.sqlite3"_s);
    db::Database db{nullptr};

    bool open() { return db.open(path); }
    bool insertAll(const QVector<DicomFileSummary> &summaries)
    {
        return std::all_of(summaries.cbegin(), summaries.cend(),
                           [this](const DicomFileSummary &s) { return db.insertSummary(s); });
    }
};

// One slice of an ordinary chest CT.
DicomFileSummary ctSummary(const QString &patientId, const QString &studyUid, const QString &seriesUid,
                           const QString &sopUid, int instanceNumber, const QString &filePath)
{
    DicomFileSummary s;
    s.patient_id = patientId;
    s.patient_name = u"Иванов^Иван^Петрович"_s;
    s.birth_date = u"19620314"_s;
    s.sex = u"M"_s;
    s.weight_kg = 82.5;
    s.height_cm = 176.0;
    s.study_instance_uid = studyUid;
    s.study_date = u"20240115"_s;
    s.study_time = u"101530"_s;
    s.study_description = u"КТ органов грудной клетки"_s;
    s.accession_number = u"A20240115-07"_s;
    s.referring_physician = u"Петрова^А^В"_s;
    s.series_instance_uid = seriesUid;
    s.series_number = u"2"_s;
    s.series_description = u"Lung 1.25mm"_s;
    s.modality = u"CT"_s;
    s.body_part_examined = u"CHEST"_s;
    s.laterality = u"L"_s;
    s.sop_instance_uid = sopUid;
    s.instance_number = instanceNumber;
    s.rows = 512;
    s.pixel_spacing_x = 0.703125;
    s.slice_thickness = 1.25;
    s.slice_location = -1.25 * instanceNumber;
    s.window_center = -600.0;
    s.window_width = 1500.0;
    s.rescale_intercept = -1024.0;
    s.acquisition_time_seconds = 36930.25;
    s.frame_of_reference_uid = u"1.2.826.0.1.3680043.2.1125.1.77"_s;
    s.image_position = {-180.0, -180.0, -1.25 * instanceNumber};
    s.has_spatial_info = true;
    s.file_path = filePath;
    return s;
}

DicomFileSummary ctSummary(const QString &sopUid, const QString &filePath)
{
    return ctSummary(u"PAT-1"_s, u"1.2.3.100"_s, u"1.2.3.100.1"_s,
                     sopUid, 1, filePath);
}

// The archive that most tests share. Insertion order, text dates, a time
// tie-break, a missing date, a missing modality and series numbers that are
// not plain numbers each matter to a query.
const struct ArchiveRow
{
    const char *patient, *study, *date, *time, *series, *seriesNumber, *modality;
    int files, frames;
    double weightKg; // the patient's last file sets the patient's weight
} kArchive[] = {
    {"P1", "2.1", "20240115", "090000", "2.1.1", "10", "CT", 3, 1, 80.0},
    {"P1", "2.1", "20240115", "090000", "2.1.2", "9", "MR", 1, 4, 80.0},
    {"P1", "2.1", "20240115", "090000", "2.1.3", "", "CT", 1, 1, 80.0},
    {"P1", "2.2", "20240120", "100000", "2.2.1", "1", "CT", 2, 1, 81.0},
    {"P2", "2.3", "202402", "120000", "2.3.1", "1", "", 1, 1, 61.0},
    {"P3", "2.4", "", "", "2.4.1", "12a", "CT", 1, 1, 70.0},
    {"P3", "2.4", "", "", "2.4.2", "scout", "", 1, 1, 70.0},
    {"P3", "2.4", "", "", "2.4.3", "-4", "CT", 1, 1, 70.0},
    {"P3", "2.4", "", "", "2.4.4", "2", "CT", 1, 1, 70.0},
    {"P1", "2.5", "20240115", "080000", "2.5.1", "1", "CT", 1, 1, 83.0},
};

// The archive's files, in insertion order, each named after its instance.
QVector<DicomFileSummary> archiveSummaries(const QDir &dir)
{
    QVector<DicomFileSummary> out;
    for (const ArchiveRow &r : kArchive) {
        for (int i = 1; i <= r.files; ++i) {
            const QString sop = l1(r.series) % u'.' % QString::number(i);
            DicomFileSummary s = ctSummary(l1(r.patient), l1(r.study), l1(r.series), sop, i, dir.filePath(sop));
            s.study_date = l1(r.date);
            s.study_time = l1(r.time);
            s.series_number = l1(r.seriesNumber);
            s.modality = l1(r.modality);
            s.number_of_frames = r.frames;
            s.weight_kg = r.weightKg;
            out.append(s);
        }
    }
    return out;
}

// Real files: deleting from the index must leave them on disk.
bool fillArchive(TempIndex &index)
{
    const QVector<DicomFileSummary> summaries = archiveSummaries(QDir(index.dir.path()));
    for (const DicomFileSummary &s : summaries) {
        QFile file(s.file_path);
        if (!file.open(QIODevice::WriteOnly) || file.write("DICM") != 4)
            return false;
    }
    return index.insertAll(summaries);
}

QStringList studyUids(const QList<db::StudyRecord> &studies)
{
    QStringList out;
    for (const db::StudyRecord &r : studies)
        out.append(r.study_instance_uid);
    return out;
}

// The tables of the first released index, before any of the later columns.
const QStringList kFirstVersionSchema = {
    u"CREATE TABLE patients (patient_id TEXT PRIMARY KEY, patient_name TEXT, birth_date TEXT, sex TEXT);"_s,
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
QStringList geometryVersionSchema()
{
    QStringList out = kFirstVersionSchema;
    out << u"ALTER TABLE studies ADD COLUMN is_protected INTEGER DEFAULT 0;"_s
        << u"ALTER TABLE series ADD COLUMN laterality TEXT;"_s
        << u"ALTER TABLE instances ADD COLUMN has_spatial_info INTEGER;"_s;
    for (const char *column : {"repetition_time", "echo_time", "image_position_x", "image_position_y",
                               "image_position_z", "orientation_row_x", "orientation_row_y", "orientation_row_z",
                               "orientation_col_x", "orientation_col_y", "orientation_col_z"})
        out << u"ALTER TABLE instances ADD COLUMN %1 REAL;"_s.arg(l1(column));
    return out;
}

const QStringList kOldRows = {
    u"INSERT INTO patients (patient_id, patient_name, birth_date, sex) VALUES ('OLD-1', 'Сидоров^Олег', '19500101', 'M');"_s,
    QStringLiteral("INSERT INTO studies (study_instance_uid, patient_id, study_date, study_time, study_description) "
                   "VALUES ('9.9.1', 'OLD-1', '20150610', '083000', 'Old study');"),
    QStringLiteral("INSERT INTO series (series_instance_uid, study_instance_uid, series_number, series_description, modality) "
                   "VALUES ('9.9.1.1', '9.9.1', '3', 'Old series', 'MR');"),
    QStringLiteral("INSERT INTO instances (sop_instance_uid, series_instance_uid, instance_number, rows, columns, number_of_frames, "
                   "pixel_spacing_x, slice_thickness, slice_location, file_path) "
                   "VALUES ('9.9.1.1.1', '9.9.1.1', 4, 256, 256, 1, 0.9, 5.0, 12.5, '/archive/old/IM4');"),
};

// A day of imports in miniature: the archive's new files, re-imports, a move,
// a file without a Patient ID, and files the index must reject.
QVector<DicomFileSummary> mixedImport()
{
    QVector<DicomFileSummary> out = archiveSummaries(QDir(u"/a"_s));
    const DicomFileSummary multiFrame = out[3];
    // Rejected, but its patient, study and series rows are written before the
    // instance fails; the rest of the batch goes on after it.
    out.insert(2, ctSummary(u"P4"_s, u"1.2"_s, u"1.2.1"_s, u"1.2.1.1"_s, 1, QString()));
    DicomFileSummary moved = out[0];
    moved.file_path = u"/b/1"_s;
    moved.window_center = 40.0;
    moved.image_position[2] = 1000.0;
    // A re-import that names no file: the stored row keeps its path.
    DicomFileSummary lost = out[1];
    lost.file_path = u""_s;
    lost.patient_name = u"Renamed^Before^Failure"_s;
    DicomFileSummary renamed = out[1];
    renamed.study_description = u"описание изменено"_s;
    DicomFileSummary multiFrameRejected = multiFrame;
    multiFrameRejected.sop_instance_uid = u"2.1.2.9"_s;
    multiFrameRejected.file_path = QString();
    out << moved << lost << renamed
        << ctSummary(QString(), u"1.3"_s, u"1.3.1"_s, u"1.3.1.1"_s, 1, u"/c/anon"_s)
        << multiFrameRejected
        << ctSummary(u"P1"_s, u"2.1"_s, u"2.1.1"_s, u"2.1.1.9"_s, 9, u"/a/late"_s);
    return out;
}

// What single inserts report, summary by summary, for a batch to match.
struct Outcome
{
    QVector<bool> results;
    QStringList errors;
    int stored = 0;
};

Outcome insertOneByOne(db::Database &database, const QVector<DicomFileSummary> &summaries)
{
    Outcome out;
    for (const DicomFileSummary &s : summaries) {
        const bool ok = database.insertSummary(s);
        out.results.append(ok);
        out.errors.append(ok ? QString() : database.lastError());
        out.stored += ok ? 1 : 0;
    }
    return out;
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void openAndConnections();
    void badIndexFiles_data();
    void badIndexFiles();
    void failedFirstOpenLeavesNoEmptyFile();
    void operationsBeforeOpen();
    void failedQueriesAreTold();
    void migrationFromOlderIndex_data();
    void migrationFromOlderIndex();

    void reimportUpdatesOnlyNamedColumns();
    void frameRows_data();
    void frameRows();
    void patientWithoutId_data();
    void patientWithoutId();
    void studiesSharingPatientId_data();
    void studiesSharingPatientId();
    void protectedFlagSurvivesReimport();

    void archiveQueries();
    void objectsWithoutImageOutOfImageSeries();
    void deleteStudy_data();
    void deleteStudy();
    void statistics();

    void batchMatchesSingleInserts_data();
    void batchMatchesSingleInserts();
};

void TestDatabase::openAndConnections()
{
    TempIndex index;
    QVERIFY2(index.open(), qPrintable(index.db.lastError()));
    QVERIFY(index.db.insertSummary(ctSummary(u"1.1"_s, u"/x/1"_s)));
    // Per-connection settings, so ask the index's own connection.
    QSqlQuery q(QSqlDatabase::database(index.db.connectionName(), false));
    QStringList settings;
    for (const char *pragma : {"journal_mode", "foreign_keys"}) {
        QVERIFY(q.exec(u"PRAGMA %1;"_s.arg(l1(pragma))) && q.next());
        settings << q.value(0).toString().toLower();
    }
    QCOMPARE(settings, (QStringList{u"delete"_s, u"1"_s}));

    // Each object has a connection of its own, gone with the object.
    QObject owner;
    auto *first = new db::Database(&owner);
    auto *second = new db::Database(&owner);
    const QString firstName = first->connectionName();
    QVERIFY(firstName != second->connectionName());
    QVERIFY(first->open(u":memory:"_s));
    QVERIFY(first->insertSummary(ctSummary(u"2.2"_s, u"/x/2"_s)));
    QVERIFY(QSqlDatabase::contains(firstName));
    QVERIFY(second->open(u":memory:"_s));
    delete first;
    QVERIFY(!QSqlDatabase::contains(firstName));
    QVERIFY(second->allFilePaths().isEmpty());

    // A locked index is refused; once the other connection lets go the same
    // object opens it intact, moving to the new path.
    RawConnection holder(index.path);
    QCOMPARE(holder.exec(u"BEGIN EXCLUSIVE;"_s), QString());
    QVERIFY(!second->open(index.path));
    QVERIFY2(second->lastError().contains("locked"_L1), qPrintable(second->lastError()));
    QCOMPARE(holder.exec(u"ROLLBACK;"_s), QString());
    QVERIFY2(second->open(index.path), qPrintable(second->lastError()));
    QCOMPARE(second->allFilePaths(), QStringList{u"/x/1"_s});
}

namespace {

// The bytes of a real index holding the shared archive, and where its
// instances table begins.
QByteArray healthyIndex(int *instancesRootPage)
{
    TempIndex index;
    if (!index.open() || !fillArchive(index))
        return QByteArray();
    *instancesRootPage = RawConnection(index.path).count(
        u"SELECT rootpage FROM sqlite_master WHERE name = 'instances';"_s);
    QFile f(index.path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

void TestDatabase::badIndexFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // what the index path holds; null: a directory
    QTest::addColumn<QString>("below");      // opened below the index path instead
    // When the error says more than the driver: how it starts, then what else it names.
    QTest::addColumn<QStringList>("error");
    const QString damaged = u"Индекс архива повреждён: "_s;
    const QStringList notDatabase = {damaged + u"file is not a database"_s};
    QTest::newRow("binary file") << QByteArray("\x00\x9c\xff\x13" "DICM\x02", 9).repeated(8000) << QString()
                                 << notDatabase;
    QTest::newRow("text file") << QByteArray("patient_id;study\nPAT-1;1.2.3\n").repeated(200) << QString()
                               << notDatabase;
    QTest::newRow("directory") << QByteArray() << QString() << QStringList();
    // Not even root can create a file below a regular file.
    QTest::newRow("below a regular file") << QByteArray("not a directory") << u"/index.sqlite3"_s
                                          << QStringList();

    int instancesRoot = 0;
    const QByteArray healthy = healthyIndex(&instancesRoot);
    const QByteArray overwritten = velmaris::testing::damagedIndex(healthy, IndexDamage::PageOverwritten);
    const QByteArray instancesOverwritten =
        velmaris::testing::damagedIndex(healthy, IndexDamage::PageOverwritten, instancesRoot);
    const QByteArray truncated = velmaris::testing::damagedIndex(healthy, IndexDamage::Truncated);
    QVERIFY(!overwritten.isEmpty() && !instancesOverwritten.isEmpty() && !truncated.isEmpty());
    QVERIFY(instancesRoot != velmaris::testing::overwrittenPage(healthy));
    // SQLite's quick_check names the page that holds garbage.
    QTest::newRow("index with one page overwritten")
        << overwritten << QString()
        << QStringList{damaged, u"Page %1: "_s.arg(velmaris::testing::overwrittenPage(healthy))};
    // The largest table is read page by page rather than checked.
    QTest::newRow("index with a page of its instances overwritten")
        << instancesOverwritten << QString() << QStringList{damaged + u"database disk image is malformed"_s};
    QTest::newRow("index cut at a page boundary")
        << truncated << QString() << QStringList{damaged + u"database disk image is malformed"_s};
    // SQLite would take it for an empty database and lay the schema into it.
    QTest::newRow("empty file the program did not create")
        << QByteArray("") << QString() << QStringList{u"Файл индекса пуст (0 байт) и создан не программой: "_s};
}

void TestDatabase::badIndexFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, below);
    QFETCH(QStringList, error);
    TempIndex index;
    QFile f(index.path);
    if (content.isNull())
        QVERIFY(QDir(index.dir.path()).mkdir(u"index.sqlite3"_s));
    else
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    f.close();

    QVERIFY(!index.db.open(index.path + below));
    const QString message = index.db.lastError();
    QVERIFY(!message.trimmed().isEmpty());
    for (qsizetype i = 0; i < error.size(); ++i)
        QVERIFY2(i == 0 ? message.startsWith(error[i]) : message.contains(error[i]), qPrintable(message));
    // A failed open leaves the object usable: it reports instead of crashing.
    QVERIFY(!index.db.insertSummary(ctSummary(u"1.1"_s, u"/x/1"_s)));
    QVERIFY(index.db.listStudies().isEmpty());
    // Whatever the file was, opening must not have changed it, nor left a
    // journal beside it.
    if (!content.isNull()) {
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
    QCOMPARE(QDir(index.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{u"index.sqlite3"_s});
}

void TestDatabase::failedFirstOpenLeavesNoEmptyFile()
{
    // The journal cannot be written: SQLite creates the file, then the schema fails.
    TempIndex index;
    const QString journal = u"index.sqlite3-journal"_s;
    QVERIFY(QDir(index.dir.path()).mkdir(journal));
    QVERIFY(!index.open());
    QVERIFY(!index.db.lastError().isEmpty());
    QVERIFY(!QFileInfo::exists(index.path));

    // So the next start is a first start again, not an empty file to refuse.
    QVERIFY(QDir(index.dir.path()).rmdir(journal));
    QVERIFY2(index.open(), qPrintable(index.db.lastError()));
    QVERIFY(index.db.insertSummary(ctSummary(u"1.1"_s, u"/x/1"_s)));
}

void TestDatabase::operationsBeforeOpen()
{
    const DicomFileSummary s = ctSummary(u"1.1"_s, u"/x/1"_s);
    const QString study = s.study_instance_uid;
    QVector<bool> results;
    QStringList errors;
    // Each fails safely and says why.
    const std::function<bool(db::Database &)> operations[] = {
        [&](db::Database &d) { return !d.insertSummary(s); },
        [&](db::Database &d) {
            return d.insertSummaries({s}, &results, &errors) == 0 && results == QVector<bool>{false}
                   && errors.size() == 1 && !errors[0].isEmpty();
        },
        [&](db::Database &d) { return d.listStudies().isEmpty(); },
        [&](db::Database &d) { return d.listInstances(s.series_instance_uid).isEmpty(); },
        [&](db::Database &d) { return !d.studyExists(study); },
        [&](db::Database &d) { return !d.patientInfoForStudy(study).has_value(); },
        [&](db::Database &d) { return !d.setStudyProtected(study, true); },
        [&](db::Database &d) { return !d.deleteStudy(study); },
        [&](db::Database &d) { return d.statistics().studies == 0; },
    };
    for (size_t i = 0; i < std::size(operations); ++i) {
        db::Database database(nullptr);
        QVERIFY2(operations[i](database) && !database.lastError().isEmpty(), qPrintable(QString::number(i)));
    }
}

void TestDatabase::failedQueriesAreTold()
{
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY(fillArchive(index));
    QFile file(index.path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray healthy = file.readAll();
    const QByteArray damaged = velmaris::testing::damagedIndex(healthy, IndexDamage::AllButFirstPage);
    QVERIFY(!damaged.isEmpty());
    const auto replaceContent = [&file](const QByteArray &content) {
        return file.seek(0) && file.write(content) == content.size() && file.flush();
    };

    // Each of them finds something in the healthy archive.
    const struct
    {
        const char *name;
        std::function<bool(db::Database &)> answered;
    } operations[] = {
        {"listStudies", [](db::Database &d) { return !d.listStudies().isEmpty(); }},
        {"listOtherStudiesOfPatient",
         [](db::Database &d) { return !d.listOtherStudiesOfPatient(l1("P1"), l1("2.1")).isEmpty(); }},
        {"listSeries", [](db::Database &d) { return !d.listSeries(l1("2.1")).isEmpty(); }},
        {"listInstances", [](db::Database &d) { return !d.listInstances(l1("2.1.1")).isEmpty(); }},
        {"studyFilePaths", [](db::Database &d) { return !d.studyFilePaths(l1("2.1")).isEmpty(); }},
        {"allFilePaths", [](db::Database &d) { return !d.allFilePaths().isEmpty(); }},
        {"studyExists", [](db::Database &d) { return d.studyExists(l1("2.1")); }},
        {"patientInfoForStudy", [](db::Database &d) { return d.patientInfoForStudy(l1("2.1")).has_value(); }},
        {"statistics", [](db::Database &d) { return !d.statistics().studiesPerDay.isEmpty(); }},
    };
    // The file is damaged behind the open index, then put back from a copy.
    // Each call says afresh how it went: neither an empty answer nor an
    // earlier failure stands for the error.
    for (const auto &operation : operations) {
        const QString name = l1(operation.name);
        QVERIFY(replaceContent(damaged));
        QVERIFY2(!operation.answered(index.db), operation.name);
        QVERIFY2(index.db.lastError().contains(QLatin1String("database disk image is malformed")),
                 qPrintable(name + u": "_s + index.db.lastError()));
        QVERIFY(replaceContent(healthy));
        QVERIFY2(operation.answered(index.db), operation.name);
        QVERIFY2(index.db.lastError().isEmpty(), qPrintable(name + u": "_s + index.db.lastError()));
    }
}

void TestDatabase::migrationFromOlderIndex_data()
{
    QTest::addColumn<QStringList>("oldIndex");
    QTest::addColumn<bool>("geometry");
    QTest::newRow("first version") << kFirstVersionSchema + kOldRows << false;
    QTest::newRow("geometry version")
        << geometryVersionSchema() + kOldRows
               + QStringList{u"UPDATE instances SET image_position_z = 12.5, has_spatial_info = 1;"_s}
        << true;
}

void TestDatabase::migrationFromOlderIndex()
{
    QFETCH(QStringList, oldIndex);
    QFETCH(bool, geometry);
    TempIndex fresh;
    QVERIFY(fresh.open());
    const QString oldPath = fresh.dir.filePath(u"old.sqlite3"_s);
    {
        RawConnection raw(oldPath);
        for (const QString &sql : oldIndex)
            QCOMPARE(raw.exec(sql), QString());
    }

    QStringList afterFirstOpen;
    {
        db::Database database(nullptr);
        QVERIFY2(database.open(oldPath), qPrintable(database.lastError()));

        // The old row reads back through the current queries.
        const QList<db::StudyRecord> studies = database.listStudies();
        QCOMPARE(studies.size(), 1);
        QCOMPARE(cells({studies[0].study_instance_uid, studies[0].patient_name, studies[0].weight_kg,
                        studies[0].is_protected, studies[0].instance_count}),
                 u"9.9.1|Сидоров^Олег|0|false|1"_s);
        QVERIFY(database.listSeries(u"9.9.1"_s).value(0).laterality.isEmpty());
        const auto slice = [&database] {
            const QList<db::SliceRef> slices = database.listInstances(u"9.9.1.1"_s);
            const db::SliceRef r = slices.value(0);
            return cells({slices.size(), r.file_path, r.instance_number, r.slice_location, r.frame_index,
                          r.acquisition_time_seconds, r.trigger_time_ms, r.temporal_position_index, r.echo_time,
                          r.cardiac_number_of_images, r.has_spatial_info, r.image_position_z});
        };
        const QString position = geometry ? u"12.5"_s : u"0"_s;
        // NULL in the timing columns means "not known", which is not zero.
        QCOMPARE(slice(), u"1|/archive/old/IM4|4|12.5|0|-1|-1|0|0|0|%1|%2"_s.arg(l1(geometry ? "true" : "false"), position));
        // Zero there is known to be zero; any flag but 0 is set.
        QCOMPARE(RawConnection(oldPath).exec(
                     u"UPDATE instances SET acquisition_time_seconds = 0, trigger_time_ms = 350, has_spatial_info = -1;"_s),
                 QString());
        QCOMPARE(slice(), u"1|/archive/old/IM4|4|12.5|0|0|350|0|0|0|true|%1"_s.arg(position));

        // The upserts need every current column.
        const DicomFileSummary s = ctSummary(u"OLD-1"_s, u"9.9.1"_s, u"9.9.1.1"_s,
                                             u"9.9.1.1.2"_s, 5, u"/archive/old/IM5"_s);
        QVERIFY2(database.insertSummary(s), qPrintable(database.lastError()));
        // The counts filled for the old rows go on with the new ones.
        const db::StudyRecord counted = database.listStudies().value(0);
        QCOMPARE(cells({counted.series_count, counted.instance_count}), u"1|2"_s);
    }
    {
        RawConnection raw(oldPath);
        RawConnection reference(fresh.path);
        for (const char *table : kTables)
            QCOMPARE(raw.columns(table), reference.columns(table));
        QCOMPARE(raw.rows(u"SELECT sop_instance_uid, file_path FROM instances ORDER BY 1;"_s),
                 (QStringList{u"9.9.1.1.1|/archive/old/IM4"_s, u"9.9.1.1.2|/archive/old/IM5"_s}));
        afterFirstOpen = raw.dumpAll();
    }

    // A migrated index opens again without a change.
    {
        db::Database database(nullptr);
        QVERIFY2(database.open(oldPath), qPrintable(database.lastError()));
    }
    QCOMPARE(RawConnection(oldPath).dumpAll(), afterFirstOpen);
}

void TestDatabase::reimportUpdatesOnlyNamedColumns()
{
    // The same file comes in again with every one of these values changed.
    // Each column is independent of the others, so one re-import tries them all.
    const struct
    {
        const char *column; // of the joined row below
        std::function<void(DicomFileSummary &)> change;
        const char *after; // the old value where the column must stay
    } changes[] = {
        {"i.file_path", [](auto &s) { s.file_path = u"/moved/CT1"_s; }, "/moved/CT1"},
        {"i.instance_number", [](auto &s) { s.instance_number = 77; }, "77"},
        {"i.window_center", [](auto &s) { s.window_center = 40.0; }, "40"},
        {"i.window_width", [](auto &s) { s.window_width = 400.0; }, "400"},
        {"i.slice_thickness", [](auto &s) { s.slice_thickness = 5.0; }, "5"},
        {"i.slice_location", [](auto &s) { s.slice_location = -333.5; }, "-333.5"},
        {"i.image_position_z", [](auto &s) { s.image_position[2] = -333.5; }, "-1.25"},
        {"i.rows", [](auto &s) { s.rows = 1024; }, "512"},
        {"i.frame_of_reference_uid", [](auto &s) { s.frame_of_reference_uid = u"1.2.9"_s; },
         "1.2.826.0.1.3680043.2.1125.1.77"},
        // The patient's details follow the file indexed last.
        {"p.patient_name", [](auto &s) { s.patient_name = u"Иванов^И"_s; }, "Иванов^И"},
        {"p.weight_kg", [](auto &s) { s.weight_kg = 79.0; }, "79"},
        {"st.study_description", [](auto &s) { s.study_description = u"КТ ОГК повторно"_s; },
         "КТ ОГК повторно"},
        {"se.series_description", [](auto &s) { s.series_description = u"Mediastinum"_s; }, "Mediastinum"},
        {"se.laterality", [](auto &s) { s.laterality = u"R"_s; }, "R"},
    };
    DicomFileSummary s = ctSummary(u"1.2.3.100.1.7"_s, u"/archive/CT1"_s);
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY(index.db.insertSummary(s));
    for (const auto &c : changes)
        c.change(s);
    QVERIFY2(index.db.insertSummary(s), qPrintable(index.db.lastError()));

    RawConnection raw(index.path);
    const QString joined = QStringLiteral(
        "SELECT %1 FROM instances i JOIN series se ON se.series_instance_uid = i.series_instance_uid "
        "JOIN studies st ON st.study_instance_uid = se.study_instance_uid JOIN patients p ON p.patient_id = st.patient_id;");
    for (const auto &c : changes)
        QCOMPARE(raw.rows(joined.arg(l1(c.column))), QStringList{QString::fromUtf8(c.after)});

    // A new Patient ID gets a patient row of its own; the study keeps its patient.
    s.patient_id = u"PAT-2"_s;
    QVERIFY(index.db.insertSummary(s));
    QCOMPARE(raw.rows(u"SELECT patient_id FROM patients ORDER BY 1;"_s), (QStringList{u"PAT-1"_s, u"PAT-2"_s}));
    QCOMPARE(raw.rows(joined.arg(u"st.patient_id"_s)), QStringList{u"PAT-1"_s});
    for (const char *table : kTables)
        QCOMPARE(raw.count(u"SELECT COUNT(*) FROM %1;"_s.arg(l1(table))), table == kTables[0] ? 2 : 1);
}

void TestDatabase::frameRows_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("thickness");
    QTest::addColumn<QList<double>>("perFrameZ"); // per-frame items: location z, position (-z, 8, z)
    QTest::addColumn<QList<int>>("perFrameTemporal");
    QTest::addColumn<QList<double>>("locations"); // expected, one per frame
    QTest::addColumn<QList<double>>("xs");
    QTest::addColumn<QList<double>>("zs");
    QTest::addColumn<QList<int>>("temporal");

    // The summary itself says: slice location 99, position (7, 8, 9), temporal
    // index 5. Frames of a classic multi-frame file step along z.
    using D = QList<double>;
    using I = QList<int>;
    QTest::newRow("classic, 3 frames of 2.5 mm")
        << 3 << 2.5 << D{} << I{} << D{0, 2.5, 5} << D{7, 7, 7} << D{9, 11.5, 14} << I{5, 5, 5};
    QTest::newRow("classic, unknown thickness steps 1 mm")
        << 3 << 0.0 << D{} << I{} << D{0, 1, 2} << D{7, 7, 7} << D{9, 10, 11} << I{5, 5, 5};
    QTest::newRow("classic, negative thickness steps 1 mm")
        << 2 << -3.0 << D{} << I{} << D{0, 1} << D{7, 7} << D{9, 10} << I{5, 5};
    QTest::newRow("classic, frame keys past nine")
        << 12 << 1.0 << D{} << I{} << D{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11} << D(12, 7.0)
        << D{9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20} << I(12, 5);
    QTest::newRow("single frame keeps its own location") << 1 << 2.5 << D{} << I{} << D{99} << D{7} << D{9} << I{5};
    QTest::newRow("zero frames count as one") << 0 << 2.5 << D{} << I{} << D{99} << D{7} << D{9} << I{5};
    QTest::newRow("enhanced, positions and phases for every frame")
        << 3 << 2.5 << D{-10, -12, -14} << I{1, 2, 3} << D{-10, -12, -14} << D{10, 12, 14} << D{-10, -12, -14}
        << I{1, 2, 3};
    QTest::newRow("enhanced, fewer positions than frames")
        << 4 << 2.5 << D{-10, -12, -14} << I{1, 2} << D{-10, -12, -14, 99} << D{10, 12, 14, 7}
        << D{-10, -12, -14, 9} << I{1, 2, 5, 5};
    QTest::newRow("enhanced, more phases than frames")
        << 2 << 2.5 << D{3, 4} << I{4, 5, 6, 7} << D{3, 4} << D{-3, -4} << D{3, 4} << I{4, 5};
    QTest::newRow("enhanced, phases without positions")
        << 3 << 2.5 << D{} << I{1, 1, 2} << D{0, 2.5, 5} << D{7, 7, 7} << D{9, 11.5, 14} << I{1, 1, 2};
}

void TestDatabase::frameRows()
{
    QFETCH(int, frames);
    QFETCH(double, thickness);
    QFETCH(QList<double>, perFrameZ);
    QFETCH(QList<int>, perFrameTemporal);
    QFETCH(QList<double>, locations);
    QFETCH(QList<double>, xs);
    QFETCH(QList<double>, zs);
    QFETCH(QList<int>, temporal);

    const QString uid = u"1.2.3.100.1.9"_s;
    DicomFileSummary s = ctSummary(uid, u"/archive/MF"_s);
    s.number_of_frames = frames;
    s.slice_thickness = thickness;
    s.slice_location = 99.0;
    s.image_position = {7.0, 8.0, 9.0};
    s.temporal_position_index = 5;
    s.per_frame_slice_positions = perFrameZ;
    s.per_frame_position_z = perFrameZ;
    for (double z : perFrameZ)
        s.per_frame_position_x.append(-z);
    s.per_frame_position_y = QVector<double>(perFrameZ.size(), 8.0);
    s.per_frame_temporal_indices = perFrameTemporal;

    TempIndex index;
    QVERIFY(index.open());
    QVERIFY2(index.db.insertSummary(s), qPrintable(index.db.lastError()));
    // Importing the file again, even from elsewhere, keeps one row per frame.
    QVERIFY(index.db.insertSummary(s));
    s.file_path = u"/moved/MF"_s;
    QVERIFY(index.db.insertSummary(s));

    // Frame k > 0 is keyed <uid>#f<k>, so that every frame has a row.
    QStringList keys;
    QStringList expected;
    for (int k = 0; k < locations.size(); ++k) {
        keys.append(k == 0 ? uid : uid + u"#f"_s + QString::number(k));
        expected.append(u"frame %1 at (%2, 8, %3) location %4 phase %5 in /moved/MF"_s
                            .arg(k).arg(xs[k]).arg(zs[k]).arg(locations[k]).arg(temporal[k]));
    }
    QList<db::SliceRef> slices = index.db.listInstances(s.series_instance_uid);
    std::sort(slices.begin(), slices.end(),
              [](const db::SliceRef &a, const db::SliceRef &b) { return a.frame_index < b.frame_index; });
    QStringList got;
    for (const db::SliceRef &r : slices)
        got.append(u"frame %1 at (%2, %3, %4) location %5 phase %6 in %7"_s
                       .arg(r.frame_index).arg(r.image_position_x).arg(r.image_position_y).arg(r.image_position_z)
                       .arg(r.slice_location).arg(r.temporal_position_index).arg(r.file_path));
    QCOMPARE(got, expected);
    RawConnection raw(index.path);
    QCOMPARE(raw.rows(u"SELECT sop_instance_uid FROM instances ORDER BY frame_index;"_s), keys);
    QCOMPARE(raw.rows(u"SELECT DISTINCT number_of_frames FROM instances;"_s),
             QStringList{QString::number(frames)});
    QCOMPARE(index.db.listStudies().value(0).instance_count, int(locations.size()));
}

void TestDatabase::patientWithoutId_data()
{
    QTest::addColumn<QString>("patientId");
    QTest::newRow("no Patient ID") << QString();
    QTest::newRow("empty Patient ID") << u""_s;
}

void TestDatabase::patientWithoutId()
{
    QFETCH(QString, patientId);
    TempIndex index;
    QVERIFY(index.open());
    const DicomFileSummary a = ctSummary(patientId, u"5.1"_s, u"5.1.1"_s, u"5.1.1.1"_s, 1, u"/anon/a"_s);
    DicomFileSummary b = ctSummary(patientId, u"5.2"_s, u"5.2.1"_s, u"5.2.1.1"_s, 1, u"/anon/b"_s);
    b.study_date = u"20240301"_s;
    // Optional text attributes missing from the file arrive as null strings.
    b.laterality = QString();
    b.referring_physician = QString();
    QVERIFY2(index.insertAll({a, b}), qPrintable(index.db.lastError()));
    {
        // One patient, keyed by the empty string; no NULL text anywhere.
        RawConnection raw(index.path);
        QCOMPARE(raw.rows(u"SELECT quote(patient_id) FROM patients;"_s), QStringList{u"''"_s});
        QCOMPARE(raw.rows(u"SELECT quote(patient_id), quote(referring_physician) FROM studies ORDER BY 2;"_s),
                 (QStringList{u"''|''"_s, u"''|'Петрова^А^В'"_s}));
        QCOMPARE(raw.rows(u"SELECT quote(laterality) FROM series ORDER BY 1;"_s), (QStringList{u"''"_s, u"'L'"_s}));
    }

    const QList<db::StudyRecord> studies = index.db.listStudies();
    QCOMPARE(studies.size(), 2);
    for (const db::StudyRecord &r : studies) {
        QVERIFY(r.patient_id.isEmpty());
        QCOMPARE(r.patient_name, a.patient_name);
    }
    QCOMPARE(studyUids(index.db.listOtherStudiesOfPatient(patientId, u"5.1"_s)), QStringList{u"5.2"_s});
    QVERIFY(index.db.patientInfoForStudy(u"5.2"_s).has_value());

    QVERIFY(index.db.deleteStudy(u"5.1"_s));
    QCOMPARE(index.db.statistics().patients, 1);
    QVERIFY(index.db.deleteStudy(u"5.2"_s));
    QCOMPARE(index.db.statistics().patients, 0);
}

void TestDatabase::studiesSharingPatientId_data()
{
    QTest::addColumn<bool>("oldIndex"); // indexed by a version that kept names only per Patient ID
    QTest::newRow("imported") << false;
    QTest::newRow("old index, filled from its files") << true;
}

void TestDatabase::studiesSharingPatientId()
{
    QFETCH(bool, oldIndex);
    TempIndex index;
    // Two people under one reused Patient ID, each study with a file of its own.
    velmaris::gen::SeriesSpec first;
    first.slices = 1;
    first.patientId = u"SHARED"_s;
    first.patientName = u"Иванов^Иван Петрович"_s;
    first.birthDate = u"19620314"_s;
    first.sex = u"M"_s;
    velmaris::gen::SeriesSpec second = first;
    second.patientName = u"Петрова^Анна"_s;
    second.birthDate = u"19850704"_s;
    second.sex = u"F"_s;
    second.studyDate = u"20240301"_s;
    QStringList firstFiles, secondFiles;
    QVERIFY(velmaris::gen::writeSeries(first, index.dir.filePath(u"a"_s), &firstFiles));
    QVERIFY(velmaris::gen::writeSeries(second, index.dir.filePath(u"b"_s), &secondFiles));
    const QString a = first.studyInstanceUid;
    const QString b = second.studyInstanceUid;
    // A study of the old index whose file is gone.
    const QString lost = u"9.9.9"_s;

    if (oldIndex) {
        {
            RawConnection raw(index.path);
            QStringList sql = kFirstVersionSchema;
            // The patients row holds whatever was imported last.
            sql << u"INSERT INTO patients VALUES ('SHARED', 'Петрова^Анна', '19850704', 'F');"_s;
            const auto study = [&sql](const QString &uid, const QString &date, const QString &file) {
                sql << QStringLiteral("INSERT INTO studies (study_instance_uid, patient_id, study_date) "
                                      "VALUES ('%1', 'SHARED', '%2');").arg(uid, date)
                    << QStringLiteral("INSERT INTO series (series_instance_uid, study_instance_uid, series_number) "
                                      "VALUES ('%1.1', '%1', '1');").arg(uid)
                    << QStringLiteral("INSERT INTO instances (sop_instance_uid, series_instance_uid, file_path) "
                                      "VALUES ('%1.1.1', '%1.1', '%2');").arg(uid, file);
            };
            study(a, first.studyDate, firstFiles.value(0));
            study(b, second.studyDate, secondFiles.value(0));
            study(lost, u"20100101"_s, index.dir.filePath(u"gone.dcm"_s));
            for (const QString &statement : std::as_const(sql))
                QCOMPARE(raw.exec(statement), QString());
        }
        QVERIFY2(index.open(), qPrintable(index.db.lastError()));
    } else {
        QVERIFY(index.open());
        for (const QString &file : firstFiles + secondFiles) {
            const std::optional<DicomFileSummary> summary = dicom::readSummary(file);
            QVERIFY(summary.has_value());
            QVERIFY2(index.db.insertSummary(*summary), qPrintable(index.db.lastError()));
        }
    }

    // Each study under the name, birth date and sex of its own files.
    QHash<QString, db::StudyRecord> byUid;
    const QList<db::StudyRecord> studies = index.db.listStudies();
    for (const db::StudyRecord &r : studies)
        byUid.insert(r.study_instance_uid, r);
    QCOMPARE(byUid.size(), oldIndex ? 3 : 2);
    for (const velmaris::gen::SeriesSpec *spec : {&first, &second}) {
        const db::StudyRecord r = byUid.value(spec->studyInstanceUid);
        QCOMPARE(r.patient_id, u"SHARED"_s);
        QCOMPARE(r.patient_name, spec->patientName);
        QCOMPARE(r.birth_date, spec->birthDate);
        QCOMPARE(r.sex, spec->sex);
        QCOMPARE(index.db.patientInfoForStudy(spec->studyInstanceUid).value_or(db::PatientInfo()).sex, spec->sex);
    }
    if (oldIndex) {
        // Unreadable files leave the patients row to stand in.
        QCOMPARE(byUid.value(lost).patient_name, second.patientName);
        QCOMPARE(RawConnection(index.path).rows(QStringLiteral("SELECT quote(patient_name) FROM studies "
                                                               "WHERE study_instance_uid = '9.9.9';")),
                 QStringList{u"NULL"_s});
    }

    // The browser flags the ID and finds each person under their own name.
    const QList<db::StudyTableRow> rows = db::buildStudyRows(studies);
    for (const db::StudyTableRow &row : rows) {
        QCOMPARE(row.text[db::StudyTableRow::PatientId], u"SHARED ⚠"_s);
        QVERIFY(row.patientIdToolTip.contains(u"Иванов Иван Петрович"_s));
        QVERIFY(row.patientIdToolTip.contains(u"Петрова Анна"_s));
    }
    const auto found = [&rows](const QString &text) {
        db::StudyFilter filter;
        filter.text = text;
        QStringList uids;
        for (const db::StudyTableRow &row : rows) {
            if (filter.accepts(row, QDate(2024, 3, 15)))
                uids << row.studyUid;
        }
        return sorted(uids);
    };
    QCOMPARE(found(u"Иванов"_s), QStringList{a});
    QCOMPARE(found(u"Иванов^Иван"_s), QStringList{a});
    QCOMPARE(found(u"Петрова Анна"_s), oldIndex ? sorted({b, lost}) : QStringList{b});

    // Priors for comparison come from the same person only.
    QCOMPARE(studyUids(index.db.listOtherStudiesOfPatient(u"SHARED"_s, a, first.patientName)),
             QStringList());
    QCOMPARE(studyUids(index.db.listOtherStudiesOfPatient(u"SHARED"_s, lost, u"ИВАНОВ^Иван^Петрович"_s)),
             QStringList{a});
    QCOMPARE(index.db.listOtherStudiesOfPatient(u"SHARED"_s, a).size(), oldIndex ? 2 : 1);
}

void TestDatabase::protectedFlagSurvivesReimport()
{
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY(fillArchive(index));
    QVERIFY(index.db.setStudyProtected(u"2.1"_s, true));
    QVERIFY(index.db.setStudyProtected(u"2.2"_s, true));
    QVERIFY(index.db.setStudyProtected(u"2.2"_s, false));

    // The same files come in again, plus one more of the study.
    QVERIFY(fillArchive(index));
    QVERIFY(index.db.insertSummary(ctSummary(u"P1"_s, u"2.1"_s, u"2.1.1"_s, u"2.1.1.9"_s, 9, u"/x/9"_s)));
    QStringList protectedStudies;
    for (const db::StudyRecord &r : index.db.listStudies()) {
        if (r.is_protected)
            protectedStudies.append(r.study_instance_uid);
    }
    QCOMPARE(protectedStudies, QStringList{u"2.1"_s});
}

void TestDatabase::archiveQueries()
{
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY2(fillArchive(index), qPrintable(index.db.lastError()));
    const DicomFileSummary reference = ctSummary(QString(), QString());

    // Date, then time; a missing date first.
    const QList<db::StudyRecord> studies = index.db.listStudies();
    QCOMPARE(studyUids(studies), (QStringList{u"2.4"_s, u"2.5"_s, u"2.1"_s, u"2.2"_s, u"2.3"_s}));
    const db::StudyRecord &mixed = studies[2];
    QCOMPARE(sorted(mixed.modalities.split(u',')), (QStringList{u"CT"_s, u"MR"_s}));
    // Four slices and four frames; the patient's last file sets the weight.
    QCOMPARE(cells({mixed.series_count, mixed.instance_count, mixed.patient_id, mixed.weight_kg, mixed.study_date,
                    mixed.study_time, mixed.patient_name, mixed.birth_date, mixed.sex, mixed.study_description,
                    mixed.accession_number}),
             cells({3, 8, u"P1"_s, 83, u"20240115"_s, u"090000"_s, reference.patient_name, reference.birth_date,
                    reference.sex, reference.study_description, reference.accession_number}));
    const db::StudyRecord &other = studies[4];
    QCOMPARE(cells({other.patient_id, other.weight_kg, other.series_count, other.instance_count, other.modalities}),
             u"P2|61|1|1|"_s);

    // The other studies of a patient, newest first.
    const struct { const char *patient, *exclude; QStringList expected; } others[] = {
        {"P1", "2.2", {u"2.1"_s, u"2.5"_s}},
        {"P1", "no.such.study", {u"2.2"_s, u"2.1"_s, u"2.5"_s}},
        {"P2", "2.3", {}},
        {"P7", "2.1", {}},
    };
    for (const auto &o : others)
        QCOMPARE(studyUids(index.db.listOtherStudiesOfPatient(l1(o.patient), l1(o.exclude))), o.expected);

    // Series in numeric order, where text that is not a number counts as 0.
    const auto seriesOf = [&index](const char *study) {
        QStringList out;
        for (const db::SeriesRecord &r : index.db.listSeries(l1(study)))
            out.append(u"%1: %2 %3 %4 %5 %6 x%7 of %8"_s
                           .arg(r.series_number, r.series_instance_uid, r.modality, r.body_part_examined,
                                r.laterality, r.series_description)
                           .arg(r.instance_count)
                           .arg(r.study_instance_uid));
        return out;
    };
    QCOMPARE(seriesOf("2.1"), (QStringList{u": 2.1.3 CT CHEST L Lung 1.25mm x1 of 2.1"_s,
                                           u"9: 2.1.2 MR CHEST L Lung 1.25mm x4 of 2.1"_s,
                                           u"10: 2.1.1 CT CHEST L Lung 1.25mm x3 of 2.1"_s}));
    QStringList numbers = seriesOf("2.4");
    for (QString &n : numbers)
        n.truncate(n.indexOf(u':'));
    QCOMPARE(numbers, (QStringList{u"-4"_s, u"scout"_s, u"2"_s, u"12a"_s}));
    QVERIFY(index.db.listSeries(u"9.9"_s).isEmpty());

    // A multi-frame file is listed once.
    QStringList all, ofStudy;
    for (const DicomFileSummary &s : archiveSummaries(QDir(index.dir.path()))) {
        all.append(s.file_path);
        if (s.study_instance_uid == QLatin1String("2.1"))
            ofStudy.append(s.file_path);
    }
    QCOMPARE(sorted(index.db.studyFilePaths(u"2.1"_s)), sorted(ofStudy));
    QCOMPARE(sorted(index.db.allFilePaths()), sorted(all));
    QVERIFY(index.db.studyFilePaths(u"9.9"_s).isEmpty());
    QVERIFY(index.db.studyExists(u"2.4"_s));
    QVERIFY(!index.db.studyExists(u"9.9"_s));
    QVERIFY(!index.db.studyExists(QString()));

    // Every study of a patient sees the values of the patient's last file.
    const std::optional<db::PatientInfo> info = index.db.patientInfoForStudy(u"2.1"_s);
    QVERIFY(info.has_value());
    QCOMPARE(cells({info->sex, info->weight_kg, info->height_cm}), cells({reference.sex, 83, reference.height_cm}));
    QCOMPARE(index.db.patientInfoForStudy(u"2.3"_s).value_or(db::PatientInfo()).weight_kg, 61.0);
    QVERIFY(!index.db.patientInfoForStudy(u"9.9"_s).has_value());
}

void TestDatabase::objectsWithoutImageOutOfImageSeries()
{
    // A real structured report (no Rows, no Columns), filed once beside two
    // CT slices and once in a series of its own.
    const std::optional<DicomFileSummary> report = dicom::readSummary(
        u"/usr/lib/python3/dist-packages/pydicom/data/test_files/test-SR.dcm"_s);
    QVERIFY(report);
    DicomFileSummary beside = *report;
    beside.patient_id = u"PAT-1"_s;
    beside.study_instance_uid = u"1.2.3.100"_s;
    beside.series_instance_uid = u"1.2.3.100.1"_s;
    DicomFileSummary alone = beside;
    alone.series_instance_uid = u"1.2.3.100.2"_s;
    alone.sop_instance_uid = u"1.2.3.100.2.1"_s;
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY2(index.insertAll({ctSummary(u"1.2.3.100.1.1"_s, u"/a/1"_s), beside,
                              ctSummary(u"1.2.3.100.1.2"_s, u"/a/2"_s), alone}),
             qPrintable(index.db.lastError()));

    QStringList paths;
    for (const db::SliceRef &slice : index.db.listInstances(u"1.2.3.100.1"_s))
        paths.append(slice.file_path);
    QCOMPARE(sorted(paths), (QStringList{u"/a/1"_s, u"/a/2"_s}));
    const QList<db::SliceRef> onlyReport = index.db.listInstances(u"1.2.3.100.2"_s);
    QCOMPARE(onlyReport.size(), 1);
    QCOMPARE(onlyReport.first().file_path, report->file_path);
    QStringList counts;
    for (const db::SeriesRecord &series : index.db.listSeries(u"1.2.3.100"_s))
        counts.append(u"%1 x%2"_s.arg(series.series_instance_uid).arg(series.instance_count));
    QCOMPARE(sorted(counts), (QStringList{u"1.2.3.100.1 x2"_s, u"1.2.3.100.2 x1"_s}));
}

void TestDatabase::deleteStudy_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("remainingPatients");
    const QStringList all{u"P1"_s, u"P2"_s, u"P3"_s};
    QTest::newRow("patient keeps other studies") << u"2.1"_s << true << all;
    QTest::newRow("last study removes the patient") << u"2.3"_s << true
                                                    << QStringList{u"P1"_s, u"P3"_s};
    QTest::newRow("unknown study") << u"9.9"_s << false << all;
}

void TestDatabase::deleteStudy()
{
    QFETCH(QString, target);
    QFETCH(bool, result);
    QFETCH(QStringList, remainingPatients);
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY(fillArchive(index));

    QCOMPARE(index.db.deleteStudy(target), result);
    QVERIFY(result || index.db.lastError().contains(target));

    // Every other study keeps all of its series, files and rows (one per
    // frame); no file goes from the disk.
    QStringList studies, series, paths;
    int instances = 0;
    for (const DicomFileSummary &s : archiveSummaries(QDir(index.dir.path()))) {
        QVERIFY2(QFile::exists(s.file_path), qPrintable(s.file_path));
        if (s.study_instance_uid != target) {
            studies << s.study_instance_uid;
            series << s.series_instance_uid;
            paths << s.file_path;
            instances += s.number_of_frames;
        }
    }
    studies.removeDuplicates();
    series.removeDuplicates();
    QCOMPARE(sorted(studyUids(index.db.listStudies())), sorted(studies));
    QCOMPARE(sorted(index.db.allFilePaths()), sorted(paths));
    RawConnection raw(index.path);
    QCOMPARE(raw.rows(u"SELECT patient_id FROM patients ORDER BY 1;"_s), remainingPatients);
    QCOMPARE(raw.rows(u"SELECT series_instance_uid FROM series ORDER BY 1;"_s), sorted(series));
    QCOMPARE(raw.count(u"SELECT COUNT(*) FROM instances;"_s), instances);
}

void TestDatabase::statistics()
{
    TempIndex index;
    QVERIFY(index.open());
    const db::ArchiveStatistics empty = index.db.statistics();
    QCOMPARE(QList<qint32>({empty.patients, empty.studies, empty.series, empty.instances}), QList<qint32>({0, 0, 0, 0}));
    QVERIFY(empty.studiesPerModality.isEmpty() && empty.instancesPerModality.isEmpty() && empty.studiesPerMonth.isEmpty()
            && empty.studiesPerDay.isEmpty());

    QVERIFY(fillArchive(index));
    const db::ArchiveStatistics stats = index.db.statistics();
    QCOMPARE(QList<qint32>({stats.patients, stats.studies, stats.series, stats.instances}),
             QList<qint32>({3, 5, 10, 3 + 4 + 1 + 2 + 1 + 1 + 1 + 1 + 1 + 1}));
    // A series without a modality counts as '?'.
    QCOMPARE(stats.studiesPerModality,
             (Pairs{{u"CT"_s, 4}, {u"?"_s, 2}, {u"MR"_s, 1}}));
    QCOMPARE(stats.instancesPerModality,
             (Pairs{{u"CT"_s, 10}, {u"MR"_s, 4}, {u"?"_s, 2}}));
    // Dates too short for the period stay out.
    QCOMPARE(stats.studiesPerMonth, (Pairs{{u"202401"_s, 3}, {u"202402"_s, 1}}));
    QCOMPARE(stats.studiesPerDay, (Pairs{{u"20240115"_s, 2}, {u"20240120"_s, 1}}));
}

void TestDatabase::batchMatchesSingleInserts_data()
{
    QTest::addColumn<bool>("fullDisk");
    QTest::addColumn<int>("batchSize"); // 0: all in one
    QTest::newRow("one batch") << false << 0;
    QTest::newRow("batches of 3") << false << 3;
    QTest::newRow("batches of 1") << false << 1;
    QTest::newRow("full disk") << true << 0;
}

void TestDatabase::batchMatchesSingleInserts()
{
    QFETCH(bool, fullDisk);
    QFETCH(int, batchSize);
    QVector<DicomFileSummary> summaries = mixedImport();
    if (fullDisk) {
        summaries.clear();
        for (int i = 0; i < 200; ++i)
            summaries.append(ctSummary(u"P1"_s, u"1.1"_s, u"1.1.1"_s, u"1.1.1.%1"_s.arg(i), i,
                                       u"/full/%1/"_s.arg(i) + QString(200, QLatin1Char('x'))));
    }
    // A nearly full disk: the file may grow only by a few pages, so the import
    // runs out of room part-way through. SQLite may then drop the whole
    // transaction, not just the statement.
    const auto open = [fullDisk](TempIndex &index) {
        if (!index.open())
            return false;
        if (!fullDisk)
            return true;
        QSqlQuery q(QSqlDatabase::database(index.db.connectionName(), false));
        if (!q.exec(u"PRAGMA page_count;"_s) || !q.next())
            return false;
        const int pages = q.value(0).toInt();
        return q.exec(u"PRAGMA max_page_count = %1;"_s.arg(pages + 6));
    };

    TempIndex single;
    QVERIFY(open(single));
    const Outcome expected = insertOneByOne(single.db, summaries);
    if (fullDisk) {
        QVERIFY2(expected.stored > 0, "some summaries fit");
        QVERIFY2(expected.stored < summaries.size(), "the disk must fill up for this test to mean anything");
    } else {
        // Exactly the summaries without a file are turned away, in the
        // engine's own words, and the index goes on with the next one.
        for (int i = 0; i < summaries.size(); ++i) {
            QCOMPARE(expected.results[i], !summaries[i].file_path.isEmpty());
            QVERIFY(expected.results[i] || expected.errors[i].contains(QLatin1String("file_path")));
        }
    }

    TempIndex batch;
    QVERIFY(open(batch));
    Outcome got;
    const int step = batchSize > 0 ? batchSize : int(summaries.size());
    // Like any call, a batch tells its own last failure and nothing older.
    QString lastFailureOfLastCall;
    for (int from = 0; from < summaries.size(); from += step) {
        lastFailureOfLastCall.clear();
        for (int i = from; i < std::min<int>(from + step, summaries.size()); ++i) {
            if (!expected.errors[i].isEmpty())
                lastFailureOfLastCall = expected.errors[i];
        }
        QVector<bool> results;
        QStringList errors;
        got.stored += batch.db.insertSummaries(summaries.mid(from, step), &results, &errors);
        got.results += results;
        got.errors += errors;
    }
    QCOMPARE(got.results, expected.results);
    QCOMPARE(got.errors, expected.errors);
    QCOMPARE(got.stored, expected.stored);
    QCOMPARE(batch.db.lastError(), lastFailureOfLastCall);

    // The transaction is over: another connection can write at once.
    RawConnection other(batch.path, 0);
    QCOMPARE(other.exec(u"BEGIN IMMEDIATE;"_s), QString());
    QCOMPARE(other.exec(u"ROLLBACK;"_s), QString());
    // What the batch reports as stored is in the index, and nothing else.
    QStringList stored;
    for (int i = 0; i < summaries.size(); ++i) {
        if (got.results[i])
            stored.append(summaries[i].sop_instance_uid);
    }
    stored.removeDuplicates();
    QCOMPARE(other.rows(u"SELECT sop_instance_uid FROM instances WHERE frame_index = 0 ORDER BY 1;"_s),
             sorted(stored));
    const QStringList singleDump = RawConnection(single.path).dumpAll();
    QVERIFY(singleDump.size() > 10);
    QCOMPARE(other.dumpAll(), singleDump);
}

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
