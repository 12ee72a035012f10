#include "viewer/CinePlayback.h"
#include "viewer/Cursor3D.h"
#include "viewer/ReferenceLines.h"
#include "viewer/SlicePlane.h"
#include "viewer/SliceSync.h"
#include "viewer/ToolbarOrder.h"
#include "viewer/VertebraLabels.h"

#include <QSettings>
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
    row.pixel_spacing_x = 1;
    row.pixel_spacing_y = 1;
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
    void init() { QSettings().clear(); }

    void syncedSlice_data()
    {
        QTest::addColumn<int>("sourceIndex");
        QTest::addColumn<int>("sourceTotal");
        QTest::addColumn<int>("targetTotal");
        QTest::addColumn<int>("targetIndex");
        // lround(19 × 50 / 99) = lround(9.596) = 10
        QTest::newRow("50 of 100 onto 20") << 50 << 100 << 20 << 10;
        QTest::newRow("first onto 20") << 0 << 100 << 20 << 0;
        QTest::newRow("last onto 20") << 99 << 100 << 20 << 19;
        // lround(99 × 10 / 19) = lround(52.105) = 52
        QTest::newRow("10 of 20 onto 100") << 10 << 20 << 100 << 52;
        // 1 of 3 is one half; 3 × 0.5 = 1.5 rounds away from zero.
        QTest::newRow("half rounds up") << 1 << 3 << 4 << 2;
        QTest::newRow("one-slice target") << 50 << 100 << 1 << 0;
        QTest::newRow("one-slice source") << 0 << 1 << 20 << 0;
    }
    void syncedSlice()
    {
        QFETCH(int, sourceIndex);
        QFETCH(int, sourceTotal);
        QFETCH(int, targetTotal);
        QFETCH(int, targetIndex);
        QCOMPARE(render::syncedSliceIndex(sourceIndex, sourceTotal, targetTotal), targetIndex);
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
        QTest::newRow("wider range: the same heights")
            << wider << axialColumn << "1.2.3" << true << QList<int>{1, 3, 5, 6};
        QTest::newRow("range below: nearest heights")
            << QList<double>{50, 45, 40, 35, 30} << axialColumn << "1.2.3" << true << QList<int>{0, 0, 1, 2};
        QTest::newRow("opposite normal")
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
        QList<db::SliceRef> leader;
        for (double z : {60.0, 52.0, 44.0, 40.0})
            leader.append(sliceRow(z, {0, 1, 0}, QStringLiteral("1.2.3"), true));
        QList<db::SliceRef> follower;
        for (double z : followerHeights)
            follower.append(sliceRow(z, followerColumn, followerFrame, followerSpatial));
        int shown = 0;
        QList<int> paired;
        for (int i = 0; i < leader.size(); ++i) {
            shown = render::syncedSliceIndex(leader, i, follower, shown);
            paired.append(shown);
        }
        QCOMPARE(paired, followerSlices);
    }

    void sliceForFraction_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::newRow("below 0 clamps") << -0.2 << 10 << 0;
        QTest::newRow("above 1 clamps") << 1.5 << 10 << 9;
        QTest::newRow("empty series") << 0.5 << 0 << 0;
        QTest::newRow("NaN counts as 0") << std::nan("") << 10 << 0;
    }
    void sliceForFraction()
    {
        QFETCH(double, fraction);
        QFETCH(int, count);
        QFETCH(int, index);
        QCOMPARE(render::sliceForFraction(fraction, count), index);
    }

    void cineInterval_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("intervalMs");
        QTest::newRow("60 fps") << 60 << 16;
        QTest::newRow("7 fps") << 7 << 142;
        QTest::newRow("default") << render::cineDefaultRate << 100;
        QTest::newRow("1 fps") << 1 << 1000;
        QTest::newRow("0 counts as 1") << 0 << 1000;
    }
    void cineInterval()
    {
        QFETCH(int, rate);
        QFETCH(int, intervalMs);
        QCOMPARE(render::cineIntervalMs(rate), intervalMs);
    }

    void cineNext_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("next");
        QTest::newRow("advances") << 0 << 5 << 1;
        QTest::newRow("wraps after the last") << 4 << 5 << 0;
        QTest::newRow("one slice stays") << 0 << 1 << 0;
        QTest::newRow("empty stays") << 0 << 0 << 0;
    }
    void cineNext()
    {
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(int, next);
        QCOMPARE(render::nextCineSlice(index, count), next);
    }

    void vertebraNames()
    {
        const QStringList names = render::vertebraNames();
        QCOMPARE(names.size(), 25);
        QCOMPARE(names.mid(0, 2), (QStringList{"C1", "C2"}));
        QCOMPARE(names.mid(6, 2), (QStringList{"C7", "Th1"}));
        QCOMPARE(names.mid(18, 2), (QStringList{"Th12", "L1"}));
        QCOMPARE(names.mid(23, 2), (QStringList{"L5", "S1"}));
        QCOMPARE(render::vertebraStartHint("L1"),
                 QStringLiteral("Кликните по телу позвонка L1, затем по следующим по порядку."));
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
        for (int i = 0; i < messages.size(); ++i) {
            // 30 px apart, beyond the removal radius of the labels above.
            const render::VertebraClick click = labeler.click(sagittal, QPointF(10, 10 + 30 * i));
            QCOMPARE(click.statusMessage, messages.at(i));
        }
        const qsizetype placed = messages.filter(QStringLiteral("Поставлена")).size();
        QCOMPARE(labeler.labels().size(), placed);
    }

    void vertebraRemoval_data()
    {
        QTest::addColumn<double>("sliceHeight"); // mm from the label's slice
        QTest::addColumn<QPointF>("clickPixel"); // label at (50, 50)
        QTest::addColumn<bool>("removed");
        QTest::newRow("10 px beside it") << 0.0 << QPointF(60, 50) << true;
        QTest::newRow("14 px beside it") << 0.0 << QPointF(50, 64) << true;
        QTest::newRow("15 px beside it") << 0.0 << QPointF(50, 65) << false;
        QTest::newRow("on it, slice 11 mm off") << 11.0 << QPointF(50, 50) << true;
        QTest::newRow("on it, slice 13 mm off") << -13.0 << QPointF(50, 50) << false;
    }
    void vertebraRemoval()
    {
        QFETCH(double, sliceHeight);
        QFETCH(QPointF, clickPixel);
        QFETCH(bool, removed);
        render::VertebraLabeler labeler;
        labeler.start(render::vertebraNames().indexOf("L1"), Direction::TowardsSacrum);
        QCOMPARE(labeler.click(axial(0.0, 0.5), QPointF(50, 50)).outcome, Outcome::Placed);

        const render::VertebraClick click = labeler.click(axial(sliceHeight, 0.5), clickPixel);
        if (removed) {
            QCOMPARE(click.outcome, Outcome::Removed);
            QCOMPARE(click.statusMessage, QStringLiteral("Метка L1 удалена."));
            QCOMPARE(click.statusTimeoutMs, 3000);
            QVERIFY(labeler.labels().isEmpty());
        } else {
            QCOMPARE(click.outcome, Outcome::Placed);
            QCOMPARE(click.name, QStringLiteral("L2"));
            QCOMPARE(labeler.labels().size(), 2);
        }
    }

    void vertebraVisibility_data()
    {
        QTest::addColumn<double>("sliceHeight"); // mm from the label's slice
        QTest::addColumn<bool>("visible");
        QTest::newRow("same slice") << 0.0 << true;
        QTest::newRow("12 mm above") << 12.0 << true;
        QTest::newRow("12.5 mm below") << -12.5 << false;
    }
    void vertebraVisibility()
    {
        QFETCH(double, sliceHeight);
        QFETCH(bool, visible);
        render::VertebraLabeler labeler;
        labeler.click(axial(0.0, 0.5), QPointF(40, 30));
        const QList<render::VisibleVertebraLabel> shown = labeler.visibleLabels(axial(sliceHeight, 0.5));
        QCOMPARE(shown.size(), visible ? 1 : 0);
        if (visible) {
            QCOMPARE(shown.first().name, QStringLiteral("C1"));
            QVERIFY(samePoint(shown.first().imagePixel, QPointF(40, 30)));
        }
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
        QTest::newRow("sagittal across an axial")
            << slice({50, 0, 0}, {0, 1, 0}, {0, 0, -1}) << wideAxial << 200 << 100 << true << QLineF(50, 0, 50, 100);
        QTest::newRow("sagittal beside the image")
            << slice({250, 0, 0}, {0, 1, 0}, {0, 0, -1}) << wideAxial << 200 << 100 << false << QLineF();
        // Plane y + z = 50 meets z = 0 at y = 50 → image y = 25.
        QTest::newRow("45° oblique across an axial")
            << slice({0, 50, 0}, {1, 0, 0}, {0, r2, -r2}) << wideAxial << 200 << 100 << true << QLineF(0, 25, 200, 25);
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

    void referenceLinesStatus_data()
    {
        QTest::addColumn<int>("loaded");
        QTest::addColumn<int>("withCoordinates");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("message");
        QTest::newRow("one panel") << 1 << 1 << 0
                                   << "Референсные линии: нужно минимум 2 панели с загруженными сериями.";
        QTest::newRow("no coordinates")
            << 2 << 0 << 0
            << "Референсные линии: ни у одной серии нет координат ImagePositionPatient/Orientation — скорее всего, "
               "эти исследования импортированы ДО того, как их начали сохранять. Переимпортируйте исследование "
               "(папку с исходными файлами) заново.";
        QTest::newRow("parallel") << 3 << 2 << 0
                                  << "Референсные линии: координаты есть, но видимые плоскости практически "
                                     "параллельны (например, две аксиальные серии) — пересечения физически нет, "
                                     "это ожидаемо.";
        QTest::newRow("lines found") << 2 << 2 << 2 << QString();
    }
    void referenceLinesStatus()
    {
        QFETCH(int, loaded);
        QFETCH(int, withCoordinates);
        QFETCH(int, lines);
        QFETCH(QString, message);
        QCOMPARE(render::referenceLinesStatus(loaded, withCoordinates, lines), message);
    }

    void pixelMapping()
    {
        db::SliceRef ref;
        ref.image_position_x = -100;
        ref.image_position_y = -50;
        ref.image_position_z = 30;
        ref.orientation_row_x = 1;
        ref.orientation_col_y = 1;
        ref.pixel_spacing_x = 0.5;
        ref.pixel_spacing_y = 0.5;
        ref.has_spatial_info = true;
        const SliceGeometry geometry = render::sliceGeometry(ref);
        // (−100 + 40 · 0.5, −50 + 10 · 0.5, 30)
        const std::optional<PatientPoint> point = render::pixelToPatient(geometry, QPointF(40, 10));
        QVERIFY(point);
        QCOMPARE(*point, (PatientPoint{-80, -45, 30}));
        const std::optional<QPointF> back = render::patientToPixel(geometry, *point);
        QVERIFY(back);
        QVERIFY(samePoint(*back, QPointF(40, 10)));

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
        const PatientPoint point{-80, -45, 30};
        QList<SliceGeometry> series;
        for (double x : sliceX)
            series.append(slice({x, -120, 100}, {0, 1, 0}, {0, 0, -1}));
        const std::optional<render::CursorTarget> target = render::cursorTarget(series, series.size() - 1, point);
        QVERIFY(target);
        QCOMPARE(target->sliceIndex, sliceIndex);
        // (−45 − (−120), (30 − 100) · −1)
        QVERIFY(samePoint(target->imagePixel, QPointF(75, 70)));
        // The panel reaches that slice through its fraction.
        QCOMPARE(render::sliceForFraction(render::sliceFraction(sliceIndex, series.size()), series.size()),
                 sliceIndex);
    }

    void cursorWithoutSpatialData()
    {
        QVERIFY(!render::cursorTarget({SliceGeometry{}}, 0, {0, 0, 0}));
        QVERIFY(!render::cursorTarget({}, 0, {0, 0, 0}));
        QCOMPARE(render::cursorNoSpatialInfoMessage(),
                 QStringLiteral("3D-курсор: у этой серии нет пространственных координат — переимпортируйте "
                                "исследование заново, чтобы они появились."));
    }

    void defaultToolbarOrder()
    {
        QCOMPARE(render::defaultToolbarOrder(),
                 (QStringList{"backToList", "print", "invert", "selectAll", "compare", "clearMeasurements",
                              "syncSlices", "wheelSeries", "dicomTags", "calculators", "classifications"}));
    }

    void mergedToolbarOrder_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("available");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("nothing stored") << QStringList{} << QStringList{"print", "invert"}
                                        << QStringList{"print", "invert"};
        QTest::newRow("new actions appended")
            << QStringList{"compare", "print"} << QStringList{"print", "invert", "compare", "dicomTags"}
            << QStringList{"compare", "print", "invert", "dicomTags"};
        QTest::newRow("unknown and repeated dropped")
            << QStringList{"oldAction", "invert", "print", "invert"} << QStringList{"print", "invert"}
            << QStringList{"invert", "print"};
    }
    void mergedToolbarOrder()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, available);
        QFETCH(QStringList, order);
        QCOMPARE(render::mergedToolbarOrder(stored, available), order);
    }

    void toolbarFirstStartReset()
    {
        QSettings settings;
        settings.setValue("toolbar/order", QStringList{"classifications", "print"});
        settings.setValue("toolbar/hidden", QStringList{"print"});

        const render::ToolbarLayout first = render::loadToolbarLayout();
        QCOMPARE(first.order, render::defaultToolbarOrder());
        QVERIFY(first.hidden.isEmpty());
        QVERIFY(!settings.contains("toolbar/hidden"));
        QCOMPARE(settings.value("toolbar/resetToDefaultDone_v3").toBool(), true);
        QCOMPARE(settings.value("toolbar/order").toStringList(), render::defaultToolbarOrder());

        // Later starts keep the user's arrangement.
        render::saveToolbarLayout({{"print", "backToList"}, {"invert", "bogus"}});
        QVERIFY(!render::resetToolbarOnFirstStart());
        const render::ToolbarLayout later = render::loadToolbarLayout();
        QStringList expected{"print", "backToList"};
        for (const QString &id : render::defaultToolbarOrder())
            if (!expected.contains(id))
                expected.append(id);
        QCOMPARE(later.order, expected);
        QCOMPARE(later.hidden, QStringList{"invert"});
    }
};

int main(int argc, char *argv[])
{
    // Settings go to a private store, never the developer's own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brennick"));
    QCoreApplication::setApplicationName(QStringLiteral("Norvane"));
    ViewerLinksTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_viewer_links.moc"
