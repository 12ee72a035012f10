#include "ui/PrivateSettings.h"
#include "viewer/CinePlayback.h"
#include "viewer/Cursor3D.h"
#include "viewer/ReferenceLines.h"
#include "viewer/SlicePlane.h"
#include "viewer/SliceSync.h"
#include "viewer/ToolbarOrder.h"
#include "viewer/VertebraLabels.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using render::PatientPoint;
using render::SliceGeometry;
using Direction = render::VertebraLabeler::Direction;
using Outcome = render::VertebraClick::Outcome;

Q_DECLARE_METATYPE(render::SliceGeometry)
Q_DECLARE_METATYPE(Direction)

namespace {

const double r2 = 1.0 / std::sqrt(2.0);

SliceGeometry slice(PatientPoint position, PatientPoint row, PatientPoint column, double spacingX = 1.0,
                    double spacingY = 1.0)
{
    return SliceGeometry{position, row, column, spacingX, spacingY, true};
}

// z = height, x along the rows, y down the columns.
SliceGeometry axial(double height, double spacing = 1.0)
{
    return slice({0, 0, height}, {1, 0, 0}, {0, 1, 0}, spacing, spacing);
}

// A stored slice row at height z, rows along x, with the given column direction.
db::SliceRef sliceRow(double height, const QList<double> &column, const QString &frame, bool spatial)
{
    db::SliceRef row;
    row.image_position_z = height;
    row.orientation_row_x = 1;
    row.orientation_col_x = column.at(0);
    row.orientation_col_y = column.at(1);
    row.orientation_col_z = column.at(2);
    row.pixel_spacing_x = row.pixel_spacing_y = 1;
    row.frame_of_reference_uid = frame;
    row.has_spatial_info = spatial;
    return row;
}

bool samePoint(const QPointF &a, const QPointF &b)
{
    return std::abs(a.x() - b.x()) < 1e-9 && std::abs(a.y() - b.y()) < 1e-9;
}

// A line's direction along the intersection is not part of its meaning.
bool sameSegment(const QLineF &a, const QLineF &b)
{
    return (samePoint(a.p1(), b.p1()) && samePoint(a.p2(), b.p2()))
           || (samePoint(a.p1(), b.p2()) && samePoint(a.p2(), b.p1()));
}

} // namespace

class ViewerLinksTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { velmaris::testing::usePrivateSettings(m_config.path()); }
    void init() { QSettings().clear(); }

    void pagingNumbers_data()
    {
        using namespace render;
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("expected");
        // lround(19 × 50 / 99) = lround(9.596) = 10
        QTest::newRow("50 of 100 onto 20") << syncedSliceIndex(50, 100, 20) << 10;
        // lround(99 × 10 / 19) = lround(52.105) = 52
        QTest::newRow("10 of 20 onto 100") << syncedSliceIndex(10, 20, 100) << 52;
        // 1 of 3 is one half; 3 × 0.5 = 1.5 rounds away from zero.
        QTest::newRow("half rounds up") << syncedSliceIndex(1, 3, 4) << 2;
        QTest::newRow("one-slice source") << syncedSliceIndex(0, 1, 20) << 0;
        QTest::newRow("fraction below 0 clamps") << sliceForFraction(-0.2, 10) << 0;
        QTest::newRow("fraction above 1 clamps") << sliceForFraction(1.5, 10) << 9;
        QTest::newRow("fraction of an empty series") << sliceForFraction(0.5, 0) << 0;
        QTest::newRow("fraction NaN counts as 0") << sliceForFraction(std::nan(""), 10) << 0;
        QTest::newRow("cine 60 fps") << cineIntervalMs(60) << 16;
        QTest::newRow("cine default") << cineIntervalMs(cineDefaultRate) << 100;
        QTest::newRow("cine 0 fps counts as 1") << cineIntervalMs(0) << 1000;
        QTest::newRow("cine advances") << nextCineSlice(0, 5) << 1;
        QTest::newRow("cine wraps after the last") << nextCineSlice(4, 5) << 0;
        QTest::newRow("cine on no slice stays") << nextCineSlice(0, 0) << 0;
    }
    void pagingNumbers()
    {
        QFETCH(int, result);
        QFETCH(int, expected);
        QCOMPARE(result, expected);
    }

    void syncedSliceByPosition_data()
    {
        QTest::addColumn<QList<double>>("followerHeights"); // z of the follower's slices
        QTest::addColumn<QList<double>>("followerColumn");
        QTest::addColumn<QString>("followerFrame");
        QTest::addColumn<bool>("followerSpatial");
        QTest::addColumn<QList<int>>("followerSlices"); // for the leader at z = 60, 52, 44, 40
        const QList<double> wider{64, 60, 56, 52, 48, 44, 40, 36};
        const QList<double> axialColumn{0, 1, 0};
        QTest::newRow("range below: nearest heights")
            << QList<double>{50, 45, 40, 35, 30} << axialColumn << "1.2.3" << true << QList<int>{0, 0, 1, 2};
        QTest::newRow("opposite normal: the same heights")
            << wider << QList<double>{0, -1, 0} << "1.2.3" << true << QList<int>{1, 3, 5, 6};
        // The fraction rule: lround(7 × i / 3) for i = 0 … 3.
        const QList<int> byFraction{0, 2, 5, 7};
        QTest::newRow("coronal follower") << wider << QList<double>{0, 0, -1} << "1.2.3" << true << byFraction;
        QTest::newRow("other frame of reference") << wider << axialColumn << "1.2.4" << true << byFraction;
        QTest::newRow("follower without spatial data") << wider << axialColumn << "1.2.3" << false << byFraction;
    }
    void syncedSliceByPosition()
    {
        QFETCH(QList<double>, followerHeights);
        QFETCH(QList<double>, followerColumn);
        QFETCH(QString, followerFrame);
        QFETCH(bool, followerSpatial);
        QFETCH(QList<int>, followerSlices);
        QList<db::SliceRef> leader, follower;
        for (double z : {60.0, 52.0, 44.0, 40.0})
            leader.append(sliceRow(z, {0, 1, 0}, QStringLiteral("1.2.3"), true));
        for (double z : followerHeights)
            follower.append(sliceRow(z, followerColumn, followerFrame, followerSpatial));
        int shown = 0;
        QList<int> paired;
        for (int i = 0; i < leader.size(); ++i)
            paired.append(shown = render::syncedSliceIndex(leader, i, follower, shown));
        QCOMPARE(paired, followerSlices);
    }

    void messages_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("vertebra start") << render::vertebraStartHint("L1")
                                        << "Кликните по телу позвонка L1, затем по следующим по порядку.";
        QTest::newRow("cursor without coordinates")
            << render::cursorNoSpatialInfoMessage()
            << "3D-курсор: у этой серии нет пространственных координат — переимпортируйте исследование заново, "
               "чтобы они появились.";
        QTest::newRow("reference lines, one panel")
            << render::referenceLinesStatus(1, 1, 0)
            << "Референсные линии: нужно минимум 2 панели с загруженными сериями.";
        QTest::newRow("reference lines, no coordinates")
            << render::referenceLinesStatus(2, 0, 0)
            << "Референсные линии: ни у одной серии нет координат ImagePositionPatient/Orientation — скорее всего, "
               "эти исследования импортированы ДО того, как их начали сохранять. Переимпортируйте исследование "
               "(папку с исходными файлами) заново.";
        QTest::newRow("reference lines parallel")
            << render::referenceLinesStatus(3, 2, 0)
            << "Референсные линии: координаты есть, но видимые плоскости практически параллельны (например, две "
               "аксиальные серии) — пересечения физически нет, это ожидаемо.";
        QTest::newRow("reference lines found") << render::referenceLinesStatus(2, 2, 2) << QString();
    }
    void messages()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void vertebraSequence_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QStringList>("messages"); // one per click
        const QString all = QStringLiteral("Все метки по порядку уже расставлены — выберите инструмент заново, "
                                           "чтобы начать с другого позвонка.");
        QTest::newRow("towards the skull from L1")
            << "L1" << Direction::TowardsSkull
            << QStringList{"Поставлена метка L1. Следующая: Th12.", "Поставлена метка Th12. Следующая: Th11.",
                           "Поставлена метка Th11. Следующая: Th10."};
        QTest::newRow("towards the skull past C1")
            << "C2" << Direction::TowardsSkull
            << QStringList{"Поставлена метка C2. Следующая: C1.", "Поставлена метка C1 — это последняя по порядку.",
                           all};
        QTest::newRow("towards the sacrum past S1")
            << "L4" << Direction::TowardsSacrum
            << QStringList{"Поставлена метка L4. Следующая: L5.", "Поставлена метка L5. Следующая: S1.",
                           "Поставлена метка S1 — это последняя по порядку.", all, all};
        QTest::newRow("towards the sacrum across C7")
            << "C7" << Direction::TowardsSacrum << QStringList{"Поставлена метка C7. Следующая: Th1."};
    }
    void vertebraSequence()
    {
        QFETCH(QString, first);
        QFETCH(Direction, direction);
        QFETCH(QStringList, messages);
        render::VertebraLabeler labeler;
        labeler.start(render::vertebraNames().indexOf(first), direction);
        const SliceGeometry sagittal = slice({0, 0, 0}, {0, 1, 0}, {0, 0, -1});
        for (int i = 0; i < messages.size(); ++i) // 30 px apart: beyond the removal radius
            QCOMPARE(labeler.click(sagittal, QPointF(10, 10 + 30 * i)).statusMessage, messages.at(i));
        QCOMPARE(labeler.labels().size(), messages.filter(QStringLiteral("Поставлена")).size());
    }

    // A label placed at pixel (50, 50) of an axial slice with 0.5 mm pixels.
    void vertebraNearALabel_data()
    {
        QTest::addColumn<double>("sliceHeight"); // mm from the label's slice
        QTest::addColumn<QPointF>("clickPixel");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("removed");
        QTest::newRow("14 px beside it") << 0.0 << QPointF(50, 64) << true << true;
        QTest::newRow("15 px beside it") << 0.0 << QPointF(50, 65) << true << false;
        QTest::newRow("on it, slice 12 mm off") << 12.0 << QPointF(50, 50) << true << true;
        QTest::newRow("on it, slice 12.5 mm off") << -12.5 << QPointF(50, 50) << false << false;
    }
    void vertebraNearALabel()
    {
        QFETCH(double, sliceHeight);
        QFETCH(QPointF, clickPixel);
        QFETCH(bool, visible);
        QFETCH(bool, removed);
        render::VertebraLabeler labeler;
        labeler.start(render::vertebraNames().indexOf("L1"), Direction::TowardsSacrum);
        QCOMPARE(labeler.click(axial(0.0, 0.5), QPointF(50, 50)).outcome, Outcome::Placed);
        const QList<render::VisibleVertebraLabel> shown = labeler.visibleLabels(axial(sliceHeight, 0.5));
        QCOMPARE(shown.size(), visible ? 1 : 0);
        if (visible)
            QVERIFY(shown.first().name == QStringLiteral("L1") && samePoint(shown.first().imagePixel, {50, 50}));
        const render::VertebraClick click = labeler.click(axial(sliceHeight, 0.5), clickPixel);
        QCOMPARE(click.outcome, removed ? Outcome::Removed : Outcome::Placed);
        QCOMPARE(click.statusMessage,
                 removed ? QStringLiteral("Метка L1 удалена.") : QStringLiteral("Поставлена метка L2. Следующая: L3."));
        QCOMPARE(labeler.labels().size(), removed ? 0 : 2);
        if (removed)
            QCOMPARE(click.statusTimeoutMs, 3000);
    }

    void vertebraWithoutSpatialData()
    {
        render::VertebraLabeler labeler;
        const render::VertebraClick click = labeler.click(SliceGeometry{}, QPointF(1, 1));
        QCOMPARE(click.outcome, Outcome::NoSpatialInfo);
        QCOMPARE(click.statusMessage, QStringLiteral("Метки позвонков: у этой серии нет пространственных координат "
                                                     "(ImagePositionPatient/ImageOrientationPatient)."));
        QCOMPARE(click.statusTimeoutMs, 5000);
        QVERIFY(labeler.labels().isEmpty());
        QCOMPARE(labeler.nextIndex(), 0);
    }

    void referenceLine_data()
    {
        QTest::addColumn<SliceGeometry>("source");
        QTest::addColumn<SliceGeometry>("target");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QLineF>("line");
        // Target: axial z = 0, 1 mm between columns, 2 mm between rows.
        const SliceGeometry wideAxial = slice({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 1.0, 2.0);
        // Coronal y = 30 → image y = 30 / 2 = 15 across the full width.
        QTest::newRow("coronal across an axial")
            << slice({0, 30, 0}, {1, 0, 0}, {0, 0, -1}) << wideAxial << 200 << 100 << true << QLineF(0, 15, 200, 15);
        QTest::newRow("sagittal beside the image")
            << slice({250, 0, 0}, {0, 1, 0}, {0, 0, -1}) << wideAxial << 200 << 100 << false << QLineF();
        // Plane x + y = 100 on z = 0: image x + 2·y = 100, from (0, 50) to (100, 0).
        QTest::newRow("vertical oblique across an axial")
            << slice({50, 50, 0}, {r2, -r2, 0}, {0, 0, 1}) << wideAxial << 200 << 100 << true << QLineF(0, 50, 100, 0);
        // Target: coronal y = 30 from (−10, 30, 40), 0.5 mm pixels, rows downwards.
        // Axial z = 20 → image y = (40 − 20) / 0.5 = 40 across the full width.
        QTest::newRow("axial across a coronal")
            << axial(20.0) << slice({-10, 30, 40}, {1, 0, 0}, {0, 0, -1}, 0.5, 0.5) << 100 << 80 << true
            << QLineF(0, 40, 100, 40);
        QTest::newRow("two axials") << axial(20.0) << wideAxial << 200 << 100 << false << QLineF();
        QTest::newRow("source without spatial data")
            << SliceGeometry{} << wideAxial << 200 << 100 << false << QLineF();
    }
    void referenceLine()
    {
        QFETCH(SliceGeometry, source);
        QFETCH(SliceGeometry, target);
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(bool, found);
        QFETCH(QLineF, line);
        const std::optional<QLineF> result = render::referenceLine(source, target, columns, rows);
        QCOMPARE(result.has_value(), found);
        if (found)
            QVERIFY2(sameSegment(*result, line), qPrintable(QDebug::toString(*result)));
    }

    void pixelMapping()
    {
        db::SliceRef ref = sliceRow(30, {0, 1, 0}, QString(), true);
        ref.image_position_x = -100;
        ref.image_position_y = -50;
        ref.pixel_spacing_x = ref.pixel_spacing_y = 0.5;
        const SliceGeometry geometry = render::sliceGeometry(ref);
        // (−100 + 40 · 0.5, −50 + 10 · 0.5, 30)
        const std::optional<PatientPoint> point = render::pixelToPatient(geometry, QPointF(40, 10));
        QCOMPARE(point, std::optional(PatientPoint{-80, -45, 30}));
        const std::optional<QPointF> back = render::patientToPixel(geometry, *point);
        QVERIFY(back && samePoint(*back, QPointF(40, 10)));
        ref.has_spatial_info = false;
        QVERIFY(!render::pixelToPatient(render::sliceGeometry(ref), QPointF(40, 10)));
    }

    void cursorTarget_data()
    {
        QTest::addColumn<QList<double>>("sliceX"); // sagittal slices at these x
        QTest::addColumn<int>("sliceIndex");
        QTest::newRow("nearest") << QList<double>{-90, -85, -81, -75} << 2;
        QTest::newRow("tie goes to the first") << QList<double>{-90, -81.5, -78.5} << 1;
        QTest::newRow("beyond the stack") << QList<double>{-60, -50} << 0;
    }
    void cursorTarget()
    {
        QFETCH(QList<double>, sliceX);
        QFETCH(int, sliceIndex);
        QList<SliceGeometry> series;
        for (double x : sliceX)
            series.append(slice({x, -120, 100}, {0, 1, 0}, {0, 0, -1}));
        const auto target = render::cursorTarget(series, series.size() - 1, {-80, -45, 30});
        QVERIFY(target);
        QCOMPARE(target->sliceIndex, sliceIndex);
        // (−45 − (−120), (30 − 100) · −1)
        QVERIFY(samePoint(target->imagePixel, QPointF(75, 70)));
        // The panel reaches that slice through its fraction.
        QCOMPARE(render::sliceForFraction(render::sliceFraction(sliceIndex, series.size()), series.size()),
                 sliceIndex);
        QVERIFY(!render::cursorTarget({SliceGeometry{}}, 0, {0, 0, 0}));
        QVERIFY(!render::cursorTarget({}, 0, {0, 0, 0}));
    }

    void toolbarFirstStartReset()
    {
        const QStringList defaults{"backToList", "print",       "invert",      "selectAll",  "compare",
                                   "clearMeasurements", "syncSlices", "wheelSeries", "dicomTags",  "calculators",
                                   "classifications"};
        QSettings settings;
        settings.setValue("toolbar/order", QStringList{"classifications", "print"});
        settings.setValue("toolbar/hidden", QStringList{"print"});
        const render::ToolbarLayout first = render::loadToolbarLayout();
        QCOMPARE(first.order, defaults);
        QVERIFY(first.hidden.isEmpty());
        QVERIFY(!settings.contains("toolbar/hidden"));
        QCOMPARE(settings.value("toolbar/resetToDefaultDone_v3").toBool(), true);
        QCOMPARE(settings.value("toolbar/order").toStringList(), defaults);

        // Later starts keep the user's arrangement, less unknown and repeated
        // actions, with new ones appended.
        render::saveToolbarLayout({{"print", "oldAction", "backToList", "print"}, {"invert", "bogus", "invert"}});
        QVERIFY(!render::resetToolbarOnFirstStart());
        const render::ToolbarLayout later = render::loadToolbarLayout();
        QCOMPARE(later.order, (QStringList{"print", "backToList"} + defaults.mid(2)));
        QCOMPARE(later.hidden, QStringList{"invert"});
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(ViewerLinksTest)
#include "test_viewer_links.moc"
