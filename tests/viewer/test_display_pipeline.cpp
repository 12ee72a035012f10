#include "ui/PrivateSettings.h"
#include "viewer/DisplayState.h"
#include "viewer/FusionComposer.h"
#include "viewer/ImageInversion.h"
#include "viewer/OverlayText.h"
#include "viewer/WindowPresets.h"

#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <vector>

using render::WindowLevel;

namespace {

QStringList describe(const QList<render::WindowPreset> &presets)
{
    QStringList out;
    for (const render::WindowPreset &p : presets)
        out.append(QStringLiteral("%1 %2/%3").arg(p.name).arg(p.window.centre).arg(p.window.width));
    return out;
}

QImage filled(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// One voxel exactly under pixel (0, 0) of a slice through the origin; every
// other pixel of the slice misses the grid.
struct SingleVoxel
{
    std::vector<float> voxels;
    render::SliceGeometry slice{{}, {1, 0, 0}, {0, 1, 0}, 1.0, 1.0, true};
    render::FusionLayer layer;

    explicit SingleVoxel(float value) : voxels{value}
    {
        layer.grid.size = {1, 1, 1};
        layer.grid.voxels = voxels;
        layer.window = {150.0, 300.0}; // t = value / 300
    }
};

} // namespace

class DisplayPipelineTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { velmaris::testing::usePrivateSettings(m_config.path()); }
    void init() { QSettings().clear(); }

    void dragsTheWindow_data()
    {
        QTest::addColumn<double>("dx");
        QTest::addColumn<double>("dy");
        QTest::addColumn<double>("centre");
        QTest::addColumn<double>("width");
        QTest::newRow("10 right, 5 down") << 10.0 << 5.0 << 50.0 << 420.0;
        QTest::newRow("left and up") << -20.0 << -7.0 << 26.0 << 360.0;
        QTest::newRow("300 left stops at 1") << -300.0 << 0.0 << 40.0 << 1.0;
    }
    void dragsTheWindow()
    {
        QFETCH(double, dx);
        QFETCH(double, dy);
        QFETCH(double, centre);
        QFETCH(double, width);
        render::DisplayState state;
        state.adoptRenderedWindow({40.0, 400.0}); // the file default is shown, not chosen
        QCOMPARE(state.window(), (WindowLevel{40.0, 400.0}));
        QVERIFY(!state.windowForDraw());
        state.drag(dx, dy);
        QCOMPARE(state.windowForDraw(), std::optional(WindowLevel{centre, width}));
        state.clearUserWindow(); // another series
        QVERIFY(!state.windowForDraw());
        state.applyWindow({-600.0, 1500.0});
        QCOMPARE(state.windowForDraw(), std::optional(WindowLevel{-600.0, 1500.0}));
    }

    void presetsPersistInSettings()
    {
        QCOMPARE(describe(render::builtInWindowPresets()),
                 (QStringList{"Лёгкие -600/1500", "Кость 300/1500", "Мозг 40/80", "Средостение 50/350",
                              "Брюшная пол. 60/400", "Мягкие ткани 40/400"}));
        QVERIFY(render::addUserWindowPreset(QStringLiteral("  Печень "), {60.5, 150.0}));
        QVERIFY(!render::addUserWindowPreset(QStringLiteral("  "), {1.0, 2.0}));
        QVERIFY(render::addUserWindowPreset(QStringLiteral("Кисти"), {-20.0, 900.0}));
        QVERIFY(render::addUserWindowPreset(QStringLiteral("Печень"), {70.0, 80.0}));
        QSettings settings;
        QCOMPARE(settings.value("customWindowPresets/size").toInt(), 3);
        QCOMPARE(settings.value("customWindowPresets/1/name").toString(), QStringLiteral("Печень"));
        QCOMPARE(settings.value("customWindowPresets/1/center").toDouble(), 60.5);
        QCOMPARE(settings.value("customWindowPresets/2/width").toDouble(), 900.0);
        QCOMPARE(describe(render::userWindowPresets()),
                 (QStringList{"Печень 60.5/150", "Кисти -20/900", "Печень 70/80"}));

        QCOMPARE(render::removeUserWindowPresets(QStringLiteral("Печень")), 2);
        QCOMPARE(describe(render::userWindowPresets()), QStringList{"Кисти -20/900"});
        QVERIFY(!settings.contains("customWindowPresets/2/name")); // no stale tail

        settings.setValue("customWindowPresets/1/center", "abc");
        settings.setValue("customWindowPresets/1/width", "широко");
        QCOMPARE(describe(render::userWindowPresets()), QStringList{"Кисти 0/0"});
    }

    void invertsEveryColourComponent()
    {
        QImage grey(2, 1, QImage::Format_Grayscale8);
        grey.scanLine(0)[0] = 0;
        grey.scanLine(0)[1] = 200;
        const QImage inverted = render::invertedImage(grey);
        QCOMPARE(inverted.format(), QImage::Format_RGB32);
        QCOMPARE(inverted.pixel(0, 0), qRgb(255, 255, 255));
        QCOMPARE(inverted.pixel(1, 0), qRgb(55, 55, 55));
        QCOMPARE(render::invertedImage(filled(1, 1, qRgb(10, 100, 250))).pixel(0, 0), qRgb(245, 155, 5));
    }

    void overlayTexts_data()
    {
        using namespace render;
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("WL -600.5") << windowOverlayText({-600.5, 1500}, 0, 0) << "WL: -601  WW: 1500\n";
        QTest::newRow("WL 0.5") << windowOverlayText({0.5, 80.5}, 0, 0) << "WL: 1  WW: 81\n";
        QTest::newRow("TR and TE") << windowOverlayText({40, 400}, 512.7, 4.56) << "WL: 40  WW: 400\nTR: 513  TE: 4.6";
        QTest::newRow("TE only") << windowOverlayText({40, 400}, 0, 90) << "WL: 40  WW: 400\nTR: 0  TE: 90.0";
        QTest::newRow("slice") << sliceOverlayText(0, 20, 2.5, -12.34, 0)
                               << "Срез 1 / 20\nТолщина: 2.5 мм  Позиция: -12.3 мм";
        QTest::newRow("slice, no thickness") << sliceOverlayText(4, 20, 0, 0, 0) << "Срез 5 / 20\nПозиция: 0.0 мм";
        QTest::newRow("calibrated slice") << sliceOverlayText(19, 20, 1, 7, 0.123456)
                                          << "Срез 20 / 20\nТолщина: 1.0 мм  Позиция: 7.0 мм\n"
                                             "Калибровка: 0.1235 мм/пикс";
        QTest::newRow("left") << seriesOverlayText({"КТ ОГК", "Лёгкие", "3", "CT", "", "LEFT"})
                              << "КТ ОГК\nЛёгкие\nСерия 3 · CT  ·  Сторона: Левая";
        QTest::newRow("right, body part") << seriesOverlayText({"A", "B", "3", "MR", "KNEE", "RIGHT"})
                                          << "A\nB\nСерия 3 · MR  ·  KNEE  ·  Сторона: Правая";
        QTest::newRow("other side") << seriesOverlayText({"A", "B", "3", "CT", "", "L"})
                                    << "A\nB\nСерия 3 · CT  ·  Сторона: L";
        QTest::newRow("no descriptions") << seriesOverlayText({"", "", "3", "CT", "", ""})
                                         << "(без описания)\n(без описания)\nСерия 3 · CT";
        QTest::newRow("patient") << patientOverlayText("Иванов^Пётр", "P-7", "20240315", "101500")
                                 << "Иванов Пётр\nID: P-7\n15.03.2024  10:15:00";
        QTest::newRow("patient, time with colons")
            << patientOverlayText("Иванов^Иван Петрович", "P-7", "20240315", "14:04:38.5")
            << "Иванов Иван Петрович\nID: P-7\n15.03.2024  14:04:38";
        QTest::newRow("no name, odd date") << patientOverlayText("", "P-7", "2024-03-15", "")
                                           << "(без имени)\nID: P-7\n2024-03-15  ";
        QTest::newRow("thin axial") << reconstructionOverlayText(ReconstructionPlane::Axial, SlabMode::Mip, 0, 7, 40)
                                    << "Реконструкция: Axial\nСрез 8 / 40";
        QTest::newRow("coronal MIP")
            << reconstructionOverlayText(ReconstructionPlane::Coronal, SlabMode::Mip, 10, 7, 40)
            << "Реконструкция: Coronal (MIP, 10 мм)\nСрез 8 / 40";
        QTest::newRow("sagittal mean")
            << reconstructionOverlayText(ReconstructionPlane::Sagittal, SlabMode::Mean, 2.5, 0, 1)
            << "Реконструкция: Sagittal (Среднее, 2.5 мм)\nСрез 1 / 1";
        QTest::newRow("MinIP") << reconstructionOverlayText(ReconstructionPlane::Axial, SlabMode::MinIp, 5, 0, 1)
                               << "Реконструкция: Axial (MinIP, 5 мм)\nСрез 1 / 1";
    }
    void overlayTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    // Bases and opacities keep every blended channel off whole numbers, where
    // truncation would hinge on the last bit; expectations worked out by hand.
    void fusionColourMaps_data()
    {
        QTest::addColumn<int>("map");
        QTest::addColumn<float>("value");
        QTest::addColumn<double>("opacity");
        QTest::addColumn<int>("base");
        QTest::addColumn<QRgb>("expected");
        // hot: t = 1/3 → (255, 0, 0); 2/3 → (255, 255, 0); 1 → white
        QTest::newRow("hot 1/3") << 0 << 100.0f << 0.75 << 101 << qRgb(139, 75, 75); // a = 0.25
        QTest::newRow("hot 2/3") << 0 << 200.0f << 0.75 << 100 << qRgb(177, 177, 50); // a = 0.5
        QTest::newRow("hot above the window: 1") << 0 << 450.0f << 0.8 << 37 << qRgb(211, 211, 211); // a = 0.8
        // jet: 1/3 → (0, 212.5, 255); 2/3 → (255, 212.5, 0); 1 → (127.5, 0, 0)
        QTest::newRow("jet 1/3") << 1 << 100.0f << 0.75 << 101 << qRgb(75, 128, 139);
        QTest::newRow("jet 2/3") << 1 << 200.0f << 0.75 << 100 << qRgb(177, 156, 50);
        QTest::newRow("jet 1") << 1 << 300.0f << 0.8 << 37 << qRgb(109, 7, 7);
        QTest::newRow("grey 2/3") << 2 << 200.0f << 0.75 << 101 << qRgb(135, 135, 135);
        QTest::newRow("below the window") << 1 << -50.0f << 1.0 << 64 << qRgb(64, 64, 64);
        QTest::newRow("voxel not a number") << 1 << std::numeric_limits<float>::quiet_NaN() << 1.0 << 64
                                            << qRgb(64, 64, 64);
    }
    void fusionColourMaps()
    {
        QFETCH(int, map);
        QFETCH(float, value);
        QFETCH(double, opacity);
        QFETCH(int, base);
        QFETCH(QRgb, expected);
        SingleVoxel fixture(value);
        fixture.layer.colourMap = map;
        fixture.layer.opacity = opacity;
        const QImage result = render::composeFusion(filled(2, 1, qRgb(base, base, base)), fixture.slice, fixture.layer);
        QCOMPARE(result.pixel(0, 0), expected);
        QCOMPARE(result.pixel(1, 0), qRgb(base, base, base)); // outside the grid
    }

    void fusionSamplesAlongTheSlice_data()
    {
        QTest::addColumn<double>("spacingX");
        QTest::addColumn<double>("spacingY");
        QTest::addColumn<double>("stepX"); // millimetres a pixel actually advances
        QTest::addColumn<double>("stepY");
        QTest::newRow("1 mm pixels") << 1.0 << 1.0 << 1.0 << 1.0;
        QTest::newRow("zero spacing counts as 1") << 0.0 << 0.0 << 1.0 << 1.0;
        QTest::newRow("negative spacing counts as 1") << -0.7 << 1.0 << 1.0 << 1.0;
        QTest::newRow("anisotropic pixels") << 2.0 << 0.5 << 2.0 << 0.5;
    }
    // A sagittal slice through a 2 × 2 × 2 grid of linearly growing voxels, so
    // the trilinear value under each pixel is known in closed form.
    void fusionSamplesAlongTheSlice()
    {
        QFETCH(double, spacingX);
        QFETCH(double, spacingY);
        QFETCH(double, stepX);
        QFETCH(double, stepY);
        const auto linear = [](double ix, double iy, double iz) { return 100.0 * ix + 40.0 * iy + 20.0 * iz; };
        std::vector<float> voxels;
        for (int i = 0; i < 8; ++i)
            voxels.push_back(float(linear(i % 2, i / 2 % 2, i / 4)));
        render::FusionLayer layer{{{10, 20, 30}, {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {2, 2, 2}, {2, 2, 2}, voxels},
                                  {100.0, 200.0}, render::FusionLayer::Grey, 1.0};
        const render::SliceGeometry slice{{11, 20, 30}, {0, 1, 0}, {0, 0, 1}, spacingX, spacingY, true};
        const int base = 11;
        const QImage result = render::composeFusion(filled(4, 4, qRgb(base, base, base)), slice, layer);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                const double iy = x * stepX / 2.0, iz = y * stepY / 2.0; // x index is 0.5 throughout
                const double t = linear(0.5, iy, iz) / 200.0;            // the window starts at 0
                const int expected = iy <= 1.0 && iz <= 1.0 ? int(255.0 * t * t + base * (1.0 - t)) : base;
                const QRgb pixel = result.pixel(x, y);
                const QString where =
                    QStringLiteral("(%1, %2): %3 not %4").arg(x).arg(y).arg(qRed(pixel)).arg(expected);
                QVERIFY2(qAbs(qRed(pixel) - expected) <= 1 && qGray(pixel) == qRed(pixel), qPrintable(where));
            }
        }
    }

    void fusionLeavesPicture_data()
    {
        QTest::addColumn<bool>("spatial");
        QTest::addColumn<double>("gridSpacing");
        QTest::addColumn<int>("gridSize");
        QTest::newRow("slice without spatial info") << false << 1.0 << 1;
        QTest::newRow("zero grid spacing") << true << 0.0 << 1;
        QTest::newRow("negative grid spacing") << true << -1.0 << 1;
        QTest::newRow("no voxels") << true << 1.0 << 0;
    }
    void fusionLeavesPicture()
    {
        QFETCH(bool, spatial);
        QFETCH(double, gridSpacing);
        QFETCH(int, gridSize);
        SingleVoxel fixture(500.0f);
        fixture.slice.hasSpatialInfo = spatial;
        fixture.layer.grid.spacing = {gridSpacing, 1.0, 1.0};
        fixture.layer.grid.size = {gridSize, gridSize, gridSize};
        fixture.layer.grid.voxels = std::span(fixture.voxels).first(gridSize);
        QImage picture = filled(2, 1, qRgb(1, 2, 3));
        picture.setPixel(1, 0, qRgb(200, 100, 0));
        QCOMPARE(render::composeFusion(picture, fixture.slice, fixture.layer), picture);
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(DisplayPipelineTest)
#include "test_display_pipeline.moc"
