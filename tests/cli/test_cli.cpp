#include "dicom/HostileFiles.h"
#include "seriesgen/SeriesGenerator.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using velmaris::gen::Kind;
using velmaris::gen::SeriesSpec;

namespace {

struct Run
{
    int exitCode = -1;
    QList<QJsonObject> records;
    QString errors;
};

Run cli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(NORVANE_CLI), arguments);
    Run run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            run.exitCode = -3; // every line must be one JSON object
            return run;
        }
        run.records << doc.object();
    }
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList uniqueValues(const QList<QJsonObject> &records, const char *key)
{
    QStringList values;
    for (const auto &r : records)
        values << r.value(QLatin1String(key)).toString();
    values.removeDuplicates();
    return values;
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void summaryReportsEveryFileInOrder();
    void importsAndLists();
    void tagsAsHexRows();
    void exitCodes_data();
    void exitCodes();
    void refusesForeignIndexWithoutTouchingIt();

private:
    QTemporaryDir m_dir;
    SeriesSpec m_ct;
    SeriesSpec m_enhanced;
    QStringList m_ctPaths;
    QString m_enhancedPath;
    QString m_folder;
};

void CliTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_folder = m_dir.filePath(QStringLiteral("archive"));
    QString error;
    m_ct.slices = 12;
    m_ct.rows = m_ct.columns = 32;
    m_ct.seriesNumber = 10;
    m_ct.patientName = QStringLiteral("Кузнецова^Анна");
    QVERIFY2(velmaris::gen::writeSeries(m_ct, m_folder + QStringLiteral("/ct"), &m_ctPaths, &error), qPrintable(error));

    m_enhanced.kind = Kind::EnhancedMultiFrame;
    m_enhanced.slices = 6;
    m_enhanced.rows = m_enhanced.columns = 16;
    m_enhanced.studyInstanceUid = m_ct.studyInstanceUid; // second series of the same study
    m_enhanced.patientName = m_ct.patientName;
    m_enhanced.seriesNumber = 9;
    QStringList paths;
    QVERIFY2(velmaris::gen::writeSeries(m_enhanced, m_folder + QStringLiteral("/enhanced"), &paths, &error),
             qPrintable(error));
    m_enhancedPath = paths.first();

    // Things an archive folder also holds: damaged files and other documents.
    SeriesSpec damaged;
    QVERIFY(velmaris::gen::writeDamagedFile(damaged, velmaris::gen::Damage::NoPreamble,
                                            m_folder + QStringLiteral("/junk/nopreamble.dcm")));
    QVERIFY(velmaris::gen::writeDamagedFile(damaged, velmaris::gen::Damage::TruncatedPixelData,
                                            m_folder + QStringLiteral("/junk/truncated.dcm")));
    QVERIFY(velmaris::testing::writeBytes(m_folder + QStringLiteral("/junk/readme.txt"), "not an image"));
}

void CliTest::summaryReportsEveryFileInOrder()
{
    const QString missing = m_dir.filePath(QStringLiteral("missing.dcm"));
    const QString junk = m_folder + QStringLiteral("/junk/readme.txt");
    const Run run = cli({QStringLiteral("summary"), m_enhancedPath, junk, m_ctPaths.at(3), missing});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.records.size(), 4);
    QCOMPARE(run.records.at(0).value(QLatin1String("file_path")).toString(), m_enhancedPath);
    QCOMPARE(run.records.at(1).value(QLatin1String("is_dicom")).toBool(), false);
    QVERIFY(run.records.at(1).value(QLatin1String("summary")).isNull());
    QVERIFY(run.records.at(3).value(QLatin1String("summary")).isNull());

    const QJsonObject enhanced = run.records.at(0).value(QLatin1String("summary")).toObject();
    QCOMPARE(run.records.at(0).value(QLatin1String("is_dicom")).toBool(), true);
    QCOMPARE(enhanced.value(QLatin1String("number_of_frames")).toInt(), 6);
    QCOMPARE(enhanced.value(QLatin1String("per_frame_position_z")).toArray().size(), 6);
    QCOMPARE(enhanced.value(QLatin1String("per_frame_temporal_indices")).toArray().size(), 6);
    QCOMPARE(enhanced.value(QLatin1String("image_orientation")).toArray().size(), 6);
    const auto lastPosition = velmaris::gen::slicePosition(m_enhanced, 5);
    QVERIFY(qFuzzyCompare(enhanced.value(QLatin1String("per_frame_position_z")).toArray().at(5).toDouble(),
                          lastPosition[2]));

    const QJsonObject ct = run.records.at(2).value(QLatin1String("summary")).toObject();
    QCOMPARE(ct.value(QLatin1String("patient_name")).toString(), m_ct.patientName);
    QCOMPARE(ct.value(QLatin1String("sop_instance_uid")).toString(), velmaris::gen::sopInstanceUid(m_ct, 3));
    QCOMPARE(ct.value(QLatin1String("instance_number")).toInt(), 4);
    QCOMPARE(ct.value(QLatin1String("image_position")).toArray().size(), 3);
    QCOMPARE(ct.value(QLatin1String("has_spatial_info")).toBool(), true);
    for (const char *key : {"rows", "columns", "pixel_spacing_x", "window_center", "rescale_intercept",
                            "acquisition_time_seconds", "temporal_position_index", "frame_of_reference_uid",
                            "per_frame_slice_positions", "file_path"})
        QVERIFY2(ct.contains(QLatin1String(key)), key);
}

void CliTest::importsAndLists()
{
    const QString index = m_dir.filePath(QStringLiteral("index.sqlite3"));
    for (int pass = 0; pass < 2; ++pass) {
        // The second pass finds the same files: same counts, no duplicate rows.
        const Run run = cli({QStringLiteral("import"), m_folder, QStringLiteral("--db"), index});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.records.size(), 1);
        QCOMPARE(run.records.first().value(QLatin1String("imported")).toInt(), 13);
        QCOMPARE(run.records.first().value(QLatin1String("skipped")).toInt(), 3);
    }

    const Run studies = cli({QStringLiteral("studies"), QStringLiteral("--db"), index});
    QCOMPARE(studies.exitCode, 0);
    QCOMPARE(studies.records.size(), 1);
    const QJsonObject study = studies.records.first();
    QCOMPARE(study.value(QLatin1String("study_instance_uid")).toString(), m_ct.studyInstanceUid);
    QCOMPARE(study.value(QLatin1String("patient_name")).toString(), m_ct.patientName);
    QCOMPARE(study.value(QLatin1String("series_count")).toInt(), 2);
    QCOMPARE(study.value(QLatin1String("instance_count")).toInt(), 12 + 6); // frames count singly
    QCOMPARE(study.value(QLatin1String("is_protected")).toBool(), false);
    QCOMPARE(study.value(QLatin1String("modalities")).toString(), QStringLiteral("CT")); // distinct

    const Run series = cli({QStringLiteral("series"), QStringLiteral("--db"), index, m_ct.studyInstanceUid});
    QCOMPARE(series.exitCode, 0);
    QCOMPARE(series.records.size(), 2);
    // Numeric order: series 9 before series 10.
    QCOMPARE(series.records.at(0).value(QLatin1String("series_number")).toString(), QStringLiteral("9"));
    QCOMPARE(series.records.at(1).value(QLatin1String("series_number")).toString(), QStringLiteral("10"));
    QCOMPARE(series.records.at(1).value(QLatin1String("instance_count")).toInt(), 12);

    const Run frames = cli({QStringLiteral("instances"), QStringLiteral("--db"), index, m_enhanced.seriesInstanceUid});
    QCOMPARE(frames.exitCode, 0);
    QCOMPARE(frames.records.size(), 6);
    QSet<int> frameIndices;
    for (const QJsonObject &r : frames.records) {
        frameIndices.insert(r.value(QLatin1String("frame_index")).toInt());
        QCOMPARE(r.value(QLatin1String("file_path")).toString(), m_enhancedPath);
    }
    QCOMPARE(frameIndices, (QSet<int>{0, 1, 2, 3, 4, 5}));
    QCOMPARE(uniqueValues(frames.records, "frame_of_reference_uid").size(), 1);
}

void CliTest::tagsAsHexRows()
{
    const Run run = cli({QStringLiteral("tags"), m_ctPaths.first()});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.records.size() > 20);
    bool sawName = false;
    for (const QJsonObject &r : run.records) {
        QCOMPARE(r.value(QLatin1String("group")).toString().size(), 4);
        QCOMPARE(r.value(QLatin1String("element")).toString().size(), 4);
        QVERIFY(r.value(QLatin1String("group")).toString() != QLatin1String("7FE0"));
        if (r.value(QLatin1String("group")).toString() == QLatin1String("0010")
            && r.value(QLatin1String("element")).toString() == QLatin1String("0010")) {
            sawName = true;
            QCOMPARE(r.value(QLatin1String("vr")).toString(), QStringLiteral("PN"));
            QCOMPARE(r.value(QLatin1String("value")).toString(), m_ct.patientName);
        }
    }
    QVERIFY(sawName);
}

void CliTest::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    const QString missing = QStringLiteral("/nonexistent/velmaris");
    QTest::newRow("no command") << QStringList() << 2;
    QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")} << 2;
    QTest::newRow("summary without files") << QStringList{QStringLiteral("summary")} << 2;
    QTest::newRow("import without --db") << QStringList{QStringLiteral("import"), QStringLiteral("/tmp")} << 2;
    QTest::newRow("--db without value") << QStringList{QStringLiteral("studies"), QStringLiteral("--db")} << 2;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("studies"), QStringLiteral("--fast")} << 2;
    QTest::newRow("import of a missing folder")
        << QStringList{QStringLiteral("import"), missing, QStringLiteral("--db"), QStringLiteral("/tmp/x.sqlite3")} << 1;
    QTest::newRow("studies of a missing index")
        << QStringList{QStringLiteral("studies"), QStringLiteral("--db"), missing} << 1;
    QTest::newRow("tags of a missing file") << QStringList{QStringLiteral("tags"), missing} << 1;
}

void CliTest::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.records.isEmpty());
    QVERIFY(!run.errors.trimmed().isEmpty());
}

void CliTest::refusesForeignIndexWithoutTouchingIt()
{
    const QString foreign = m_dir.filePath(QStringLiteral("notes.sqlite3"));
    const QByteArray content(4096, 'n');
    QVERIFY(velmaris::testing::writeBytes(foreign, content));
    const Run run = cli({QStringLiteral("import"), m_folder, QStringLiteral("--db"), foreign});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!run.errors.isEmpty());
    QFile f(foreign);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), content);
}

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
