#include "db/IndexFixture.h"
#include "dicom/DicomSummaryReader.h"
#include "seriesgen/SeriesGenerator.h"

#include <QtTest>

#include <functional>

using namespace velmaris::testing;
using Pairs = QList<QPair<QString, qint32>>;

namespace {

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
    const DicomFileSummary late = ctSummary(u"P1"_s, u"2.1"_s, u"2.1.1"_s, u"2.1.1.9"_s, 9, u"/a/late"_s);
    // The next slice of the same series, with the series relabelled: the
    // batch must not take the series row as already written.
    DicomFileSummary relabelled = late;
    relabelled.sop_instance_uid = u"2.1.1.10"_s;
    relabelled.file_path = u"/a/later"_s;
    relabelled.series_description = u"серия переименована"_s;
    DicomFileSummary multiFrameRejected = multiFrame;
    multiFrameRejected.sop_instance_uid = u"2.1.2.9"_s;
    multiFrameRejected.file_path = QString();
    out << moved << lost << renamed
        << ctSummary(QString(), u"1.3"_s, u"1.3.1"_s, u"1.3.1.1"_s, 1, u"/c/anon"_s)
        << multiFrameRejected
        << late << relabelled;
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
    void reimportUpdatesOnlyNamedColumns();
    void frameRows_data();
    void frameRows();
    void patientWithoutId_data();
    void patientWithoutId();
    void studiesSharingPatientId_data();
    void studiesSharingPatientId();

    void archiveQueries();
    void objectsWithoutImageOutOfImageSeries();
    void deleteStudy_data();
    void deleteStudy();

    void batchMatchesSingleInserts_data();
    void batchMatchesSingleInserts();
};

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
        // The user's protection is no file's to undo.
        {"st.is_protected", [](auto &) {}, "1"},
    };
    DicomFileSummary s = ctSummary(u"1.2.3.100.1.7"_s, u"/archive/CT1"_s);
    TempIndex index;
    QVERIFY(index.open());
    QVERIFY(index.db.insertSummary(s));
    QVERIFY(index.db.setStudyProtected(s.study_instance_uid, true));
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
    QTest::addColumn<QStringList>("expected"); // per frame: x, z, slice location, temporal index

    // The summary itself says: slice location 99, position (7, 8, 9), temporal
    // index 5. Frames of a classic multi-frame file step along z.
    using D = QList<double>;
    using I = QList<int>;
    using S = QStringList;
    QTest::newRow("classic, 3 frames of 2.5 mm") << 3 << 2.5 << D{} << I{} << S{"7 9 0 5", "7 11.5 2.5 5", "7 14 5 5"};
    QTest::newRow("classic, unknown thickness steps 1 mm") << 3 << 0.0 << D{} << I{} << S{"7 9 0 5", "7 10 1 5", "7 11 2 5"};
    QTest::newRow("classic, negative thickness steps 1 mm") << 2 << -3.0 << D{} << I{} << S{"7 9 0 5", "7 10 1 5"};
    S twelve;
    for (int k = 0; k < 12; ++k)
        twelve << u"7 %1 %2 5"_s.arg(9 + k).arg(k);
    QTest::newRow("classic, frame keys past nine") << 12 << 1.0 << D{} << I{} << twelve;
    QTest::newRow("single frame keeps its own location") << 1 << 2.5 << D{} << I{} << S{"7 9 99 5"};
    QTest::newRow("zero frames count as one") << 0 << 2.5 << D{} << I{} << S{"7 9 99 5"};
    QTest::newRow("enhanced, positions and phases for every frame")
        << 3 << 2.5 << D{-10, -12, -14} << I{1, 2, 3} << S{"10 -10 -10 1", "12 -12 -12 2", "14 -14 -14 3"};
    QTest::newRow("enhanced, fewer positions than frames")
        << 4 << 2.5 << D{-10, -12, -14} << I{1, 2} << S{"10 -10 -10 1", "12 -12 -12 2", "14 -14 -14 5", "7 9 99 5"};
    QTest::newRow("enhanced, more phases than frames") << 2 << 2.5 << D{3, 4} << I{4, 5, 6, 7} << S{"-3 3 3 4", "-4 4 4 5"};
    QTest::newRow("enhanced, phases without positions")
        << 3 << 2.5 << D{} << I{1, 1, 2} << S{"7 9 0 1", "7 11.5 2.5 1", "7 14 5 2"};
}

void TestDatabase::frameRows()
{
    QFETCH(int, frames);
    QFETCH(double, thickness);
    QFETCH(QList<double>, perFrameZ);
    QFETCH(QList<int>, perFrameTemporal);
    QFETCH(QStringList, expected);

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
    for (int k = 0; k < expected.size(); ++k) {
        keys.append(k == 0 ? uid : uid + u"#f"_s + QString::number(k));
        expected[k] = u"frame %1 at %2 in /moved/MF"_s.arg(k).arg(expected[k]);
    }
    QList<db::SliceRef> slices = index.db.listInstances(s.series_instance_uid);
    std::sort(slices.begin(), slices.end(),
              [](const db::SliceRef &a, const db::SliceRef &b) { return a.frame_index < b.frame_index; });
    QStringList got;
    for (const db::SliceRef &r : slices) {
        QCOMPARE(r.image_position_y, 8.0);
        got.append(u"frame %1 at %2 %3 %4 %5 in %6"_s.arg(r.frame_index).arg(r.image_position_x).arg(r.image_position_z)
                       .arg(r.slice_location).arg(r.temporal_position_index).arg(r.file_path));
    }
    QCOMPARE(got, expected);
    RawConnection raw(index.path);
    QCOMPARE(raw.rows(u"SELECT sop_instance_uid FROM instances ORDER BY frame_index;"_s), keys);
    QCOMPARE(raw.rows(u"SELECT DISTINCT number_of_frames FROM instances;"_s),
             QStringList{QString::number(frames)});
    QCOMPARE(index.db.listStudies().value(0).instance_count, int(expected.size()));
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

    QStringList listed;
    for (const db::StudyRecord &r : index.db.listStudies())
        listed << r.patient_id + u'|' + r.patient_name;
    QCOMPARE(listed, QStringList(2, u'|' + a.patient_name));
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
    for (const db::StudyRecord &r : index.db.listStudies())
        byUid.insert(r.study_instance_uid, r);
    QCOMPARE(byUid.size(), oldIndex ? 3 : 2);
    for (const velmaris::gen::SeriesSpec *spec : {&first, &second}) {
        const db::StudyRecord r = byUid.value(spec->studyInstanceUid);
        const db::PatientInfo info = index.db.patientInfoForStudy(spec->studyInstanceUid).value_or(db::PatientInfo());
        QCOMPARE(cells({r.patient_id, r.patient_name, r.birth_date, r.sex, info.sex}),
                 cells({u"SHARED"_s, spec->patientName, spec->birthDate, spec->sex, spec->sex}));
    }
    if (oldIndex) {
        // Unreadable files leave the patients row to stand in.
        QCOMPARE(byUid.value(lost).patient_name, second.patientName);
        QCOMPARE(RawConnection(index.path).rows(QStringLiteral("SELECT quote(patient_name) FROM studies "
                                                               "WHERE study_instance_uid = '9.9.9';")),
                 QStringList{u"NULL"_s});
    }

    // Priors for comparison come from the same person only.
    QCOMPARE(studyUids(index.db.listOtherStudiesOfPatient(u"SHARED"_s, a, first.patientName)),
             QStringList());
    QCOMPARE(studyUids(index.db.listOtherStudiesOfPatient(u"SHARED"_s, lost, u"ИВАНОВ^Иван^Петрович"_s)),
             QStringList{a});
    QCOMPARE(index.db.listOtherStudiesOfPatient(u"SHARED"_s, a).size(), oldIndex ? 2 : 1);
}

void TestDatabase::archiveQueries()
{
    TempIndex index;
    QVERIFY(index.open());
    const db::ArchiveStatistics empty = index.db.statistics();
    QCOMPARE(QList<qint32>({empty.patients, empty.studies, empty.series, empty.instances}), QList<qint32>({0, 0, 0, 0}));
    QVERIFY(empty.studiesPerModality.isEmpty() && empty.instancesPerModality.isEmpty() && empty.studiesPerMonth.isEmpty()
            && empty.studiesPerDay.isEmpty());
    QVERIFY2(fillArchive(index), qPrintable(index.db.lastError()));
    const DicomFileSummary reference = ctSummary(QString(), QString());

    const db::ArchiveStatistics stats = index.db.statistics();
    QCOMPARE(QList<qint32>({stats.patients, stats.studies, stats.series, stats.instances}),
             QList<qint32>({3, 5, 10, 3 + 4 + 1 + 2 + 1 + 1 + 1 + 1 + 1 + 1}));
    // A series without a modality counts as '?'; dates too short for the period stay out.
    QCOMPARE(stats.studiesPerModality, (Pairs{{u"CT"_s, 4}, {u"?"_s, 2}, {u"MR"_s, 1}}));
    QCOMPARE(stats.instancesPerModality, (Pairs{{u"CT"_s, 10}, {u"MR"_s, 4}, {u"?"_s, 2}}));
    QCOMPARE(stats.studiesPerMonth, (Pairs{{u"202401"_s, 3}, {u"202402"_s, 1}}));
    QCOMPARE(stats.studiesPerDay, (Pairs{{u"20240115"_s, 2}, {u"20240120"_s, 1}}));

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

    // A multi-frame file is listed once (all files: in the delete table).
    QStringList ofStudy;
    for (const DicomFileSummary &s : archiveSummaries(QDir(index.dir.path()))) {
        if (s.study_instance_uid == QLatin1String("2.1"))
            ofStudy.append(s.file_path);
    }
    QCOMPARE(sorted(index.db.studyFilePaths(u"2.1"_s)), sorted(ofStudy));
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

    const auto pathsOf = [&index](const QString &series) {
        QStringList paths;
        for (const db::SliceRef &slice : index.db.listInstances(series))
            paths.append(slice.file_path);
        return sorted(paths);
    };
    QCOMPARE(pathsOf(u"1.2.3.100.1"_s), (QStringList{u"/a/1"_s, u"/a/2"_s}));
    QCOMPARE(pathsOf(u"1.2.3.100.2"_s), QStringList{report->file_path});
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
