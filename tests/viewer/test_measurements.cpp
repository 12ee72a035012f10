#include "ui/PrivateSettings.h"
#include "viewer/MeasurementGeometry.h"
#include "viewer/MeasurementLabels.h"
#include "viewer/MeasurementScale.h"
#include "viewer/PagingAccumulator.h"
#include "viewer/QuickTools.h"
#include "viewer/QuickToolsNotifier.h"
#include "viewer/RoiStatistics.h"
#include "viewer/RulerCalibration.h"
#include "viewer/ShapeHitTest.h"
#include "viewer/SmoothContour.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <numbers>

using render::MeasurementMode;
using Points = QList<QPointF>;

namespace {

// A frame whose value at (x, y) is x + 100·y, so that sums follow by hand
// from the pixel coordinates.
render::DecodedFrame coordinateFrame()
{
    render::DecodedFrame frame{true, 20, 20, {}, {}};
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            frame.values.push_back(x + 100.0 * y);
    return frame;
}

// Rulers of 10 image pixels across and down under the scale.
QString across(const render::PixelScale &scale)
{
    return render::geometryLabel(MeasurementMode::Ruler, {{0, 0}, {10, 0}}, scale, true) + QStringLiteral(" / ")
           + render::geometryLabel(MeasurementMode::Ruler, {{0, 0}, {0, 10}}, scale, true);
}

// A line of length 10 leaving `from` at `degrees` counter-clockwise on screen,
// where y points down.
QPointF towards(const QPointF &from, double degrees)
{
    const double r = degrees * std::numbers::pi / 180.0;
    return from + QPointF(std::cos(r), -std::sin(r)) * 10.0;
}

} // namespace

class MeasurementsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { velmaris::testing::usePrivateSettings(m_config.path()); }
    void init() { QSettings().clear(); }

    void roiStatistics_data()
    {
        QTest::addColumn<bool>("ellipse");
        QTest::addColumn<Points>("shape"); // ellipse: centre and radii; polygon: vertices
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("mean");
        QTest::newRow("radius 0.4 on a pixel") << true << Points{{10.5, 10.5}, {0.4, 0.4}} << 1 << 1010.0;
        // (5,5) and its four neighbours, which lie exactly on the circle.
        QTest::newRow("unit circle") << true << Points{{5.5, 5.5}, {1, 1}} << 5 << 505.0;
        // Row y = 5 from x = 3 to 7, plus (5,4) and (5,6): 3535 / 7.
        QTest::newRow("wide ellipse") << true << Points{{5.5, 5.5}, {2, 1}} << 7 << 505.0;
        // (0,0), (1,0), (0,1).
        QTest::newRow("ellipse clipped at origin") << true << Points{{0.5, 0.5}, {1, 1}} << 3 << 101.0 / 3.0;
        // (19,19), (18,19), (19,18).
        QTest::newRow("ellipse clipped at far corner") << true << Points{{19.5, 19.5}, {1, 1}} << 3 << 5656.0 / 3.0;
        QTest::newRow("ellipse outside") << true << Points{{-10, -10}, {3, 3}} << 0 << 0.0;
        QTest::newRow("zero radius") << true << Points{{5, 5}, {0, 2}} << 0 << 0.0;
        // The circle drawn in the square's outline takes the square's pixels.
        QTest::newRow("circle in the square below") << true << Points{{4, 4}, {1, 1}} << 4 << 353.5;
        // Centres (3.5|4.5, 3.5|4.5): 303, 304, 403, 404.
        QTest::newRow("square") << false << Points{{3, 3}, {5, 3}, {5, 5}, {3, 5}} << 4 << 353.5;
        // Centres with x + y + 1 < 4.2: the ten pixels with x + y ≤ 3.
        QTest::newRow("triangle") << false << Points{{0, 0}, {4.2, 0}, {0, 4.2}} << 10 << 101.0;
        // Only (0|1, 0|1) lie inside the frame: 0, 1, 100, 101.
        QTest::newRow("polygon partly outside") << false << Points{{-5, -5}, {2, -5}, {2, 2}, {-5, 2}} << 4 << 50.5;
        QTest::newRow("two vertices") << false << Points{{0, 0}, {5, 5}} << 0 << 0.0;
    }
    void roiStatistics()
    {
        QFETCH(bool, ellipse);
        QFETCH(Points, shape);
        QFETCH(int, count);
        QFETCH(double, mean);
        const render::RoiStatistics s =
            ellipse ? render::ellipseStatistics(coordinateFrame(), shape[0].x(), shape[0].y(), shape[1].x(), shape[1].y())
                    : render::polygonStatistics(coordinateFrame(), shape);
        QCOMPARE(s.count, count);
        QCOMPARE(s.mean, mean);
        if (count == 0)
            QCOMPARE(render::roiStatisticsLabel(s), QStringLiteral("ROI пуст"));
    }

    void populationDeviation()
    {
        // 1 2 / 3 4: mean 2.5, squared deviations 2.25, 0.25, 0.25, 2.25 over n = 4.
        render::DecodedFrame frame{true, 2, 2, {1.0, 2.0, 3.0, 4.0}, {}};
        for (const render::RoiStatistics &s : {render::polygonStatistics(frame, {{0, 0}, {2, 0}, {2, 2}, {0, 2}}),
                                               render::ellipseStatistics(frame, 1.0, 1.0, 0.75, 0.75)}) {
            QCOMPARE(s.standardDeviation, std::sqrt(1.25));
            QCOMPARE(render::roiStatisticsLabel(s), QStringLiteral("Mean 2.5  Min 1  Max 4  SD 1.1  (n=4)"));
        }
        frame.ok = false;
        QCOMPARE(render::ellipseStatistics(frame, 0.5, 0.5, 1, 1).count, 0);
        QCOMPARE(render::polygonStatistics(frame, {{0, 0}, {2, 0}, {0, 2}}).count, 0);
    }

    void angles_data()
    {
        QTest::addColumn<double>("first");
        QTest::addColumn<double>("second");
        QTest::addColumn<QString>("angle");
        QTest::addColumn<QString>("cobb");
        QTest::addColumn<QString>("firstTilt"); // the first Cobb line alone
        QTest::newRow("30 and 150") << 30.0 << 150.0 << "120.0°" << "Cobb 60.0°" << "30.0°";
        QTest::newRow("0 and 270") << 0.0 << 270.0 << "90.0°" << "Cobb 90.0°" << "0.0°";
        QTest::newRow("100 and 45") << 100.0 << 45.0 << "55.0°" << "Cobb 55.0°" << "80.0°";
        QTest::newRow("170 and 10") << 170.0 << 10.0 << "160.0°" << "Cobb 20.0°" << "10.0°";
    }
    void angles()
    {
        QFETCH(double, first);
        QFETCH(double, second);
        QFETCH(QString, angle);
        QFETCH(QString, cobb);
        QFETCH(QString, firstTilt);
        const QPointF vertex(50, 50);
        QCOMPARE(render::angleLabel(render::angleDegrees(vertex, towards(vertex, first), towards(vertex, second))),
                 angle);
        // Separate Cobb lines that do not meet.
        const QPointF a(0, 0), b(100, 80);
        QCOMPARE(render::cobbAngleLabel(render::cobbAngleDegrees(a, towards(a, first), b, towards(b, second))), cobb);
        QCOMPARE(render::angleLabel(render::lineTiltDegrees(a, towards(a, first))), firstTilt);
    }

    void labels_data()
    {
        using namespace render;
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // Diameter 10 px at 0.5 mm: 25π · 0.25 = 19.63 mm², 10π · 0.5 = 15.71 mm.
        QTest::newRow("ellipse in mm") << areaPerimeterLabel(ellipseArea(5, 5), ellipsePerimeter(5, 5), 0.5)
                                       << "S=19.6 мм²  P=15.7 мм";
        // A 3-4-5 triangle: the closing edge brings the perimeter to 12.
        const Points triangle{{0, 0}, {4, 0}, {0, 3}};
        QTest::newRow("triangle in px") << areaPerimeterLabel(polygonArea(triangle), polygonPerimeter(triangle), 0)
                                        << "S=6.0 px²  P=12.0 px";
        QTest::newRow("length in mm") << lengthLabel(5, 0.5) << "2.5 мм";
        QTest::newRow("length in px") << lengthLabel(5, 0) << "5.0 px";
        QTest::newRow("statistics") << roiStatisticsLabel({-12.345, 3.26, -1000.4, 55.6, 7})
                                    << "Mean -12.3  Min -1000  Max 56  SD 3.3  (n=7)";
        QTest::newRow("pending") << roiPendingLabel(false) << "отпустите для расчёта HU…";
        QTest::newRow("pending after a move") << roiPendingLabel(true) << "отпустите для пересчёта HU…";
        QTest::newRow("unavailable") << roiUnavailableLabel("нет файла") << "HU недоступно: нет файла";
        // The scale: rulers of 10 px across and down.
        QTest::newRow("each axis its spacing") << across(measurementScale(0.0, 0.5, 0.7)) << "7.0 мм / 5.0 мм";
        QTest::newRow("22 mm over 44 px")
            << across(measurementScale(calibrationMmPerPixel(22, 44), 0.7, 0.7)) << "5.0 мм / 5.0 мм";
        QTest::newRow("calibration keeps proportions") << across(measurementScale(0.5, 1.4, 0.7)) << "5.0 мм / 10.0 мм";
        QTest::newRow("row spacing only") << across(measurementScale(0.0, 0.5, 0.0)) << "5.0 мм / 5.0 мм";
        QTest::newRow("column spacing only") << across(measurementScale(0.0, -1.0, 0.7)) << "7.0 мм / 7.0 мм";
        QTest::newRow("no spacing") << across(measurementScale(0.0, 0.0, 0.0)) << "10.0 px / 10.0 px";
        QTest::newRow("aspect ratio only") << across(measurementScale(0.0, 0.0, 0.0, 2.0)) << "10.0 px / 20.0 px";
        // Pixels of 1.4 mm (rows) × 0.7 mm (columns) measure true millimetres.
        const PixelScale nonSquare = measurementScale(0.0, 1.4, 0.7);
        // 30 mm right and 40 mm down.
        QTest::newRow("3-4-5 diagonal")
            << geometryLabel(MeasurementMode::Ruler, {{0, 0}, {30 / 0.7, 40 / 1.4}}, nonSquare, true) << "50.0 мм";
        // Equal millimetres along both arms' directions: a true 45°.
        QTest::newRow("45 degrees")
            << geometryLabel(MeasurementMode::Angle, {{0, 0}, {40, 0}, {40, -20}}, nonSquare, true) << "45.0°";
        // The first Cobb line alone shows its tilt.
        QTest::newRow("first Cobb line")
            << geometryLabel(MeasurementMode::CobbAngle, {{0, 0}, {40, -20}}, nonSquare, false) << "45.0°";
        // A circle of 7 mm radius is 20 × 10 pixels: 49π mm², 14π mm.
        QTest::newRow("round phantom")
            << geometryLabel(MeasurementMode::EllipseArea, {{0, 0}, {20, 10}}, nonSquare, true)
            << "S=153.9 мм²  P=44.0 мм";
        // A 14 mm square.
        QTest::newRow("square")
            << geometryLabel(MeasurementMode::Polygon, {{0, 0}, {20, 0}, {20, 10}, {0, 10}}, nonSquare, true)
            << "S=196.0 мм²  P=56.0 мм";
    }
    void labels()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
        // a = 2, b = 1: h = 1/3, P = 3π(1 + h / (10 + √(11/3))) ≈ 9.68845.
        QVERIFY(std::abs(render::ellipsePerimeter(2, 1) - 9.68845) < 1e-4);
    }

    // Cubic segments pᵢ → pᵢ₊₁ with control points pᵢ + (pᵢ₊₁ − pᵢ₋₁)/6 and
    // pᵢ₊₁ − (pᵢ₊₂ − pᵢ)/6; an open curve's missing neighbours are its ends.
    void smoothContour_data()
    {
        QTest::addColumn<bool>("closed");
        QTest::addColumn<Points>("vertices");
        QTest::addColumn<Points>("elements");
        QTest::newRow("closed square") << true << Points{{0, 0}, {6, 0}, {6, 6}, {0, 6}}
                                       << Points{{0, 0}, {1, -1}, {5, -1}, {6, 0}, {7, 1}, {7, 5}, {6, 6},
                                                 {5, 7}, {1, 7}, {0, 6}, {-1, 5}, {-1, 1}, {0, 0}};
        QTest::newRow("open corner") << false << Points{{0, 0}, {6, 0}, {6, 6}}
                                     << Points{{0, 0}, {1, 0}, {5, -1}, {6, 0}, {7, 1}, {6, 5}, {6, 6}};
        QTest::newRow("open line") << false << Points{{0, 0}, {6, 0}} << Points{{0, 0}, {6, 0}};
    }
    void smoothContour()
    {
        QFETCH(bool, closed);
        QFETCH(Points, vertices);
        QFETCH(Points, elements);
        const QPainterPath path = closed ? render::closedSmoothContour(vertices) : render::openSmoothContour(vertices);
        Points got;
        for (int i = 0; i < path.elementCount(); ++i)
            got.append(path.elementAt(i));
        QCOMPARE(got, elements);
        QCOMPARE(path.elementAt(1).type, vertices.size() > 2 ? QPainterPath::CurveToElement : QPainterPath::LineToElement);
    }

    void paging_data()
    {
        QTest::addColumn<QList<double>>("moves"); // dy, elapsed ms, dy, elapsed ms …
        QTest::addColumn<int>("slices");
        QTest::addColumn<double>("pending");
        // 4 · (4/100 · 1.5 + 1) = 4.24 per drag.
        QTest::newRow("one slow drag") << QList<double>{4, 100} << 0 << 4.24;
        QTest::newRow("two slow drags") << QList<double>{4, 100, 4, 100} << 1 << 0.48;
        // The factor is capped at 6: 60 px are 7 slices with 4 px left.
        QTest::newRow("fast drag") << QList<double>{10, 1} << 7 << 4.0;
        QTest::newRow("fast drag up") << QList<double>{-10, 1} << -7 << -4.0;
        QTest::newRow("no elapsed time") << QList<double>{4, 0} << 3 << 0.0;
    }
    void paging()
    {
        QFETCH(QList<double>, moves);
        QFETCH(int, slices);
        QFETCH(double, pending);
        render::PagingAccumulator accumulator;
        int moved = 0;
        for (qsizetype i = 0; i + 1 < moves.size(); i += 2)
            moved += accumulator.addMove(moves[i], static_cast<qint64>(moves[i + 1]));
        QCOMPARE(moved, slices);
        QVERIFY(std::abs(accumulator.pending() - pending) < 1e-9);
    }

    void hits_data()
    {
        using enum MeasurementMode;
        QTest::addColumn<bool>("hit");
        QTest::addColumn<bool>("expected");
        // A square with a V-shaped notch cut from its bottom edge.
        const Points concave{{0, 0}, {10, 0}, {10, 10}, {5, 5}, {0, 10}};
        QTest::newRow("polygon body") << render::pointInPolygon(5, 3, concave) << true;
        QTest::newRow("polygon left arm") << render::pointInPolygon(1, 8, concave) << true;
        QTest::newRow("polygon notch") << render::pointInPolygon(5, 8, concave) << false;
        QTest::newRow("beyond the polygon") << render::pointInPolygon(11, 5, concave) << false;
        // 6 screen pixels at a zoom of 3 are 2 image pixels.
        const auto hit = [](MeasurementMode kind, const Points &points, const QPointF &press) {
            return render::shapeHit(kind, points, press, render::shapeHitTolerance(3.0));
        };
        const Points segment{{0, 0}, {10, 0}};
        const Points angle{{0, 0}, {10, 0}, {0, 10}};
        const Points path{{0, 0}, {10, 0}, {10, 10}};
        const Points cobb{{0, 0}, {10, 0}, {0, 20}, {10, 20}};
        const Points box{{10, 4}, {0, 0}}; // half-axes 5 and 2 about (5, 2)
        QTest::newRow("ruler at tolerance") << hit(Ruler, segment, {5, 2}) << true;
        QTest::newRow("ruler beyond tolerance") << hit(Ruler, segment, {5, 2.01}) << false;
        QTest::newRow("arrow past its end") << hit(Arrow, segment, {12, 0}) << true;
        QTest::newRow("arrow beyond its end") << hit(Arrow, segment, {12.1, 0}) << false;
        QTest::newRow("angle second arm") << hit(Angle, angle, {1, 5}) << true;
        QTest::newRow("angle between arms") << hit(Angle, angle, {5, 5}) << false;
        QTest::newRow("angle of two points") << hit(Angle, segment, {5, 0}) << false;
        QTest::newRow("drawing stays open") << hit(Drawing, path, {5, 5}) << false;
        QTest::newRow("polygon closing edge") << hit(Polygon, path, {5, 5}) << true;
        QTest::newRow("contour closing edge") << hit(SmoothContour, path, {5, 5}) << true;
        QTest::newRow("cobb second line") << hit(CobbAngle, cobb, {5, 21}) << true;
        QTest::newRow("cobb without second line") << hit(CobbAngle, cobb.first(3), {5, 21}) << false;
        QTest::newRow("ellipse edge") << hit(EllipseRoi, box, {10, 2}) << true;
        QTest::newRow("rectangle corner") << hit(EllipseArea, box, {0.5, 0.5}) << false;
        QTest::newRow("freehand roi") << hit(FreehandRoi, path, {10, 0}) << false;
        QTest::newRow("one point") << hit(Ruler, Points{{0, 0}}, {0, 0}) << false;
        QTest::newRow("degenerate view: 6 image pixels") << (render::shapeHitTolerance(0.0) == 6.0) << true;
    }
    void hits()
    {
        QFETCH(bool, hit);
        QFETCH(bool, expected);
        QCOMPARE(hit, expected);
    }

    void quickToolsNormalisation_data()
    {
        QTest::addColumn<QList<int>>("tools");
        QTest::addColumn<QList<int>>("expected");
        const QList<int> defaults{3, 4, 5, 13, 10, 9};
        QTest::newRow("five entries") << QList<int>{1, 2, 3, 4, 5} << defaults;
        QTest::newRow("seven entries") << QList<int>{1, 2, 3, 4, 5, 6, 7} << defaults;
        QTest::newRow("unknown values") << QList<int>{0, 16, 18, 22, -5, 19} << QList<int>{0, -1, -1, -1, -1, 19};
        QTest::newRow("valid") << QList<int>{15, 14, -1, 21, 20, 12} << QList<int>{15, 14, -1, 21, 20, 12};
    }
    void quickToolsNormalisation()
    {
        QFETCH(QList<int>, tools);
        QFETCH(QList<int>, expected);
        QCOMPARE(quicktools::normalizedQuickTools(tools), expected);
    }

    void quickToolsStorage()
    {
        const QString key = QStringLiteral("viewer/quickTools");
        QCOMPARE(quicktools::loadQuickTools(), (QList<int>{3, 4, 5, 13, 10, 9}));
        QSignalSpy changed(quicktools::Notifier::instance(), &quicktools::Notifier::changed);
        quicktools::saveQuickTools({7, 8, 99, 11, 12, 14});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(quicktools::loadQuickTools(), (QList<int>{7, 8, -1, 11, 12, 14}));
        QSettings().setValue(key, QStringList{"3", "x", "4", "5", "6", "7"});
        QCOMPARE(quicktools::loadQuickTools(), (QList<int>{3, -1, 4, 5, 6, 7}));
    }

    void calibration()
    {
        QCOMPARE(render::calibrationMmPerPixel(22, 3), 22.0 / 3.0);
        QCOMPARE(render::calibrationMmPerPixel(22, 2.9), 0.0); // too short a line
        const QString uid = QStringLiteral("1.2.840.10008.9");
        QCOMPARE(render::storedCalibration(uid), 0.0);
        QCOMPARE(render::lastCalibrationSizeMm(), 25.0);
        render::storeCalibration(uid, 0.5);
        render::storeLastCalibrationSizeMm(22.0);
        QSettings().sync();
        QCOMPARE(render::storedCalibration(uid), 0.5);
        QCOMPARE(render::lastCalibrationSizeMm(), 22.0);
        // The per-user store of the application's identity holds it.
        const QSettings file(m_config.filePath(QStringLiteral("Brennick/Norvane.conf")), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("viewer/calibration/") + uid).toDouble(), 0.5);
        render::removeCalibration(uid);
        QCOMPARE(render::storedCalibration(uid), 0.0);
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(MeasurementsTest)
#include "test_measurements.moc"
