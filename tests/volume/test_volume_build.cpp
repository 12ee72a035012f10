#include "volume/CliRun.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/viewer/GeneratedSlices.h"
#include "viewer/FrameDecoder.h"
#include "volume/AxisCodes.h"
#include "volume/MprVolumeBuildWorker.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/VolumeBuilder.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;
using render::Volume;
using render::VolumeSlice;
using velmaris::gen::SeriesSpec;
using namespace velmaris::testing;

namespace {

using Vec = std::array<double, 3>;
using Iop = std::array<double, 6>; // Image Orientation (Patient)
using Triple = std::array<int, 3>;
using Steps = std::array<std::array<float, 3>, 3>;

// A series' orientation and description, whether the build keeps the
// orientation, Slice Location down the list (empty: none), the volume's size,
// and a probe: source pixel (column, row, slice) and the voxel it must become.
struct Turn
{
    Iop iop;
    QString description;
    bool keepOrientation;
    QList<double> locations;
    Triple size, source, target;
};

// The stored-and-rescaled value the generator wrote at (row, column) of slice s.
float generated(const SeriesSpec &spec, int s, int row, int column)
{
    return float(velmaris::gen::pixelValue(spec, s, row, column) * spec.rescaleSlope + spec.rescaleIntercept);
}

// Each voxel of a volume placed in patient space holds the generator's value
// of the source pixel at that place.
void checkPatientGeometry(const SeriesSpec &spec, const std::array<float, 3> &origin, const Steps &steps,
                          const Triple &size, const std::function<float(int, int, int)> &voxel)
{
    const auto &o = spec.orientation;
    const Vec row{o[0], o[1], o[2]};
    const Vec column{o[3], o[4], o[5]};
    const Vec normal{row[1] * column[2] - row[2] * column[1], row[2] * column[0] - row[0] * column[2],
                     row[0] * column[1] - row[1] * column[0]};
    const Vec first = velmaris::gen::slicePosition(spec, 0);
    auto along = [](const Vec &d, const Vec &axis, double spacing) {
        return int(std::lround((d[0] * axis[0] + d[1] * axis[1] + d[2] * axis[2]) / spacing));
    };
    for (int k = 0; k < size[2]; ++k)
        for (int j = 0; j < size[1]; ++j)
            for (int i = 0; i < size[0]; ++i) {
                Vec d{};
                for (int a = 0; a < 3; ++a)
                    d[a] = origin[a] + i * steps[0][a] + j * steps[1][a] + k * steps[2][a] - first[a];
                QCOMPARE(voxel(i, j, k), generated(spec, along(d, normal, spec.sliceSpacing),
                                                   along(d, column, spec.pixelSpacingRow),
                                                   along(d, row, spec.pixelSpacingColumn)));
            }
}

} // namespace

Q_DECLARE_METATYPE(Turn)

class VolumeBuildTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_axial = seriesSpec(6, 6, 8);
        m_axialPaths = series(m_axial, u"axial"_s);
        SeriesSpec small = seriesSpec(1, 4, 4);
        m_smallPath = series(small, u"small"_s).first();
    }

    void spacingAndOrder_data()
    {
        QTest::addColumn<QList<double>>("positions");
        QTest::addColumn<double>("thickness");
        QTest::addColumn<double>("spacingZ");
        QTest::addColumn<QList<int>>("fileOfPlane");
        QTest::addColumn<QString>("message");
        QTest::newRow("10 12.5 15 shuffled") << QList<double>{15, 10, 12.5} << 1.0 << 2.5 << QList<int>{1, 2, 0} << QString();
        QTest::newRow("0 0 2 4: zero gap ignored") << QList<double>{0, 0, 2, 4} << 1.0 << 2.0 << QList<int>{0, 1, 2, 3}
                                                   << QString();
        QTest::newRow("within 0.01 keeps list order") << QList<double>{5, 5.005, 5.0} << 3.0 << 0.005
                                                      << QList<int>{0, 1, 2} << QString();
        QTest::newRow("all equal: thickness") << QList<double>{7, 7, 7} << 3.0 << 3.0 << QList<int>{0, 1, 2} << QString();
        QTest::newRow("one slice: thickness") << QList<double>{4} << 5.0 << 5.0 << QList<int>{0} << QString();
        QTest::newRow("one slice, thickness 0") << QList<double>{4} << 0.0 << 1.0 << QList<int>{0} << QString();
        QTest::newRow("negative thickness") << QList<double>{4, 4} << -2.0 << 1.0 << QList<int>{0, 1} << QString();
        QTest::newRow("uneven gaps warn") << QList<double>{0, 2.5, 5, 10} << 1.0 << 10.0 / 3 << QList<int>{0, 1, 2, 3}
                                          << u"Неравномерный шаг между срезами: от 2.50 до 5.00 мм при среднем 3.33 мм — "
                                             "расстояния вдоль оси срезов могут быть измерены неточно"_s;
        QTest::newRow("gaps within 10 % do not") << QList<double>{0, 2.5, 5.2, 7.5} << 1.0 << 2.5 << QList<int>{0, 1, 2, 3}
                                                 << QString();
    }

    void spacingAndOrder()
    {
        QFETCH(QList<double>, positions);
        QFETCH(double, thickness);
        QFETCH(double, spacingZ);
        QFETCH(QList<int>, fileOfPlane);
        QFETCH(QString, message);
        QString said;
        const Volume v = render::buildVolume(slicesAt(positions, thickness), said, 0);
        QCOMPARE(said, message);
        QCOMPARE((Triple{v.width, v.height, v.depth}), (Triple{8, 6, int(positions.size())}));
        QCOMPARE(v.spacingX, 0.7);
        QVERIFY2(qAbs(v.spacingZ - spacingZ) < 1e-9, qPrintable(QString::number(v.spacingZ)));
        QVERIFY(!v.hasPatientGeometry);
        for (int z = 0; z < v.depth; ++z)
            for (int y = 0; y < v.height; ++y)
                for (int x = 0; x < v.width; ++x)
                    QCOMPARE(render::voxelAt(v, x, y, z), generated(m_axial, fileOfPlane.at(z), y, x));
    }

    void orientation_data()
    {
        QTest::addColumn<Turn>("turn");
        // Source 4 columns × 3 rows × 5 slices, listed in reverse as some scanners do.
        const Iop axial{1, 0, 0, 0, 1, 0};
        const Iop sagittal{0, 1, 0, 0, 0, -1};
        const Iop coronal{1, 0, 0, 0, 0, -1};
        QTest::newRow("axial untouched") << Turn{axial, u"CT"_s, true, {}, {4, 3, 5}, {1, 2, 3}, {1, 2, 3}};
        QTest::newRow("sagittal frames") << Turn{sagittal, u"CT"_s, true, {}, {5, 4, 3}, {1, 0, 1}, {3, 1, 2}};
        QTest::newRow("coronal frames") << Turn{coronal, u"CT"_s, true, {}, {4, 5, 3}, {1, 0, 1}, {1, 1, 2}};
        QTest::newRow("feet-first axial") << Turn{{-1, 0, 0, 0, 1, 0}, u"CT"_s, true, {}, {4, 3, 5}, {0, 0, 0}, {3, 0, 4}};
        // No normal: Slice Location (all 0 here) keeps the list, which is reversed.
        QTest::newRow("degenerate: loaded order")
            << Turn{{1, 0, 0, 1, 0, 0}, u"CT"_s, true, {}, {4, 3, 5}, {1, 2, 1}, {1, 2, 3}};
        QTest::newRow("T2 SAG without orientation")
            << Turn{sagittal, u"T2 SAG"_s, false, {}, {5, 4, 3}, {1, 0, 1}, {1, 1, 2}};
        QTest::newRow("Coronal hint without orientation")
            << Turn{coronal, u"Cor T1"_s, false, {}, {4, 5, 3}, {1, 0, 1}, {1, 1, 2}};
        // Image Position along the normal orders the stack whatever Slice Location says.
        const QList<double> against{0, 10, 20, 30, 40};
        QTest::newRow("Slice Location against the normal")
            << Turn{axial, u"CT"_s, true, against, {4, 3, 5}, {1, 2, 3}, {1, 2, 3}};
        QTest::newRow("Slice Location against the normal, 3D")
            << Turn{axial, u"CT"_s, false, against, {4, 3, 5}, {1, 2, 3}, {1, 2, 3}};
    }

    // The turn by axis codes or plane hint, checked voxel by voxel against the
    // patient position of the source pixel each voxel claims to be.
    void orientation()
    {
        QFETCH(Turn, turn);
        const auto &[iop, description, keepOrientation, locations, size, source, target] = turn;
        SeriesSpec spec = seriesSpec(5, 3, 4);
        spec.pixelSpacingRow = 0.5;    // between rows
        spec.pixelSpacingColumn = 0.8; // between columns
        spec.sliceSpacing = 2.0;
        spec.sliceThickness = 5.0; // the spacing comes from the positions, not from here
        spec.orientation = iop;
        QList<db::SliceRef> rows =
            slicesFor(spec, series(spec, QString::fromLatin1(QTest::currentDataTag())));
        std::reverse(rows.begin(), rows.end());
        for (int i = 0; i < rows.size(); ++i) {
            rows[i].slice_thickness = spec.sliceThickness;
            rows[i].slice_location = locations.value(i);
        }
        const auto use = keepOrientation ? render::SliceOrientationUse::Keep : render::SliceOrientationUse::Drop;
        QString message;
        const Volume v = render::buildVolume(render::seriesVolumeSlices(rows, use), message,
                                             render::planeHintFromText(description));
        QCOMPARE(message, QString());
        QCOMPARE((Triple{v.width, v.height, v.depth}), size);
        QCOMPARE(render::voxelAt(v, target[0], target[1], target[2]), generated(spec, source[2], source[1], source[0]));
        const bool degenerate = iop[0] == iop[3] && iop[1] == iop[4];
        QCOMPARE(v.hasPatientGeometry, keepOrientation && !degenerate);
        if (v.hasPatientGeometry)
            checkPatientGeometry(spec, v.origin, {v.stepX, v.stepY, v.stepZ}, size,
                                 [&](int i, int j, int k) { return render::voxelAt(v, i, j, k); });
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("files"); // "ok:N" = axial file N, "bad", "small"
        QTest::addColumn<QList<double>>("pixelSpacing");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QList<int>>("emptyPlanes");
        const QList<double> spacing{0.7, 0.7};
        QTest::newRow("empty series") << QStringList() << spacing << false
                                      << u"Пустая серия — нечего реконструировать"_s << QList<int>();
        QTest::newRow("nothing decodes") << QStringList{u"bad"_s, u"bad"_s} << spacing << false
                                         << u"Не удалось прочитать ни одного среза. Причина (первый срез): loadFile: "_s
                                         << QList<int>();
        QTest::newRow("first unreadable") << QStringList{u"bad"_s, u"ok:1"_s, u"ok:2"_s} << spacing << true
                                          << u"Пропущено срезов при построении объёма: 1 из 3"_s << QList<int>{0};
        QTest::newRow("frame of another size") << QStringList{u"ok:0"_s, u"small"_s, u"ok:2"_s} << spacing << true
                                               << u"Пропущено срезов при построении объёма: 1 из 3"_s << QList<int>{1};
        QTest::newRow("zero and negative spacing") << QStringList{u"ok:0"_s, u"ok:1"_s} << QList<double>{0.0, -1.0}
                                                   << true << QString() << QList<int>();
    }

    void badInput()
    {
        QFETCH(QStringList, files);
        QFETCH(QList<double>, pixelSpacing);
        QFETCH(bool, valid);
        QFETCH(QString, message);
        QFETCH(QList<int>, emptyPlanes);
        QList<VolumeSlice> slices;
        for (int i = 0; i < files.size(); ++i) {
            VolumeSlice s;
            const QString &f = files.at(i);
            s.path = f == u"bad"_s ? m_dir.filePath(u"missing.dcm"_s)
                     : f == u"small"_s ? m_smallPath
                                       : m_axialPaths.at(f.mid(3).toInt());
            s.position = i * 2.0;
            s.pixelSpacingX = pixelSpacing.at(0);
            s.pixelSpacingY = pixelSpacing.at(1);
            slices << s;
        }
        QString said;
        const Volume v = render::buildVolume(slices, said, 0, {2, 0});
        QVERIFY2(said.startsWith(message) && (message.isEmpty() == said.isEmpty()), qPrintable(said));
        QCOMPARE(v.isValid(), valid);
        if (!valid) {
            QVERIFY(v.voxels.empty());
            return;
        }
        QCOMPARE(v.spacingX, pixelSpacing.at(0) > 0 ? pixelSpacing.at(0) : 1.0);
        QCOMPARE(v.spacingY, pixelSpacing.at(1) > 0 ? pixelSpacing.at(1) : 1.0);
        for (int z = 0; z < v.depth; ++z) {
            const bool empty = emptyPlanes.contains(z);
            const int file = empty ? 0 : files.at(z).mid(3).toInt();
            for (int y = 0; y < v.height; ++y)
                for (int x = 0; x < v.width; ++x)
                    QCOMPARE(render::voxelAt(v, x, y, z), empty ? 0.0f : generated(m_axial, file, y, x));
        }
    }

    // The build decodes on its own threads with readers of its own: the
    // viewer's one-file cache neither serves it nor loses its file, and one or
    // two threads give the same voxels. Also a 3,000-slice list.
    void leavesTheViewerCacheAlone()
    {
        render::DecodedFrame frame;
        QVERIFY(render::loadDecodedFrame(frame, m_axialPaths.first(), 0));
        const auto before = render::decoderStatistics().valueFileLoads;

        QList<double> positions;
        for (int i = 0; i < 3000; ++i)
            positions << i * 0.5;
        QString oneMessage;
        QString twoMessage;
        const Volume one = render::buildVolume(slicesAt(positions, 1.0), oneMessage, 0, {1, 0});
        const Volume two = render::buildVolume(slicesAt(positions, 1.0), twoMessage, 0, {2, 0});
        QCOMPARE(render::decoderStatistics().valueFileLoads, before);
        QVERIFY(render::loadDecodedFrame(frame, m_axialPaths.first(), 0));
        QCOMPARE(render::decoderStatistics().valueFileLoads, before); // still cached
        QCOMPARE(oneMessage, QString());
        QCOMPARE(two.depth, 3000);
        QCOMPARE(two.spacingZ, 0.5);
        QVERIFY(one.voxels == two.voxels);
        QCOMPARE(render::voxelAt(two, 3, 4, 2999), generated(m_axial, 2999 % 6, 4, 3));
    }

    // Linux grants an oversized allocation and kills the process later: the
    // build checks the bytes first.
    void refusesAVolumeLargerThanTheMemory()
    {
        QString message;
        const QList<VolumeSlice> slices = slicesAt({0, 1, 2}, 1.0);
        const Volume refused = render::buildVolume(slices, message, 0, {0, 8 * 6 * 3 * 4 - 1});
        QVERIFY(!refused.isValid());
        QCOMPARE(message, u"Недостаточно памяти для объёма 8×6×3 (1 МБ, доступно 0 МБ)"_s);
        message.clear();
        QVERIFY(render::buildVolume(slices, message, 0, {0, 8 * 6 * 3 * 4}).isValid());
        QCOMPARE(message, QString());
    }

    void workerHandsTheVolumeOver()
    {
        QObject window;
        Volume taken;
        QString takenMessage;
        auto *worker = new render::MprVolumeBuildWorker(slicesAt({0, 3, 6}, 1.0), 0);
        QPointer<QThread> thread = render::startVolumeBuild(worker, &window, [&](Volume &&v, const QString &m) {
            QCOMPARE(QThread::currentThread(), window.thread());
            taken = std::move(v);
            takenMessage = m;
        });
        QCOMPARE(thread->parent(), &window);
        QPointer<QObject> workerAlive(worker);
        QSignalSpy finished(thread.data(), &QThread::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(taken.depth, 3);
        QCOMPARE(taken.spacingZ, 3.0);
        QCOMPARE(takenMessage, QString());
        QTRY_VERIFY(thread.isNull() && workerAlive.isNull());
    }

    // The verbs on an imported sagittal series: the voxels written by "volume"
    // are the generator's values at the patient positions its geometry claims.
    void cliVerbs()
    {
        SeriesSpec spec = seriesSpec(5, 6, 8);
        spec.sliceSpacing = 2.5;
        spec.sliceThickness = 5.0;
        spec.orientation = {0, 1, 0, 0, 0, -1};
        spec.seriesDescription = u"T2 SAG"_s;
        series(spec, u"cli"_s);
        const QString db = m_dir.filePath(u"cli.sqlite3"_s);
        QCOMPARE(cli({u"import"_s, m_dir.filePath(u"cli"_s), u"--db"_s, db}).exitCode, 0);
        const QString raw = m_dir.filePath(u"v.raw"_s);
        QList<float> values;
        for (int i = 0; i < 5 * 6 * 8; ++i)
            values << generated(spec, i / 48, i / 8 % 6, i % 8);
        const auto [minimum, maximum] = std::ranges::minmax(values);

        for (const bool oriented : {true, false}) {
            QStringList args{u"volume"_s, u"--db"_s, db, spec.seriesInstanceUid, u"--out"_s, raw};
            if (oriented)
                args << u"--orientation"_s;
            const CliRun run = cli(args);
            const QJsonObject &o = run.record;
            const QJsonObject expected{{u"ok"_s, true}, {u"width"_s, 5}, {u"height"_s, 8}, {u"depth"_s, 6},
                                       {u"spacing"_s, QJsonArray{2.5, 0.7, 0.7}}, {u"min"_s, minimum},
                                       {u"max"_s, maximum}, {u"has_patient_geometry"_s, oriented}, {u"message"_s, u""_s}};
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(fieldsOf(o, expected), compact(expected));
            QFile file(raw);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QCOMPARE(bytes.size(), 5 * 8 * 6 * 4);
            auto at = [&](int x, int y, int z) {
                return qFromLittleEndian<float>(bytes.constData() + 4 * ((z * 8 + y) * 5 + x));
            };
            if (!oriented) {
                // The hint of "T2 SAG": (x, y, z) of the stack goes to (z, x, rows − 1 − y).
                for (int s = 0; s < 5; ++s)
                    QCOMPARE(at(s, 3, 6 - 1 - 2), generated(spec, s, 2, 3));
                continue;
            }
            auto vec = [&](const char *key) {
                const QJsonArray a = o.value(QLatin1StringView(key)).toArray();
                return std::array{float(a.at(0).toDouble()), float(a.at(1).toDouble()), float(a.at(2).toDouble())};
            };
            checkPatientGeometry(spec, vec("origin"), {vec("step_x"), vec("step_y"), vec("step_z")}, {5, 8, 6}, at);
        }

        const QString png = m_dir.filePath(u"mpr.png"_s);
        const QStringList base{u"mpr"_s, u"--db"_s, db, spec.seriesInstanceUid, u"--out"_s, png};
        struct Case
        {
            QStringList options;
            QSize size;
            QJsonValue index;
            int half;
        };
        const QList<Case> cases{
            // Axial 5 × 8 voxels of 2.5 × 0.7 mm: stretched to 18 columns.
            {{u"--plane"_s, u"axial"_s}, QSize(18, 8), 3, 0},
            {{u"--plane"_s, u"coronal"_s, u"--slab-mm"_s, u"5"_s, u"--slab-mode"_s, u"mean"_s}, QSize(18, 6), 4, 4},
            {{u"--plane"_s, u"sagittal"_s, u"--index"_s, u"1"_s}, QSize(8, 6), 1, 0},
            {{u"--oblique"_s, u"--u"_s, u"1,0,0"_s, u"--v"_s, u"0,1,0"_s, u"--size"_s, u"50"_s, u"--slab-mm"_s, u"5"_s},
             QSize(50, 50), QJsonValue(), 4},
        };
        for (const Case &c : cases) {
            const CliRun run = cli(base + c.options);
            const QJsonObject expected{{u"ok"_s, true},          {u"width"_s, c.size.width()},
                                       {u"height"_s, c.size.height()}, {u"index"_s, c.index},
                                       {u"half_count"_s, c.half}, {u"window_width"_s, double(maximum - minimum)},
                                       {u"window_center"_s, (double(maximum) + minimum) / 2}};
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(fieldsOf(run.record, expected), compact(expected));
            QCOMPARE(QImage(png).size(), c.size);
        }
        QCOMPARE(cli(base + QStringList{u"--plane"_s, u"axial"_s, u"--oblique"_s}).exitCode, 2);
        const CliRun missing = cli({u"volume"_s, u"--db"_s, db, u"1.2.3"_s, u"--out"_s, raw});
        QCOMPARE(missing.exitCode, 1);
        QCOMPARE(missing.record.value(u"message"_s).toString(), u"Пустая серия — нечего реконструировать"_s);
    }

private:
    QStringList series(SeriesSpec &spec, const QString &name)
    {
        QStringList paths;
        QString error;
        if (!velmaris::gen::writeSeries(spec, m_dir.filePath(name), &paths, &error))
            qFatal("series %s: %s", qPrintable(name), qPrintable(error));
        return paths;
    }

    // Slices of the axial series with the given positions: slice i reads file i.
    QList<VolumeSlice> slicesAt(const QList<double> &positions, double thickness)
    {
        QList<VolumeSlice> slices;
        for (int i = 0; i < positions.size(); ++i) {
            VolumeSlice s;
            s.path = m_axialPaths.at(i % m_axialPaths.size());
            s.position = positions.at(i);
            s.pixelSpacingX = s.pixelSpacingY = 0.7;
            s.sliceThickness = thickness;
            slices << s;
        }
        return slices;
    }

    QTemporaryDir m_dir;
    SeriesSpec m_axial;
    QStringList m_axialPaths;
    QString m_smallPath; // a frame of another size
};

QTEST_GUILESS_MAIN(VolumeBuildTest)
#include "test_volume_build.moc"
