#include "volume/CliRun.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/PrivateSettings.h"
#include "ui/viewer/GeneratedSlices.h"
#include "volume/FilledVolume.h"
#include "volume/SoftwareVolumeRenderer.h"
#include "volume/TransferFunctionPreset.h"
#include "volume/VolumeCutOuts.h"
#include "volume/VolumeRenderParameters.h"
#include "volume/VrtPresetSettings.h"

#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;
using render::ProjectionMode;
using render::TransferFunctionPreset;
using render::Volume;
using render::VolumeViewPreset;

namespace {

// A cube of `side` voxels of 1 mm, -1000 outside and `value` inside a ball of
// `radius` mm about the centre.
std::shared_ptr<Volume> sphere(int side, double radius, float value)
{
    const double c = (side - 1) / 2.0;
    return std::make_shared<Volume>(velmaris::testing::filledVolume(side, side, side, [&](int x, int y, int z) {
        return std::hypot(x - c, y - c, z - c) <= radius ? value : -1000.0f;
    }));
}

render::VolumeRenderParameters mip(double level, double width)
{
    render::VolumeRenderParameters p;
    p.mode = ProjectionMode::Maximum;
    p.camera.level = level;
    p.camera.width = width;
    return p;
}

int countBrighter(const QImage &image, int threshold)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qRed(image.pixel(x, y)) > threshold ? 1 : 0;
    return count;
}

} // namespace

class VolumeRenderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        velmaris::testing::usePrivateSettings(m_dir.filePath(u"settings"_s));
    }

    // "Кости": nothing below 150 HU; 363 HU lies halfway between the 226 HU
    // (230, 0.18) and 500 HU (235, 0.55) nodes; flat beyond the end nodes.
    void transferFunction()
    {
        const TransferFunctionPreset bones = render::presetByName(u"Кости"_s);
        QCOMPARE(bones.name, u"Кости"_s);
        QCOMPARE(render::builtInPresets().size(), 10);
        const struct
        {
            double hu, opacity, red;
        } cases[] = {{100, 0, 233}, {363, 0.365, 232.5}, {-5000, 0, 233}, {9000, 0.97, 245}};
        for (const auto &c : cases) {
            const render::Rgba rgba = bones.evaluate(c.hu);
            QVERIFY2(std::abs(rgba[3] - c.opacity) < 1e-9, qPrintable(u"%1 HU: %2"_s.arg(c.hu).arg(rgba[3])));
            QVERIFY2(std::abs(rgba[0] * 255.0 - c.red) < 1e-3, qPrintable(u"%1 HU: %2"_s.arg(c.hu).arg(rgba[0] * 255)));
        }
    }

    void storedPresets()
    {
        TransferFunctionPreset mine;
        mine.name = u"Мой"_s;
        mine.nodes = {{-100.5, QColor(10, 20, 30), 0}, {250, QColor(200, 100, 50), 0.75}};
        QSettings().setValue(u"vrt/customPresets"_s,
                             QStringList{u"без разделителя"_s, u"один|100,1,2,3,0.5"_s, u"|1,1,1,1,0;2,2,2,2,1"_s,
                                         u"пустые части|;0,1,2,3,0;;мусор;500,4,5,6,1;"_s});
        render::settings::saveCustomPreset(mine);
        mine.nodes[1].opacity = 0.5; // the same name again replaces it
        render::settings::saveCustomPreset(mine);

        QStringList read;
        for (const TransferFunctionPreset &preset : render::settings::customPresets())
            read << preset.toStoredText();
        QCOMPARE(read,
                 (QStringList{u"пустые части|0,1,2,3,0;500,4,5,6,1"_s, u"Мой|-100.5,10,20,30,0;250,200,100,50,0.5"_s}));
        QCOMPARE(QSettings().value(u"vrt/customPresets"_s).toStringList().last(),
                 u"Мой|-100.5,10,20,30,0;250,200,100,50,0.5"_s);
    }

    // 0.5 mm voxels: 1920 clamped to 800; 5 mm: 192 raised to 220; fewer
    // while dragging; a NaN spacing counts as 1 mm.
    void stepCount()
    {
        QCOMPARE(render::volumeStepCount(200.0, 0.5, false), 800);
        QCOMPARE(render::volumeStepCount(200.0, 5.0, false), 220);
        QCOMPARE(render::volumeStepCount(200.0, 0.5, true), 120);
        QCOMPARE(render::volumeStepCount(100.0, std::numeric_limits<double>::quiet_NaN(), false), 480);
    }

    void cutOutLimit()
    {
        render::VolumeCutOuts cutOuts;
        render::VolumeCutOut cutOut;
        cutOut.right = QVector3D(1, 0, 0);
        cutOut.up = QVector3D(0, 0, 1);
        cutOut.halfExtentMm = 10.0;
        cutOut.mask = QImage(4, 4, QImage::Format_Grayscale8);
        cutOut.mask.fill(0);
        for (int i = 0; i < render::VolumeCutOuts::limit; ++i)
            QVERIFY(cutOuts.add(cutOut));
        QString message;
        QVERIFY(!cutOuts.add(cutOut, &message));
        QCOMPARE(message, u"Достигнут предел одновременных обрезок (6) — сначала уберите одну кнопкой «Убрать обрезку»."_s);
        QVERIFY(cutOuts.undo());
        QVERIFY(cutOuts.add(cutOut));
        // Inside the square and outside the (empty) path: hidden; beyond the
        // square: untouched.
        QVERIFY(cutOuts.hides(QVector3D(5, 100, 5)));
        QVERIFY(!cutOuts.hides(QVector3D(15, 0, 0)));
    }

    // Each preset's direction and up, whatever the camera did before.
    void viewPresets()
    {
        const struct
        {
            VolumeViewPreset preset;
            QVector3D direction, up;
        } views[] = {{VolumeViewPreset::Front, {0, 1, 0}, {0, 0, 1}},  {VolumeViewPreset::Back, {0, -1, 0}, {0, 0, 1}},
                     {VolumeViewPreset::Right, {1, 0, 0}, {0, 0, 1}},  {VolumeViewPreset::Left, {-1, 0, 0}, {0, 0, 1}},
                     {VolumeViewPreset::Top, {0, 0, -1}, {0, -1, 0}}, {VolumeViewPreset::Bottom, {0, 0, 1}, {0, -1, 0}}};
        for (const auto &[preset, direction, up] : views) {
            render::VolumeCameraState state;
            state.rotateFree(37.0, -12.0);
            state.zoom = 0.5;
            state.setViewPreset(preset);
            QCOMPARE(state.direction, direction);
            QCOMPARE(state.up, up);
            QCOMPARE(state.right, QVector3D::crossProduct(direction, up));
            QCOMPARE(state.zoom, 0.5);
        }
    }

    // A ball of 20 mm radius seen in MIP: a disc of 20 mm on a picture whose
    // half side spans the volume's half-diagonal. A cut-out open on its left
    // half keeps the left half of the disc only, and stays attached when the
    // view turns away.
    void mipDisc()
    {
        const int side = 64;
        render::SoftwareVolumeRenderer renderer(sphere(side, 20.0, 1000.0f));
        const auto parameters = mip(0.0, 2000.0);
        int steps = 0;
        const QImage image = renderer.render(parameters, QSize(128, 128), &steps);
        QCOMPARE(image.size(), QSize(128, 128));
        const double halfDiagonal = std::sqrt(3.0) * side / 2.0;
        QCOMPARE(steps, render::volumeStepCount(halfDiagonal, 1.0, false));
        const double mmPerPixel = 2.0 * halfDiagonal / 128.0;
        const double radiusPixels = std::sqrt(countBrighter(image, 127) / M_PI);
        QVERIFY2(std::abs(radiusPixels - 20.0 / mmPerPixel) < 0.6, qPrintable(QString::number(radiusPixels)));
        QCOMPARE(qRed(image.pixel(64, 64)), 255);
        QCOMPARE(qRed(image.pixel(2, 2)), 0); // background -1000 at the window's floor

        auto cut = parameters;
        render::VolumeCutOut cutOut;
        cutOut.direction = cut.camera.direction;
        cutOut.right = cut.camera.right;
        cutOut.up = cut.camera.up;
        cutOut.halfExtentMm = render::volumeRayGeometry(*renderer.volume(), cut).halfExtentMm;
        cutOut.mask = QImage(100, 100, QImage::Format_Grayscale8);
        cutOut.mask.fill(0);
        for (int y = 0; y < 100; ++y)
            std::fill_n(cutOut.mask.scanLine(y), 50, quint8(255));
        QVERIFY(cut.cutOuts.add(cutOut));
        const QImage halfDisc = renderer.render(cut, QSize(128, 128));
        QCOMPARE(qRed(halfDisc.pixel(54, 64)), 255);
        QCOMPARE(qRed(halfDisc.pixel(74, 64)), 0);
        // From the side the remaining half-ball is seen whole in depth.
        cut.camera.setViewPreset(VolumeViewPreset::Right);
        QCOMPARE(qRed(renderer.render(cut, QSize(128, 128)).pixel(64, 64)), 255);
    }

    // Two slabs across the view: the near one, opaque enough to stop the ray,
    // gives the pixel its colour, from whichever side the camera looks.
    void slabsCompositeFrontToBack()
    {
        auto volume = std::make_shared<Volume>(velmaris::testing::filledVolume(32, 32, 32, [](int, int y, int) {
            return y >= 4 && y < 12 ? 100.0f : y >= 20 && y < 28 ? 200.0f : 0.0f;
        }));
        render::SoftwareVolumeRenderer renderer(volume);
        render::VolumeRenderParameters p;
        p.mode = ProjectionMode::Vrt;
        p.shading = false;
        p.preset.name = u"two"_s;
        p.preset.nodes = {{0, QColor(255, 0, 0), 0}, {50, QColor(255, 0, 0), 0.2}, {150, QColor(255, 0, 0), 0.2},
                          {150, QColor(0, 255, 0), 0.2}, {200, QColor(0, 255, 0), 0.2}};
        p.camera.level = 100.0;
        p.camera.width = 200.0;
        for (const auto view : {VolumeViewPreset::Front, VolumeViewPreset::Back}) {
            p.camera.setViewPreset(view);
            const QRgb centre = renderer.render(p, QSize(64, 64)).pixel(32, 32);
            // Seen from the back, the ramp from air into the 200 HU slab passes
            // the red range for a sample or two: green still dominates.
            const bool front = view == VolumeViewPreset::Front;
            if (front)
                QVERIFY2(qRed(centre) >= 245 && qGreen(centre) <= 10, qPrintable(QString::number(centre, 16)));
            else
                QVERIFY2(qGreen(centre) > 2 * qRed(centre), qPrintable(QString::number(centre, 16)));
        }
        // A thin slab lets the one behind show through: both colours mix.
        p.preset.nodes = {{0, QColor(255, 0, 0), 0}, {100, QColor(255, 0, 0), 0.05}, {150, QColor(255, 0, 0), 0.05},
                          {150, QColor(0, 255, 0), 0.5}, {200, QColor(0, 255, 0), 0.5}};
        p.camera.setViewPreset(VolumeViewPreset::Front);
        const QRgb mixed = renderer.render(p, QSize(64, 64)).pixel(32, 32);
        QVERIFY2(qRed(mixed) > 60 && qGreen(mixed) > 60, qPrintable(QString::number(mixed, 16)));
    }

    void badVolumes_data()
    {
        QTest::addColumn<QList<int>>("size");
        QTest::addColumn<double>("spacing");
        QTest::newRow("empty") << QList<int>{0, 0, 0} << 1.0;
        QTest::newRow("one slice") << QList<int>{16, 16, 1} << 1.0;
        QTest::newRow("1 × 1 × 1") << QList<int>{1, 1, 1} << 1.0;
        QTest::newRow("NaN spacing") << QList<int>{8, 8, 8} << std::numeric_limits<double>::quiet_NaN();
    }

    void badVolumes()
    {
        QFETCH(QList<int>, size);
        QFETCH(double, spacing);
        auto volume = std::make_shared<Volume>(velmaris::testing::filledVolume(
            size[0], size[1], size[2], [](int, int, int) { return 500.0f; }, {spacing, spacing, spacing}));
        render::SoftwareVolumeRenderer renderer(volume);
        for (const ProjectionMode mode : {ProjectionMode::Maximum, ProjectionMode::Vrt}) {
            render::VolumeRenderParameters p;
            p.mode = mode;
            p.preset = render::presetByName(u"Кости"_s);
            p.camera.level = 0.0;
            p.camera.width = 1000.0;
            const QImage image = renderer.render(p, QSize(32, 32));
            QCOMPARE(image.size(), QSize(32, 32));
            // A usable volume shows at the centre; an empty one leaves it black.
            QCOMPARE(qRed(image.pixel(16, 16)) > 0, size[0] > 0);
        }
    }

    void cliVrt()
    {
        using namespace velmaris;
        using namespace velmaris::testing;
        gen::SeriesSpec spec = seriesSpec(40, 48, 48);
        const QString folder = m_dir.filePath(u"series"_s);
        QVERIFY(velmaris::gen::writeSeries(spec, folder, nullptr));
        const QString db = m_dir.filePath(u"index.sqlite3"_s);
        QCOMPARE(cli({u"import"_s, folder, u"--db"_s, db}).exitCode, 0);
        const QString png = m_dir.filePath(u"vrt.png"_s);
        const QStringList base{u"vrt"_s, u"--db"_s, db, spec.seriesInstanceUid, u"--size"_s, u"96x64"_s, u"--out"_s, png};

        CliRun run = cli(base + QStringList{u"--preset"_s, u"Кости"_s});
        const QJsonObject drawn{{u"ok"_s, true}, {u"renderer"_s, u"software"_s}, {u"width"_s, 96}, {u"height"_s, 64}};
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(fieldsOf(run.record, drawn), compact(drawn));
        QVERIFY(run.record.value(u"steps"_s).toInt() >= 220);
        QCOMPARE(QImage(png).size(), QSize(96, 64));
        QVERIFY(countBrighter(QImage(png), 100) > 0);

        // The test runs on the offscreen platform: OpenGL is refused plainly, or
        // replaced by the CPU when asked to.
        run = cli(base + QStringList{u"--renderer"_s, u"opengl"_s});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.record.value(u"ok"_s).toBool(), false);
        QVERIFY2(QString::fromUtf8(run.err).contains(u"OpenGL недоступен"_s), run.err.constData());
        run = cli(base + QStringList{u"--renderer"_s, u"auto"_s, u"--mode"_s, u"mip"_s});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(fieldsOf(run.record, drawn), compact(drawn));
        QCOMPARE(cli(base + QStringList{u"--view"_s, u"diagonal"_s}).exitCode, 2);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(VolumeRenderTest)
#include "test_volume_render.moc"
