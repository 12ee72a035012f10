#include "db/IndexDamage.h"
#include "dicom/HostileFiles.h"
#include "seriesgen/SeriesGenerator.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

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

QString pydicomFile(const char *name)
{
    return QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/") + QLatin1String(name);
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
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"), QString::fromLatin1(script), path, QString::number(frame), out});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        qWarning("pydicom: %s", process.readAllStandardError().constData());
        return QByteArray();
    }
    QFile file(out);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The header of a PNG file (its IHDR chunk), read by hand: this test links no
// image library.
struct PngHeader
{
    bool valid = false;
    quint32 width = 0;
    quint32 height = 0;
    int bitDepth = 0;
    int colourType = -1; // 0 greyscale, 2 RGB
};

PngHeader pngHeader(const QString &path)
{
    const QByteArray bytes = fileBytes(path);
    PngHeader header;
    if (bytes.size() < 33 || !bytes.startsWith("\x89PNG\r\n\x1a\n") || bytes.mid(12, 4) != "IHDR")
        return header;
    auto be32 = [&](int at) {
        return quint32(uchar(bytes[at])) << 24 | quint32(uchar(bytes[at + 1])) << 16
               | quint32(uchar(bytes[at + 2])) << 8 | quint32(uchar(bytes[at + 3]));
    };
    header.valid = true;
    header.width = be32(16);
    header.height = be32(20);
    header.bitDepth = uchar(bytes[24]);
    header.colourType = uchar(bytes[25]);
    return header;
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
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("pipe.dcm"))).constData(), 0600), 0);
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
    // A named pipe is refused, never opened: reading it would wait for a writer.
    const QString pipe = m_dir.filePath(QStringLiteral("pipe.dcm"));
    QTest::newRow("summary of a named pipe") << QStringList{QStringLiteral("summary"), pipe} << 1;
    QTest::newRow("tags of a named pipe") << QStringList{QStringLiteral("tags"), pipe} << 1;
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

void CliTest::refusesDamagedIndexWithoutTouchingIt_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error"); // what stderr says, SQLite's own words included
    const QString damaged = QStringLiteral("Индекс архива повреждён: ");
    QTest::newRow("not an index") << QByteArray(4096, 'n') << damaged + QStringLiteral("file is not a database");

    // A real index of the archive, written by norvane-cli itself.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    QCOMPARE(cli({QStringLiteral("import"), m_folder, QStringLiteral("--db"), path}).exitCode, 0);
    const QByteArray healthy = fileBytes(path);
    using velmaris::testing::IndexDamage;
    const QByteArray overwritten = velmaris::testing::damagedIndex(healthy, IndexDamage::PageOverwritten);
    const QByteArray truncated = velmaris::testing::damagedIndex(healthy, IndexDamage::Truncated);
    QVERIFY(!overwritten.isEmpty() && !truncated.isEmpty());
    const QString malformed = damaged + QStringLiteral("database disk image is malformed");
    // Which words SQLite finds for it depends on the page; the index's tests tell them apart.
    QTest::newRow("one page overwritten") << overwritten << damaged;
    QTest::newRow("cut at a page boundary") << truncated << malformed;
    QTest::newRow("empty file made elsewhere")
        << QByteArray("") << QStringLiteral("Файл индекса пуст (0 байт) и создан не программой");
}

void CliTest::refusesDamagedIndexWithoutTouchingIt()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString index = dir.filePath(QStringLiteral("index.sqlite3"));
    QVERIFY(velmaris::testing::writeBytes(index, content));
    // Neither writing to it nor reading from it passes for success.
    for (const QStringList &arguments : {QStringList{QStringLiteral("import"), m_folder},
                                         QStringList{QStringLiteral("studies")}}) {
        const Run run = cli(arguments + QStringList{QStringLiteral("--db"), index});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.records.isEmpty());
        QVERIFY2(run.errors.contains(error), qPrintable(run.errors));
    }
    QCOMPARE(fileBytes(index), content);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("index.sqlite3")});
}

void CliTest::importReportsFilesTheIndexRefused()
{
    QTemporaryDir dir;
    const QString index = dir.filePath(QStringLiteral("index.sqlite3"));
    QCOMPARE(cli({QStringLiteral("import"), m_folder, QStringLiteral("--db"), index}).exitCode, 0);
    // The index itself refuses one of the files, as a full disk would: a real
    // SQLite failure, set up by a connection of its own.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sqlite3, sys\n"
                                 "c = sqlite3.connect(sys.argv[1])\n"
                                 "c.execute(\"CREATE TRIGGER refuse BEFORE UPDATE ON instances WHEN "
                                 "NEW.sop_instance_uid = '%1' BEGIN SELECT RAISE(ABORT, 'refused'); END\")\n"
                                 "c.commit()\n")
                      .arg(velmaris::gen::sopInstanceUid(m_ct, 5)),
                  index});
    QVERIFY(python.waitForFinished(60000) && python.exitCode() == 0);

    const Run run = cli({QStringLiteral("import"), m_folder, QStringLiteral("--db"), index});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.records.size(), 1); // what was stored is still told
    QCOMPARE(run.records.first().value(QLatin1String("imported")).toInt(), 12);
    QCOMPARE(run.records.first().value(QLatin1String("skipped")).toInt(), 4);
    QVERIFY2(run.errors.startsWith(QStringLiteral("Индекс не принял 1 файл(ов): refused")), qPrintable(run.errors));
}

void CliTest::valuesMatchPydicom_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("frame");
    QTest::newRow("generated CT, uncompressed") << QStringLiteral("ct") << 0;
    QTest::newRow("generated multi-frame, RLE, frame 2") << QStringLiteral("rle") << 2;
    QTest::newRow("generated multi-frame, RLE, frame past the end") << QStringLiteral("rle") << 99;
    QTest::newRow("pydicom MR_small.dcm") << QStringLiteral("MR_small.dcm") << 0;
    QTest::newRow("pydicom MR_small_RLE.dcm") << QStringLiteral("MR_small_RLE.dcm") << 0;
}

void CliTest::valuesMatchPydicom()
{
    QFETCH(QString, kind);
    QFETCH(int, frame);
    QString path;
    int expectedWidth = 0;
    int expectedHeight = 0;
    if (kind == QLatin1String("ct") || kind == QLatin1String("rle")) {
        SeriesSpec spec;
        spec.kind = kind == QLatin1String("ct") ? Kind::CT : Kind::ClassicMultiFrame;
        spec.compression = kind == QLatin1String("ct") ? velmaris::gen::Compression::None
                                                       : velmaris::gen::Compression::Rle;
        spec.slices = kind == QLatin1String("ct") ? 1 : 4;
        spec.rows = 40;
        spec.columns = 48;
        spec.rescaleSlope = 1.0;
        spec.rescaleIntercept = -1024.0;
        QStringList paths;
        QString error;
        QVERIFY2(velmaris::gen::writeSeries(spec, m_dir.filePath(QStringLiteral("values_") + kind), &paths, &error),
                 qPrintable(error));
        path = paths.first();
        expectedWidth = 48;
        expectedHeight = 40;
    } else {
        path = pydicomFile(kind.toLatin1().constData());
        expectedWidth = expectedHeight = 64;
    }
    const QString raw = m_dir.filePath(QStringLiteral("values_%1_%2.raw").arg(kind).arg(frame));
    QStringList arguments{QStringLiteral("values"), path, QStringLiteral("--out"), raw};
    if (frame != 0)
        arguments << QStringLiteral("--frame") << QString::number(frame);
    const Run run = cli(arguments);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.records.size(), 1);
    const QJsonObject record = run.records.first();
    QCOMPARE(record.value(QLatin1String("ok")).toBool(), true);
    QCOMPARE(record.value(QLatin1String("width")).toInt(), expectedWidth);
    QCOMPARE(record.value(QLatin1String("height")).toInt(), expectedHeight);
    QCOMPARE(record.value(QLatin1String("error")).toString(), QString());
    QCOMPARE(record.keys().size(), 4);

    const QByteArray ours = fileBytes(raw);
    QCOMPARE(ours.size(), qsizetype(expectedWidth) * expectedHeight * 8);
    const int lastFrame = kind == QLatin1String("rle") ? 3 : 0;
    const QByteArray theirs = pydicomValues(path, std::min(frame, lastFrame), raw + QStringLiteral(".pydicom"));
    QVERIFY(!theirs.isEmpty());
    QVERIFY(ours == theirs);
}

void CliTest::renderWritesPng_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("frameCount");
    QTest::addColumn<double>("center"); // NaN: not checked
    QTest::addColumn<double>("windowWidth");
    const double any = std::nan("");
    QTest::newRow("CT, file window") << QStringLiteral("ct") << QStringList() << QStringLiteral("Grayscale8")
                                     << 32 << 32 << 1 << 40.0 << 400.0;
    QTest::newRow("CT, given window")
        << QStringLiteral("ct") << QStringList{QStringLiteral("--window"), QStringLiteral("-600"), QStringLiteral("1500")}
        << QStringLiteral("Grayscale8") << 32 << 32 << 1 << -600.0 << 1500.0;
    QTest::newRow("enhanced multi-frame, middle frame")
        << QStringLiteral("enhanced") << QStringList{QStringLiteral("--frame"), QStringLiteral("-1")}
        << QStringLiteral("Grayscale8") << 16 << 16 << 6 << any << any; // window in functional groups
    QTest::newRow("RGB, RLE") << pydicomFile("SC_rgb_rle.dcm") << QStringList() << QStringLiteral("RGB888")
                              << 100 << 100 << 1 << any << any;
    QTest::newRow("RGB, two frames, second") << pydicomFile("SC_rgb_rle_2frame.dcm")
                                             << QStringList{QStringLiteral("--frame=1")}
                                             << QStringLiteral("RGB888") << 100 << 100 << 2 << any << any;
}

void CliTest::renderWritesPng()
{
    QFETCH(QString, file);
    QFETCH(QStringList, options);
    QFETCH(QString, format);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, frameCount);
    QFETCH(double, center);
    QFETCH(double, windowWidth);
    if (file == QLatin1String("ct"))
        file = m_ctPaths.first();
    else if (file == QLatin1String("enhanced"))
        file = m_enhancedPath;
    const QString png = m_dir.filePath(QStringLiteral("render_%1.png").arg(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')));
    const Run run = cli(QStringList{QStringLiteral("render"), file, QStringLiteral("--out"), png} + options);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.records.size(), 1);
    const QJsonObject record = run.records.first();
    QCOMPARE(record.keys().size(), 5);
    QCOMPARE(record.value(QLatin1String("ok")).toBool(), true);
    QCOMPARE(record.value(QLatin1String("format")).toString(), format);
    QCOMPARE(record.value(QLatin1String("frame_count")).toInt(), frameCount);
    if (!std::isnan(center)) {
        QCOMPARE(record.value(QLatin1String("window_center")).toDouble(), center);
        QCOMPARE(record.value(QLatin1String("window_width")).toDouble(), windowWidth);
    }

    const PngHeader header = pngHeader(png);
    QVERIFY(header.valid);
    QCOMPARE(header.width, quint32(width));
    QCOMPARE(header.height, quint32(height));
    QCOMPARE(header.bitDepth, 8);
    QCOMPARE(header.colourType, format == QLatin1String("Grayscale8") ? 0 : 2);
}

void CliTest::imageVerbFailures()
{
    const QString missing = m_dir.filePath(QStringLiteral("missing.dcm"));
    const QString out = m_dir.filePath(QStringLiteral("failed.out"));

    const Run values = cli({QStringLiteral("values"), missing, QStringLiteral("--out"), out});
    QCOMPARE(values.exitCode, 1);
    QCOMPARE(values.records.size(), 1);
    QCOMPARE(values.records.first().value(QLatin1String("ok")).toBool(), false);
    QVERIFY(values.records.first().value(QLatin1String("error")).toString().startsWith(QLatin1String("loadFile: ")));
    QVERIFY(values.errors.contains(values.records.first().value(QLatin1String("error")).toString()));
    QVERIFY(!QFile::exists(out));

    // Short Pixel Data: refused by both verbs.
    const QString truncated = m_folder + QStringLiteral("/junk/truncated.dcm");
    QCOMPARE(cli({QStringLiteral("values"), truncated, QStringLiteral("--out"), out}).exitCode, 1);
    const Run render = cli({QStringLiteral("render"), truncated, QStringLiteral("--out"), out});
    QCOMPARE(render.exitCode, 1);
    QCOMPARE(render.records.size(), 1);
    QCOMPARE(render.records.first().value(QLatin1String("ok")).toBool(), false);
    QVERIFY(!render.errors.trimmed().isEmpty());
    QVERIFY(!QFile::exists(out));

    // Usage errors: nothing on stdout, exit 2.
    const QString file = m_ctPaths.first();
    const QList<QStringList> usage{
        {QStringLiteral("values"), file},
        {QStringLiteral("render"), file},
        {QStringLiteral("values"), file, QStringLiteral("--out")},
        {QStringLiteral("values"), file, QStringLiteral("--out"), out, QStringLiteral("--frame"), QStringLiteral("two")},
        {QStringLiteral("values"), file, QStringLiteral("--out"), out, QStringLiteral("--window"), QStringLiteral("40"), QStringLiteral("400")},
        {QStringLiteral("render"), file, QStringLiteral("--out"), out, QStringLiteral("--window"), QStringLiteral("40")},
        {QStringLiteral("render"), file, QStringLiteral("--out"), out, QStringLiteral("--window"), QStringLiteral("c"), QStringLiteral("400")},
        {QStringLiteral("render"), QStringLiteral("--out"), out},
        {QStringLiteral("tags"), file, QStringLiteral("--frame"), QStringLiteral("1")},
        {QStringLiteral("summary"), file, QStringLiteral("--out"), out},
    };
    for (const QStringList &arguments : usage) {
        const Run run = cli(arguments);
        QVERIFY2(run.exitCode == 2, qPrintable(arguments.join(QLatin1Char(' '))));
        QVERIFY(run.records.isEmpty());
        QVERIFY(!run.errors.trimmed().isEmpty());
    }
    QVERIFY(!QFile::exists(out));
}

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
