#include "db/IndexDamage.h"
#include "db/IndexFixture.h"

#include <QtTest>

#include <functional>
#include <iterator>

using namespace velmaris::testing;

namespace {

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

// The queries, each of which finds something in the shared archive.
const struct
{
    const char *name;
    bool (*answered)(db::Database &);
} kQueries[] = {
    {"listStudies", [](db::Database &d) { return !d.listStudies().isEmpty(); }},
    {"listOtherStudiesOfPatient", [](db::Database &d) { return !d.listOtherStudiesOfPatient(l1("P1"), l1("2.1")).isEmpty(); }},
    {"listSeries", [](db::Database &d) { return !d.listSeries(l1("2.1")).isEmpty(); }},
    {"listInstances", [](db::Database &d) { return !d.listInstances(l1("2.1.1")).isEmpty(); }},
    {"studyFilePaths", [](db::Database &d) { return !d.studyFilePaths(l1("2.1")).isEmpty(); }},
    {"allFilePaths", [](db::Database &d) { return !d.allFilePaths().isEmpty(); }},
    {"studyExists", [](db::Database &d) { return d.studyExists(l1("2.1")); }},
    {"patientInfoForStudy", [](db::Database &d) { return d.patientInfoForStudy(l1("2.1")).has_value(); }},
    {"statistics", [](db::Database &d) { return !d.statistics().studiesPerDay.isEmpty(); }},
};

// Every operation of an index that is not open fails safely and says why in
// words of its own, not in those of the failed open before it.
void refusesEverything(db::Database &d, const QString &openError)
{
    const DicomFileSummary s = ctSummary(u"1.1"_s, u"/x/1"_s);
    QVector<bool> results;
    QStringList errors;
    const std::function<bool()> writes[] = {
        [&] { return !d.insertSummary(s); },
        [&] {
            return d.insertSummaries({s}, &results, &errors) == 0 && results == QVector<bool>{false}
                   && errors.size() == 1 && !errors[0].isEmpty();
        },
        [&] { return !d.setStudyProtected(s.study_instance_uid, true); },
        [&] { return !d.deleteStudy(s.study_instance_uid); },
    };
    for (size_t i = 0; i < std::size(writes); ++i)
        QVERIFY2(writes[i]() && !d.lastError().isEmpty() && d.lastError() != openError, qPrintable(QString::number(i)));
    for (const auto &query : kQueries)
        QVERIFY2(!query.answered(d) && !d.lastError().isEmpty() && d.lastError() != openError, query.name);
}

} // namespace

// Opening the index file: its settings, damaged and foreign files, failures
// told apart from empty answers, and indexes of earlier versions.
class TestIndexFile : public QObject
{
    Q_OBJECT

private slots:
    void openAndConnections();
    void badIndexFiles_data();
    void badIndexFiles();
    void failedFirstOpenLeavesNoEmptyFile();
    void failedQueriesAreTold();
    void migrationFromOlderIndex_data();
    void migrationFromOlderIndex();
};

void TestIndexFile::openAndConnections()
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

void TestIndexFile::badIndexFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // what the index path holds; null: a directory
    QTest::addColumn<QString>("below");      // opened below the index path instead
    // When the error says more than the driver: how it starts, then what else it names.
    QTest::addColumn<QStringList>("error");
    const QString damaged = u"Индекс архива повреждён: "_s;
    const QStringList notDatabase = {damaged + u"file is not a database"_s};
    QTest::newRow("binary file") << QByteArray("\x00\x9c\xff\x13" "DICM\x02", 9).repeated(8000) << QString()
                                 << notDatabase;
    QTest::newRow("directory") << QByteArray() << QString() << QStringList();
    // Not even root can create a file below a regular file.
    QTest::newRow("below a regular file") << QByteArray("not a directory") << u"/index.sqlite3"_s
                                          << QStringList();

    int instancesRoot = 0;
    const QByteArray healthy = healthyIndex(&instancesRoot);
    const QByteArray overwritten = damagedIndex(healthy, IndexDamage::PageOverwritten);
    const QByteArray instancesOverwritten =
        damagedIndex(healthy, IndexDamage::PageOverwritten, instancesRoot);
    const QByteArray truncated = damagedIndex(healthy, IndexDamage::Truncated);
    QVERIFY(!overwritten.isEmpty() && !instancesOverwritten.isEmpty() && !truncated.isEmpty());
    QVERIFY(instancesRoot != overwrittenPage(healthy));
    // SQLite's quick_check names the page that holds garbage.
    QTest::newRow("index with one page overwritten")
        << overwritten << QString()
        << QStringList{damaged, u"Page %1: "_s.arg(overwrittenPage(healthy))};
    // The largest table is read page by page rather than checked.
    QTest::newRow("index with a page of its instances overwritten")
        << instancesOverwritten << QString() << QStringList{damaged + u"database disk image is malformed"_s};
    QTest::newRow("index cut at a page boundary")
        << truncated << QString() << QStringList{damaged + u"database disk image is malformed"_s};
    // SQLite would take it for an empty database and lay the schema into it.
    QTest::newRow("empty file the program did not create")
        << QByteArray("") << QString() << QStringList{u"Файл индекса пуст (0 байт) и создан не программой: "_s};
}

void TestIndexFile::badIndexFiles()
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
    refusesEverything(index.db, message);
    // Whatever the file was, opening must not have changed it, nor left a
    // journal beside it.
    if (!content.isNull()) {
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
    QCOMPARE(QDir(index.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{u"index.sqlite3"_s});
}

void TestIndexFile::failedFirstOpenLeavesNoEmptyFile()
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

void TestIndexFile::failedQueriesAreTold()
{
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY(fillArchive(index));
    QFile file(index.path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray healthy = file.readAll();
    const QByteArray damaged = damagedIndex(healthy, IndexDamage::AllButFirstPage);
    QVERIFY(!damaged.isEmpty());
    const auto replaceContent = [&file](const QByteArray &content) {
        return file.seek(0) && file.write(content) == content.size() && file.flush();
    };

    // The file is damaged behind the open index, then put back from a copy.
    // Each call says afresh how it went: neither an empty answer nor an
    // earlier failure stands for the error.
    for (const auto &operation : kQueries) {
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

void TestIndexFile::migrationFromOlderIndex_data()
{
    QTest::addColumn<QStringList>("oldIndex");
    QTest::addColumn<bool>("geometry");
    QTest::newRow("first version") << kFirstVersionSchema + kOldRows << false;
    QTest::newRow("geometry version")
        << geometryVersionSchema() + kOldRows
               + QStringList{u"UPDATE instances SET image_position_z = 12.5, has_spatial_info = 1;"_s}
        << true;
}

void TestIndexFile::migrationFromOlderIndex()
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
        const QString columns = u"SELECT name FROM pragma_table_info('%1') ORDER BY name;"_s;
        for (const char *table : kTables)
            QCOMPARE(raw.rows(columns.arg(l1(table))), reference.rows(columns.arg(l1(table))));
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

QTEST_GUILESS_MAIN(TestIndexFile)
#include "test_index_file.moc"
