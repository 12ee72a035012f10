#include "volume/FilledVolume.h"
#include "volume/MprReslicer.h"
#include "volume/MprRoiStats.h"

#include <QtTest>

#include <cmath>

using namespace Qt::StringLiterals;
using render::Volume;

namespace {

// 3 × 4 × 5 voxels of value x + 4y + 20z (0 … 94): under the window
// (127.5, 255) every byte equals its voxel value.
Volume ramp(double sx = 1.0, double sy = 1.0, double sz = 1.0)
{
    return velmaris::testing::filledVolume(
        3, 4, 5, [](int x, int y, int z) { return x + 4 * y + 20 * z; }, {sx, sy, sz});
}

constexpr double identityCentre = 127.5;
constexpr double identityWidth = 255.0;

} // namespace

class MprResliceTest : public QObject
{
    Q_OBJECT

private slots:
    // The slab's half count in slices; the byte a value windows to (a width
    // of 0 steps one grey level per HU up from the centre; the window's centre
    // truncates).
    void slabAndWindowRules()
    {
        const struct
        {
            double thickness, spacing;
            int half;
        } slabs[] = {{0, 2.5, 0}, {10, 2.5, 2}, {5, 0.7, 4}, {1, 2.5, 0}, {-3, 1, 0}, {5, 0, 0}};
        for (const auto &c : slabs)
            QCOMPARE(render::slabHalfCount(c.thickness, c.spacing), c.half);
        const struct
        {
            double value, centre, width;
            int byte;
        } windows[] = {{99, 100, 0, 0},   {110, 100, 0, 10},  {355, 100, 0, 255}, {400, 100, 0, 255},
                       {40, 40, 400, 127}, {-160, 40, 400, 0}, {300, 40, 400, 255}};
        for (const auto &c : windows)
            QCOMPARE(int(render::windowedByte(c.value, c.centre, c.width)), c.byte);
    }

    void orthogonal_data()
    {
        QTest::addColumn<int>("plane"); // 0 axial, 1 coronal, 2 sagittal
        QTest::addColumn<int>("slice");
        QTest::addColumn<int>("half");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<int>("byte");
        QTest::newRow("axial thin: voxel (1, 3, 2)") << 0 << 2 << 0 << 0 << QSize(3, 4) << QPoint(1, 3) << 53;
        QTest::newRow("coronal: head at the top") << 1 << 1 << 0 << 0 << QSize(3, 5) << QPoint(2, 0) << 86;
        QTest::newRow("sagittal: columns along y") << 2 << 2 << 0 << 0 << QSize(4, 5) << QPoint(3, 4) << 14;
        QTest::newRow("index clamped") << 0 << 99 << 0 << 0 << QSize(3, 4) << QPoint(0, 0) << 80;
        QTest::newRow("MIP at slice 0 folds 0 … 2") << 0 << 0 << 2 << 1 << QSize(3, 4) << QPoint(0, 0) << 40;
        QTest::newRow("mean at slice 0 divides by 3") << 0 << 0 << 2 << 3 << QSize(3, 4) << QPoint(1, 1) << 25;
        QTest::newRow("MinIP") << 0 << 3 << 1 << 2 << QSize(3, 4) << QPoint(0, 0) << 40;
        QTest::newRow("mode 0 with a slab: thin") << 0 << 3 << 2 << 0 << QSize(3, 4) << QPoint(0, 0) << 60;
        QTest::newRow("half 0 with MIP: thin") << 0 << 3 << 0 << 1 << QSize(3, 4) << QPoint(0, 0) << 60;
        QTest::newRow("coronal MIP along y") << 1 << 0 << 5 << 1 << QSize(3, 5) << QPoint(0, 4) << 12;
        QTest::newRow("sagittal mean along x") << 2 << 2 << 1 << 3 << QSize(4, 5) << QPoint(0, 4) << 1;
    }

    void orthogonal()
    {
        QFETCH(int, plane);
        QFETCH(int, slice);
        QFETCH(int, half);
        QFETCH(int, mode);
        QFETCH(QSize, size);
        QFETCH(QPoint, pixel);
        QFETCH(int, byte);
        const Volume v = ramp();
        const auto render = plane == 0 ? render::renderAxial : plane == 1 ? render::renderCoronal : render::renderSagittal;
        const QImage image = render(v, slice, identityCentre, identityWidth, half, mode);
        QCOMPARE(image.format(), QImage::Format_Grayscale8);
        QCOMPARE(image.size(), size);
        QCOMPARE(int(image.constScanLine(pixel.y())[pixel.x()]), byte);
        QVERIFY(render(Volume(), slice, identityCentre, identityWidth, half, mode).isNull());
    }

    // A 3 × 3 oblique picture in the x-y plane whose pixel i samples
    // x = 0.5 + i mm (halves round away from zero, x = 3 is outside): thin
    // with the outside black, MIP along the normal, a mean that counts only
    // the samples inside, and a MIP wholly outside. No volume: one black pixel.
    void oblique()
    {
        const struct
        {
            std::array<float, 3> centre;
            int half, mode;
            QList<int> firstRow;
        } cases[] = {{{1.5f, 2.0f, 2.0f}, 0, 0, {45, 46, 0}},
                     {{1.5f, 2.0f, 2.0f}, 1, 1, {65, 66, 0}},
                     {{1.5f, 2.0f, 0.0f}, 1, 3, {15, 16, 0}},
                     {{100.0f, 100.0f, 100.0f}, 1, 1, {0, 0, 0}}};
        for (const auto &[centre, half, mode, firstRow] : cases) {
            const QImage image = render::renderOblique(ramp(), 3, centre, {1, 0, 0}, {0, 1, 0}, 1.0, identityCentre,
                                                       identityWidth, half, mode);
            QCOMPARE(image.size(), QSize(3, 3));
            QList<int> row;
            for (int i = 0; i < 3; ++i)
                row << image.constScanLine(0)[i];
            QCOMPARE(row, firstRow);
        }
        const QImage none = render::renderOblique(Volume(), 0, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 1.0, 0.0, 1.0, 0, 0);
        QCOMPARE(none.size(), QSize(1, 1));
        QCOMPARE(int(none.constScanLine(0)[0]), 0);
    }

    // Mean ± SD, extremes and count under an ellipse; an ellipse of no width
    // or outside the picture is empty; no volume, no HU. Pixels count by their
    // centres. A coronal picture of 20 rows for 5 slices: rows 0 to 3 read z 4,
    // rows 4 to 7 z 3; the ellipse takes x 1 of rows 2 and 5 and all of rows 3, 4.
    void roiStats()
    {
        const QList<double> one{1.0, 1.0, 1.0};
        const struct
        {
            bool uniform;
            int plane;
            QList<double> spacing;
            QRectF ellipse;
            QString text;
        } cases[] = {{true, 0, one, QRectF(0, 0, 2, 2), u"HU: 7 ± 0.0\nMin: 7  Max: 7\nN=4"_s},
                     {false, 0, one, QRectF(1, 1, 0, 2), u"ROI пуст"_s},
                     {false, 0, one, QRectF(50, 50, 4, 4), u"ROI пуст"_s},
                     {false, 1, {0.5, 1.0, 2.0}, QRectF(0, 2, 3, 4), u"HU: 75 ± 10.0\nMin: 64  Max: 86\nN=8"_s}};
        for (const auto &[uniform, plane, spacing, ellipse, text] : cases) {
            Volume v = ramp(spacing.at(0), spacing.at(1), spacing.at(2));
            if (uniform)
                std::fill(v.voxels.begin(), v.voxels.end(), 7.0f);
            QCOMPARE(render::mprRoiStats(v, plane, 1, ellipse), text);
            QCOMPARE(render::mprRoiStats(Volume(), plane, 1, ellipse), u"HU недоступно"_s);
        }
    }

    void stretchedPictures_data()
    {
        QTest::addColumn<int>("plane");
        QTest::addColumn<QList<double>>("spacing");
        QTest::addColumn<QSize>("size");
        // Half the ramp's change from one voxel to the next along the stretched
        // axis: the smooth scaling blends neighbours, the nearest stays within half.
        QTest::addColumn<double>("tolerance");
        // Column spacing four times the slice spacing: the picture is stretched sideways.
        QTest::newRow("coronal, wider") << 1 << QList<double>{2.0, 1.0, 0.5} << QSize(12, 5) << 0.5;
        QTest::newRow("sagittal, wider") << 2 << QList<double>{1.0, 2.0, 0.5} << QSize(16, 5) << 2.0;
        QTest::newRow("sagittal 2.0 × 1.0") << 2 << QList<double>{1.0, 2.0, 1.0} << QSize(8, 5) << 2.0;
        QTest::newRow("coronal 0.5 × 2.0: four times as high") << 1 << QList<double>{0.5, 1.0, 2.0} << QSize(3, 20)
                                                              << 10.0;
        QTest::newRow("axial 0.7 × 0.705: unscaled") << 0 << QList<double>{0.7, 0.705, 1.0} << QSize(3, 4) << 0.0;
    }

    // A picture is stretched to square millimetres, and every pixel of it reads
    // the voxel the picture shows there: one-pixel ROIs against the displayed bytes.
    void stretchedPictures()
    {
        QFETCH(int, plane);
        QFETCH(QList<double>, spacing);
        QFETCH(QSize, size);
        QFETCH(double, tolerance);
        const Volume v = ramp(spacing.at(0), spacing.at(1), spacing.at(2));
        const auto render = plane == 0 ? render::renderAxial : plane == 1 ? render::renderCoronal : render::renderSagittal;
        const QImage picture = render(v, 1, identityCentre, identityWidth, 0, 0);
        QCOMPARE(picture.size(), size);
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QString text = render::mprRoiStats(v, plane, 1, QRectF(x, y, 1.0, 1.0));
                QVERIFY2(text.startsWith(u"HU: "_s), qPrintable(u"pixel %1,%2: %3"_s.arg(x).arg(y).arg(text)));
                const double value = text.mid(4, text.indexOf(u' ', 4) - 4).toDouble();
                const double shown = picture.pixelColor(x, y).red();
                QVERIFY2(std::abs(value - shown) <= tolerance + 0.5,
                         qPrintable(u"pixel %1,%2: ROI %3, shown %4"_s.arg(x).arg(y).arg(value).arg(shown)));
            }
        }
    }

};

QTEST_GUILESS_MAIN(MprResliceTest)
#include "test_mpr_reslice.moc"
