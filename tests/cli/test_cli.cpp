#include "dicom/HostileFiles.h"
#include "seriesgen/SeriesGenerator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using velmaris::gen::Kind;
using velmaris::gen::SeriesSpec;

namespace {

struct Run
{
    int exitCode = -1;
    QList<QJsonObject> records;
    QString errors;
    QJsonValue at(int record, const char *key) const { return records.value(record).value(QLatin1String(key)); }
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
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject()) {
            run.exitCode = -3; // every line must be one JSON object
            return run;
        }
        run.records << doc.object();
    }
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString pydicomFile(const char *name)
{
    return u"/usr/lib/python3/dist-packages/pydicom/data/test_files/"_s + QLatin1String(name);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// pydicom's decoding of one frame: pixel_array × slope + intercept as
// little-endian float64, row-major; empty when pydicom failed.
QByteArray pydicomValues(const QString &path, int frame, const QString &out)
{
    static const char script[] = R"PY(
import sys, numpy as np, pydicom
ds = pydicom.dcmread(sys.argv[1])
arr = ds.pixel_array
if int(ds.get('NumberOfFrames', 1) or 1) > 1:
    arr = arr[int(sys.argv[2])]
v = arr.astype('<f8') * float(ds.get('RescaleSlope', 1) or 1) + float(ds.get('RescaleIntercept', 0) or 0)
open(sys.argv[3], 'wb').write(np.ascontiguousarray(v, dtype='<f8').tobytes())
)PY";
    QProcess process;
    process.start(u"/usr/bin/python3"_s, {u"-c"_s, QString::fromLatin1(script), path, QString::number(frame), out});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("pydicom: %s", process.readAllStandardError().constData());
        return QByteArray();
    }
    return fileBytes(out);
}

// Width, height, bit depth and colour type from a PNG's IHDR chunk, read by
// hand: this test links no image library.
QList<int> pngHeader(const QString &path)
{
    const QByteArray b = fileBytes(path);
    if (b.size() < 33 || !b.startsWith("\x89PNG\r\n\x1a\n") || b.mid(12, 4) != "IHDR")
        return {};
    return {qFromBigEndian<qint32>(b.constData() + 16), qFromBigEndian<qint32>(b.constData() + 20), uchar(b[24]),
            uchar(b[25])};
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
    void refusesDamagedIndexWithoutTouchingIt_data();
    void refusesDamagedIndexWithoutTouchingIt();
    void importReportsFilesTheIndexRefused();
    void valuesMatchPydicom_data();
    void valuesMatchPydicom();
    void renderWritesPng_data();
    void renderWritesPng();
    void imageVerbFailures();

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
    m_folder = m_dir.filePath(u"archive"_s);
    m_ct.slices = 12;
    m_ct.rows = m_ct.columns = 32;
    m_ct.seriesNumber = 10;
    m_ct.patientName = u"Кузнецова^Анна"_s;
    QVERIFY(velmaris::gen::writeSeries(m_ct, m_folder + u"/ct"_s, &m_ctPaths));
    m_enhanced.kind = Kind::EnhancedMultiFrame;
    m_enhanced.slices = 6;
    m_enhanced.rows = m_enhanced.columns = 16;
    m_enhanced.studyInstanceUid = m_ct.studyInstanceUid; // second series of the same study
    m_enhanced.patientName = m_ct.patientName;
    m_enhanced.seriesNumber = 9;
    QStringList paths;
    QVERIFY(velmaris::gen::writeSeries(m_enhanced, m_folder + u"/enhanced"_s, &paths));
    m_enhancedPath = paths.first();

    // Things an archive folder also holds: damaged files and other documents.
    SeriesSpec junk;
    QVERIFY(velmaris::gen::writeDamagedFile(junk, velmaris::gen::Damage::NoPreamble, m_folder + u"/junk/nopreamble.dcm"_s));
    QVERIFY(velmaris::gen::writeDamagedFile(junk, velmaris::gen::Damage::TruncatedPixelData,
                                            m_folder + u"/junk/truncated.dcm"_s));
    QVERIFY(velmaris::testing::writeBytes(m_folder + u"/junk/readme.txt"_s, "not an image"));
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath(u"pipe.dcm"_s)).constData(), 0600), 0);
}

void CliTest::summaryReportsEveryFileInOrder()
{
    const Run run = cli({u"summary"_s, m_enhancedPath, m_folder + u"/junk/readme.txt"_s, m_ctPaths.at(3),
                         m_dir.filePath(u"missing.dcm"_s)});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.records.size(), 4);
    QCOMPARE(run.at(0, "file_path").toString(), m_enhancedPath);
    QCOMPARE(run.at(0, "is_dicom").toBool(), true);
    QCOMPARE(run.at(1, "is_dicom").toBool(), false);
    QVERIFY(run.at(1, "summary").isNull() && run.at(3, "summary").isNull());

    // What the summary holds is the summary reader's; here that it comes through.
    const QJsonArray enhancedZ = run.at(0, "summary").toObject().value("per_frame_position_z"_L1).toArray();
    QCOMPARE(enhancedZ.size(), 6);
    QVERIFY(qFuzzyCompare(enhancedZ.at(5).toDouble(), velmaris::gen::slicePosition(m_enhanced, 5)[2]));

    const QJsonObject ct = run.at(2, "summary").toObject();
    QCOMPARE(ct.value("patient_name"_L1).toString(), m_ct.patientName);
    QCOMPARE(ct.value("sop_instance_uid"_L1).toString(), velmaris::gen::sopInstanceUid(m_ct, 3));
    for (const char *key : {"rows", "columns", "pixel_spacing_x", "window_center", "rescale_intercept",
                            "acquisition_time_seconds", "temporal_position_index", "frame_of_reference_uid",
                            "per_frame_slice_positions", "file_path"})
        QVERIFY2(ct.contains(QLatin1String(key)), key);
}

void CliTest::importsAndLists()
{
    const QString index = m_dir.filePath(u"index.sqlite3"_s);
    for (int pass = 0; pass < 2; ++pass) {
        // The second pass finds the same files: same counts, no duplicate rows.
        const Run run = cli({u"import"_s, m_folder, u"--db"_s, index});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.records.size(), 1);
        QCOMPARE(run.at(0, "imported").toInt(), 13);
        QCOMPARE(run.at(0, "skipped").toInt(), 3);
    }

    const Run studies = cli({u"studies"_s, u"--db"_s, index});
    QCOMPARE(studies.exitCode, 0);
    QCOMPARE(studies.records.size(), 1);
    QCOMPARE(studies.at(0, "study_instance_uid").toString(), m_ct.studyInstanceUid);
    QCOMPARE(studies.at(0, "instance_count").toInt(), 12 + 6); // frames count singly

    // The order of the series is the index's own (numeric: 9 before 10).
    const Run series = cli({u"series"_s, u"--db"_s, index, m_ct.studyInstanceUid});
    QCOMPARE(series.exitCode, 0);
    QCOMPARE(series.records.size(), 2);
    QCOMPARE(series.at(1, "instance_count").toInt(), 12);

    // One row per frame; which frame each is, is the index's.
    const Run frames = cli({u"instances"_s, u"--db"_s, index, m_enhanced.seriesInstanceUid});
    QCOMPARE(frames.exitCode, 0);
    QCOMPARE(frames.records.size(), 6);
    QCOMPARE(frames.at(5, "file_path").toString(), m_enhancedPath);
}

void CliTest::tagsAsHexRows()
{
    const Run run = cli({u"tags"_s, m_ctPaths.first()});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.records.size() > 20);
    // Group and element as four upper-case hex digits.
    const auto rows = [&run](const char *group, const char *element, const char *vr, const char *name,
                             const QString &value) {
        return run.records.count(QJsonObject{{"group"_L1, QLatin1String(group)}, {"element"_L1, QLatin1String(element)},
                                             {"vr"_L1, QLatin1String(vr)}, {"name"_L1, QLatin1String(name)},
                                             {"value"_L1, value}});
    };
    QCOMPARE(rows("0010", "0010", "PN", "PatientName", m_ct.patientName), 1);
    QCOMPARE(rows("0008", "103E", "LO", "SeriesDescription", m_ct.seriesDescription), 1);
}

void CliTest::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    const QString missing = u"/nonexistent/velmaris"_s;
    const QString file = m_ctPaths.first();
    const QString out = m_dir.filePath(u"failed.out"_s);
    QTest::newRow("no command") << QStringList() << 2;
    QTest::newRow("unknown command") << QStringList{u"frobnicate"_s} << 2;
    QTest::newRow("import without --db") << QStringList{u"import"_s, u"/tmp"_s} << 2;
    QTest::newRow("unknown option") << QStringList{u"studies"_s, u"--fast"_s} << 2;
    QTest::newRow("values without --out") << QStringList{u"values"_s, file} << 2;
    QTest::newRow("frame not a number") << QStringList{u"values"_s, file, u"--out"_s, out, u"--frame"_s, u"two"_s} << 2;
    QTest::newRow("values with a window")
        << QStringList{u"values"_s, file, u"--out"_s, out, u"--window"_s, u"40"_s, u"400"_s} << 2;
    QTest::newRow("window of one value") << QStringList{u"render"_s, file, u"--out"_s, out, u"--window"_s, u"40"_s} << 2;
    QTest::newRow("window not a number")
        << QStringList{u"render"_s, file, u"--out"_s, out, u"--window"_s, u"c"_s, u"400"_s} << 2;
    QTest::newRow("import of a missing folder") << QStringList{u"import"_s, missing, u"--db"_s, u"/tmp/x.sqlite3"_s} << 1;
    QTest::newRow("studies of a missing index") << QStringList{u"studies"_s, u"--db"_s, missing} << 1;
    QTest::newRow("tags of a missing file") << QStringList{u"tags"_s, missing} << 1;
    // A named pipe is refused, never opened: reading it would wait for a writer.
    const QString pipe = m_dir.filePath(u"pipe.dcm"_s);
    QTest::newRow("summary of a named pipe") << QStringList{u"summary"_s, pipe} << 1;
    QTest::newRow("tags of a named pipe") << QStringList{u"tags"_s, pipe} << 1;
}

void CliTest::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.records.isEmpty());
    QVERIFY(!run.errors.trimmed().isEmpty());
    QVERIFY(!QFile::exists(m_dir.filePath(u"failed.out"_s)));
}

void CliTest::refusesDamagedIndexWithoutTouchingIt_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error"); // what stderr says, SQLite's own words included
    const QString damaged = u"Индекс архива повреждён: "_s;
    // Damaged real indexes are the index's own tests; here that the verbs go through its checks.
    QTest::newRow("not an index") << QByteArray(4096, 'n') << damaged + u"file is not a database"_s;
    QTest::newRow("empty file made elsewhere") << QByteArray("") << u"Файл индекса пуст (0 байт) и создан не программой"_s;
}

void CliTest::refusesDamagedIndexWithoutTouchingIt()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString index = dir.filePath(u"index.sqlite3"_s);
    QVERIFY(velmaris::testing::writeBytes(index, content));
    // Neither writing to it nor reading from it passes for success.
    for (const QStringList &arguments : {QStringList{u"import"_s, m_folder}, QStringList{u"studies"_s}}) {
        const Run run = cli(arguments + QStringList{u"--db"_s, index});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.records.isEmpty());
        QVERIFY2(run.errors.contains(error), qPrintable(run.errors));
    }
    QCOMPARE(fileBytes(index), content);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{u"index.sqlite3"_s});
}

void CliTest::importReportsFilesTheIndexRefused()
{
    QTemporaryDir dir;
    const QString index = dir.filePath(u"index.sqlite3"_s);
    QCOMPARE(cli({u"import"_s, m_folder, u"--db"_s, index}).exitCode, 0);
    // The index itself refuses one of the files, as a full disk would: a real
    // SQLite failure, set up by a connection of its own.
    QProcess python;
    python.start(u"/usr/bin/python3"_s,
                 {u"-c"_s,
                  uR"(import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
c.execute("CREATE TRIGGER refuse BEFORE UPDATE ON instances WHEN NEW.sop_instance_uid = '%1' BEGIN SELECT RAISE(ABORT, 'refused'); END")
c.commit()
)"_s.arg(velmaris::gen::sopInstanceUid(m_ct, 5)),
                  index});
    QVERIFY(python.waitForFinished(60000) && python.exitCode() == 0);

    const Run run = cli({u"import"_s, m_folder, u"--db"_s, index});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.records.size(), 1); // what was stored is still told
    QCOMPARE(run.at(0, "imported").toInt(), 12);
    QCOMPARE(run.at(0, "skipped").toInt(), 4);
    QVERIFY2(run.errors.startsWith(u"Индекс не принял 1 файл(ов): refused"_s), qPrintable(run.errors));
}

void CliTest::valuesMatchPydicom_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("frame");
    QTest::newRow("generated CT, uncompressed") << u"ct"_s << 0;
    QTest::newRow("generated multi-frame, RLE, frame 2") << u"rle"_s << 2;
    QTest::newRow("pydicom MR_small.dcm") << u"MR_small.dcm"_s << 0;
}

void CliTest::valuesMatchPydicom()
{
    QFETCH(QString, kind);
    QFETCH(int, frame);
    const bool generated = kind == "ct"_L1 || kind == "rle"_L1;
    QString path = pydicomFile(kind.toLatin1().constData());
    if (generated) {
        SeriesSpec spec;
        spec.kind = kind == "ct"_L1 ? Kind::CT : Kind::ClassicMultiFrame;
        spec.compression = kind == "ct"_L1 ? velmaris::gen::Compression::None : velmaris::gen::Compression::Rle;
        spec.slices = kind == "ct"_L1 ? 1 : 4;
        spec.rows = 40;
        spec.columns = 48;
        spec.rescaleSlope = 1.0;
        spec.rescaleIntercept = -1024.0;
        QStringList paths;
        QVERIFY(velmaris::gen::writeSeries(spec, m_dir.filePath(u"values_"_s + kind), &paths));
        path = paths.first();
    }
    const int width = generated ? 48 : 64, height = generated ? 40 : 64;
    const QString raw = m_dir.filePath(u"values_%1_%2.raw"_s.arg(kind).arg(frame));
    QStringList arguments{u"values"_s, path, u"--out"_s, raw};
    if (frame != 0)
        arguments << u"--frame"_s << QString::number(frame);
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.records.size(), 1);
    QCOMPARE(run.at(0, "ok").toBool(), true);
    QCOMPARE(run.at(0, "width").toInt(), width);
    QCOMPARE(run.at(0, "height").toInt(), height);
    QCOMPARE(run.at(0, "error").toString(), QString());
    QCOMPARE(run.records.first().keys().size(), 4);

    const QByteArray ours = fileBytes(raw);
    QCOMPARE(ours.size(), qsizetype(width) * height * 8);
    const QByteArray theirs = pydicomValues(path, frame, raw + u".pydicom"_s);
    QVERIFY(!theirs.isEmpty());
    QVERIFY(ours == theirs);
}

void CliTest::renderWritesPng_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("size"); // square
    QTest::addColumn<int>("frameCount");
    QTest::addColumn<QList<double>>("window"); // empty: not checked
    QTest::newRow("CT, file window") << u"ct"_s << QStringList() << u"Grayscale8"_s << 32 << 1 << QList<double>{40, 400};
    QTest::newRow("CT, given window") << u"ct"_s << QStringList{u"--window"_s, u"-600"_s, u"1500"_s} << u"Grayscale8"_s
                                      << 32 << 1 << QList<double>{-600, 1500};
    // The window of this one lies in functional groups.
    QTest::newRow("enhanced multi-frame, middle frame")
        << u"enhanced"_s << QStringList{u"--frame"_s, u"-1"_s} << u"Grayscale8"_s << 16 << 6 << QList<double>();
    QTest::newRow("RGB, RLE, two frames, second") << pydicomFile("SC_rgb_rle_2frame.dcm") << QStringList{u"--frame=1"_s}
                                                  << u"RGB888"_s << 100 << 2 << QList<double>();
}

void CliTest::renderWritesPng()
{
    QFETCH(QString, file);
    QFETCH(QStringList, options);
    QFETCH(QString, format);
    QFETCH(int, size);
    QFETCH(int, frameCount);
    QFETCH(QList<double>, window);
    if (file == "ct"_L1)
        file = m_ctPaths.first();
    else if (file == "enhanced"_L1)
        file = m_enhancedPath;
    const QString png = m_dir.filePath(u"render_%1.png"_s.arg(QTest::currentDataTag()).replace(u' ', u'_'));
    const Run run = cli(QStringList{u"render"_s, file, u"--out"_s, png} + options);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.records.size(), 1);
    QCOMPARE(run.records.first().keys().size(), 5);
    QCOMPARE(run.at(0, "ok").toBool(), true);
    QCOMPARE(run.at(0, "format").toString(), format);
    QCOMPARE(run.at(0, "frame_count").toInt(), frameCount);
    if (!window.isEmpty())
        QCOMPARE((QList<double>{run.at(0, "window_center").toDouble(), run.at(0, "window_width").toDouble()}), window);
    QCOMPARE(pngHeader(png), (QList<int>{size, size, 8, format == "Grayscale8"_L1 ? 0 : 2}));
}

void CliTest::imageVerbFailures()
{
    const QString out = m_dir.filePath(u"failed.out"_s);
    const Run values = cli({u"values"_s, m_dir.filePath(u"missing.dcm"_s), u"--out"_s, out});
    QCOMPARE(values.exitCode, 1);
    QCOMPARE(values.records.size(), 1);
    QCOMPARE(values.at(0, "ok").toBool(), false);
    QVERIFY(values.at(0, "error").toString().startsWith("loadFile: "_L1));
    QVERIFY(values.errors.contains(values.at(0, "error").toString()));

    // Short Pixel Data (what the decoder makes of it is the hostile-input tests').
    const Run render = cli({u"render"_s, m_folder + u"/junk/truncated.dcm"_s, u"--out"_s, out});
    QCOMPARE(render.exitCode, 1);
    QCOMPARE(render.records.size(), 1);
    QCOMPARE(render.at(0, "ok").toBool(), false);
    QVERIFY(!render.errors.trimmed().isEmpty());
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
