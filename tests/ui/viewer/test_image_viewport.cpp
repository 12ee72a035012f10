#include "ui/ModalBoxCatcher.h"
#include "ui/PrivateSettings.h"
#include "ui/viewer/CommentInputDialog.h"
#include "ui/viewer/GeneratedSlices.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/MeasurementItem.h"

#include "seriesgen/SeriesGenerator.h"
#include "viewer/QuickTools.h"
#include "viewer/MeasurementLabels.h"
#include "viewer/RoiStatistics.h"

#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVector3D>
#include <QtTest>

#include <cmath>

using render::MeasurementMode;
using velmaris::ImageViewportWidget;
using velmaris::MeasurementItem;
using velmaris::testing::flatSlices;
using velmaris::testing::ModalAnswerer;

namespace {

bool showPanel(ImageViewportWidget &panel)
{
    panel.resize(400, 400);
    panel.show();
    return QTest::qWaitForWindowExposed(&panel);
}

} // namespace

class TestImageViewport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QTemporaryDir m_config;
    velmaris::gen::SeriesSpec m_spec; // 6 slices of 64 × 64
    QStringList m_paths;
    QStringList m_otherPaths; // 3 slices of 48 rows × 40 columns
    // Every test starts with a shown 400 × 400 panel holding m_spec without geometry, 0.7 mm pixels.
    std::unique_ptr<ImageViewportWidget> m_panel;
    ImageViewportWidget *view = nullptr;

    // Picks the tool at one image pixel per view pixel, image centred, so view
    // distances are image distances.
    void toolAtUnitScale(MeasurementMode tool)
    {
        view->setTransform(QTransform());
        view->centerOn(32, 32);
        view->setMeasurementMode(tool);
    }
    void drag(QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(view->viewport(), button, {}, from);
        QTest::mouseMove(view->viewport(), (from + to) / 2);
        QTest::mouseMove(view->viewport(), to);
        QTest::mouseRelease(view->viewport(), button, {}, to);
    }
    void click(QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view->viewport(), button, {}, at);
    }
    void wheel(int delta, Qt::KeyboardModifiers modifiers = {})
    {
        const QPointF at(200, 200);
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    }
    // Plays pointer steps with the left button: "d x1,y1,x2,y2" drags, "c x,y"
    // clicks, "w x,y" clicks and then double-clicks (a real double click).
    void play(const QString &steps)
    {
        for (const QString &step : steps.split(' ', Qt::SkipEmptyParts)) {
            const QStringList n = step.mid(1).split(',');
            const QPoint at(n.at(0).toInt(), n.at(1).toInt());
            step.startsWith('d') ? drag(at, QPoint(n.at(2).toInt(), n.at(3).toInt())) : click(at);
            if (step.startsWith('w'))
                QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        }
    }
    // The slice shown, whether its picture is there, and the message over it.
    QString showing() const
    {
        return QStringLiteral("%1 %2 %3")
            .arg(QString::number(view->currentSlice()), view->currentPixmap().isNull() ? "no picture" : "picture",
                 view->messageText());
    }
    QString lastLabel() const { return view->measurements().last()->labelText(); }
    bool overlaySays(const QString &words) const
    {
        const QList<QLabel *> labels = view->findChildren<QLabel *>();
        return std::any_of(labels.cbegin(), labels.cend(), [&words](const QLabel *label) {
            return label->isVisible() && label->text().contains(words);
        });
    }
    QList<db::SliceRef> spatialSlices() const { return velmaris::testing::slicesFor(m_spec, m_paths); }

    // The ROI label over slice 2 between two view points, from the generator's
    // own values; the statistics themselves are the measurement tests' table.
    QString expectedEllipseLabel(QPoint a, QPoint b) const
    {
        const QRectF rect = QRectF(view->mapToScene(a), view->mapToScene(b)).normalized();
        render::DecodedFrame frame{true, 64, 64, {}, {}};
        for (int i = 0; i < 64 * 64; ++i)
            frame.values.push_back(velmaris::gen::pixelValue(m_spec, 2, i / 64, i % 64) * m_spec.rescaleSlope
                                   + m_spec.rescaleIntercept);
        return render::roiStatisticsLabel(render::ellipseStatistics(frame, rect.center().x(), rect.center().y(),
                                                                    rect.width() / 2, rect.height() / 2));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
        m_spec = velmaris::testing::seriesSpec(6);
        velmaris::gen::SeriesSpec other = velmaris::testing::seriesSpec(3, 48, 40);
        QString error;
        QVERIFY2(velmaris::gen::writeSeries(m_spec, m_dir.filePath("a"), &m_paths, &error), qPrintable(error));
        QVERIFY2(velmaris::gen::writeSeries(other, m_dir.filePath("b"), &m_otherPaths, &error), qPrintable(error));
    }
    void init()
    {
        QSettings().clear();
        m_panel = std::make_unique<ImageViewportWidget>();
        view = m_panel.get();
        QVERIFY(showPanel(*view));
        view->loadSeries(m_spec.seriesInstanceUid, flatSlices(m_paths));
    }
    void cleanup() { m_panel.reset(); }

    void emptyPanelHintsActivatesAndTakesOnlySeriesDrops()
    {
        ImageViewportWidget empty;
        QVERIFY(showPanel(empty));
        QCOMPARE(empty.messageText(), QStringLiteral("Выберите серию слева, чтобы открыть срезы"));

        QSignalSpy activated(&empty, &ImageViewportWidget::activated);
        QTest::mouseClick(empty.viewport(), Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(activated.count(), 1);

        QSignalSpy dropped(&empty, &ImageViewportWidget::seriesDropped);
        QMimeData data;
        data.setData("application/x-dicom-series-uid", "1.2.840.99");
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(empty.viewport(), &enter);
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(empty.viewport(), &drop);
        QCOMPARE(QList<QVariantList>(dropped), (QList<QVariantList>{{QStringLiteral("1.2.840.99")}}));
    }

    void pagesAndClamps_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");   // 0: wheel
        QTest::addColumn<int>("delta"); // wheel delta
        QTest::addColumn<int>("expected");
        QTest::newRow("End") << 2 << int(Qt::Key_End) << 0 << 5;
        QTest::newRow("Up at first") << 0 << int(Qt::Key_Up) << 0 << 0;
        QTest::newRow("PageDown") << 1 << int(Qt::Key_PageDown) << 0 << 2;
        QTest::newRow("wheel towards user") << 2 << 0 << -120 << 3;
        QTest::newRow("wheel past last") << 5 << 0 << -120 << 5;
    }
    void pagesAndClamps()
    {
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, delta);
        QFETCH(int, expected);
        view->showSlice(start);
        QSignalSpy changed(view, &ImageViewportWidget::sliceChanged);
        key != 0 ? QTest::keyClick(view->viewport(), Qt::Key(key)) : wheel(delta);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first(), (QVariantList{expected, 6}));
        // Left and Right ask for another series instead.
        QSignalSpy steps(view, &ImageViewportWidget::seriesStepRequested);
        QTest::keyClick(view->viewport(), Qt::Key_Left);
        QTest::keyClick(view->viewport(), Qt::Key_Right);
        QCOMPARE(QList<QVariantList>(steps), (QList<QVariantList>{{-1}, {1}}));
        QCOMPARE(view->currentSlice(), expected);
    }

    void zoomPanAndSeriesMenu()
    {
        const double fitted = view->transform().m11();
        wheel(120, Qt::ControlModifier);
        QCOMPARE(view->transform().m11(), fitted * 1.15);
        QCOMPARE(view->currentSlice(), 0);

        // The right button zooms in the margin and pans in the centre; a plain
        // right click asks for the series menu, a right drag does not.
        QSignalSpy menu(view, &ImageViewportWidget::seriesMenuRequested);
        const double before = view->transform().m11();
        drag(QPoint(20, 200), QPoint(20, 150), Qt::RightButton);
        QVERIFY(qFuzzyCompare(view->transform().m11(), before * std::pow(1.01, 50)));
        QVERIFY(view->isUserZoomed());
        const int h = view->horizontalScrollBar()->value();
        const int v = view->verticalScrollBar()->value();
        drag(QPoint(200, 200), QPoint(190, 215), Qt::RightButton);
        QCOMPARE(view->horizontalScrollBar()->value(), h + 10);
        QCOMPARE(view->verticalScrollBar()->value(), v - 15);
        QCOMPARE(menu.count(), 0);
        click(QPoint(100, 100), Qt::RightButton);
        QCOMPARE(menu.count(), 1);
    }

    void damagedSliceShowsMessageAndPagingGoesOn()
    {
        QStringList paths = m_paths;
        const QString damaged = m_dir.filePath("BROKEN.dcm");
        QVERIFY(velmaris::gen::writeDamagedFile(m_spec, velmaris::gen::Damage::TruncatedPixelData, damaged));
        paths[1] = damaged;
        // A structured report filed in the series: it holds no image at all.
        paths[3] = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/test-SR.dcm");
        paths[5] = m_otherPaths.first(); // a slice of another size shows at its own
        view->loadSeries(QStringLiteral("1.2.3.damaged"), flatSlices(paths));
        QCOMPARE(showing(), QStringLiteral("0 picture "));
        QTest::keyClick(view->viewport(), Qt::Key_Down);
        QCOMPARE(showing(), QStringLiteral("1 no picture Не удалось декодировать срез:\nBROKEN.dcm"));
        view->setMeasurementMode(MeasurementMode::EllipseRoi);
        drag(QPoint(150, 150), QPoint(250, 250));
        QVERIFY2(lastLabel().startsWith(QStringLiteral("HU недоступно: ")), qPrintable(lastLabel()));
        QTest::keyClick(view->viewport(), Qt::Key_Down);
        QCOMPARE(showing(), QStringLiteral("2 picture "));
        QTest::keyClick(view->viewport(), Qt::Key_Down);
        QCOMPARE(showing(), QStringLiteral("3 no picture Объект без изображения: SR"));
        QTest::keyClick(view->viewport(), Qt::Key_Down);
        QCOMPARE(showing(), QStringLiteral("4 picture "));
        QTest::keyClick(view->viewport(), Qt::Key_Down);
        QCOMPARE(view->currentPixmap().size(), QSize(40, 48));
    }

    void returningSeriesGetsItsViewBack()
    {
        QCOMPARE(view->window(), (render::WindowLevel{40, 400}));
        view->showSlice(4);
        wheel(120, Qt::ControlModifier);
        drag(QPoint(200, 200), QPoint(210, 205), Qt::MiddleButton);
        QCOMPARE(view->window(), (render::WindowLevel{50, 420}));

        view->loadSeries(QStringLiteral("1.2.3.other"), flatSlices(m_otherPaths));
        QCOMPARE(view->currentSlice(), 0);
        QCOMPARE(view->window(), (render::WindowLevel{40, 400}));

        view->loadSeries(m_spec.seriesInstanceUid, flatSlices(m_paths));
        QCOMPARE(view->currentSlice(), 4);
        QCOMPARE(view->window(), (render::WindowLevel{50, 420}));
    }

    void shapesReadTheirNumbers_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("spacing");
        QTest::addColumn<QString>("steps"); // see play(); one view pixel per image pixel
        QTest::addColumn<QString>("label");
        const auto row = [](const char *name, MeasurementMode mode, double spacing, const char *steps,
                            const QString &label) {
            QTest::newRow(name) << int(mode) << spacing << QString(steps) << label;
        };
        row("ruler", MeasurementMode::Ruler, 0.7, "d150,160,230,220", "70.0 мм");
        row("angle, first arm dragged", MeasurementMode::Angle, 0.7, "d200,200,250,200 c200,150", "90.0°");
        row("angle, clicked", MeasurementMode::Angle, 0.7, "c200,200 c260,200 c200,140", "90.0°");
        row("cobb, dragged lines", MeasurementMode::CobbAngle, 0.7, "d100,100,200,100 d100,300,150,250", "Cobb 45.0°");
        // The second Cobb line starts where the third click puts it.
        row("cobb, clicked", MeasurementMode::CobbAngle, 0.7, "c120,200 c180,200 c120,250 c180,310", "Cobb 45.0°");
        row("polygon", MeasurementMode::Polygon, 0.7, "c120,120 c220,120 c220,220 w120,220",
            "S=4900.0 мм²  P=280.0 мм");
        // Perimeter (80 + 80 + √12800) × 0.7 mm.
        row("smooth contour", MeasurementMode::SmoothContour, 0.7, "c300,120 c380,120 w380,200",
            "S=1568.0 мм²  P=191.2 мм");
        row("freehand off the image", MeasurementMode::FreehandRoi, 0.7, "d20,20,60,60", "ROI пуст");
        row("ten-pixel circle", MeasurementMode::EllipseArea, 0.5, "d150,150,160,160", "S=19.6 мм²  P=15.7 мм");
        row("text", MeasurementMode::Text, 0.7, "c300,300", "Метка");
    }
    void shapesReadTheirNumbers()
    {
        QFETCH(int, mode);
        QFETCH(double, spacing);
        QFETCH(QString, steps);
        QFETCH(QString, label);
        view->loadSeries(m_spec.seriesInstanceUid, flatSlices(m_paths, spacing));
        toolAtUnitScale(MeasurementMode(mode));
        ModalAnswerer<velmaris::CommentInputDialog> answerer([](velmaris::CommentInputDialog *dialog) {
            dialog->findChild<QLineEdit *>()->setText(QStringLiteral("Метка"));
            dialog->accept();
        });
        play(steps);
        const bool text = mode == int(MeasurementMode::Text);
        QCOMPARE(answerer.count, text ? 1 : 0);
        QCOMPARE(view->measurements().size(), 1);
        QCOMPARE(lastLabel(), label);
        if (!text) // a text has no drawing to finish
            QVERIFY(view->measurements().first()->isFinished());
    }

    void pickingByHandleAndShapeThenDelete()
    {
        toolAtUnitScale(MeasurementMode::Ruler);
        drag(QPoint(150, 150), QPoint(250, 150));
        drag(QPoint(150, 250), QPoint(250, 250));
        MeasurementItem *first = view->measurements().at(0);
        // By shape (4 px off the line), then by handle: the end point moves with the drag.
        click(QPoint(200, 154));
        QCOMPARE(view->selectedMeasurement(), first);
        const QPointF oldEnd = first->points().at(1);
        drag(QPoint(248, 153), QPoint(268, 173));
        QCOMPARE(first->points(), (QList<QPointF>{view->mapToScene(QPoint(150, 150)), oldEnd + QPointF(20, 20)}));
        QCOMPARE(view->measurements().size(), 2);
        QTest::keyClick(view->viewport(), Qt::Key_Delete);
        QCOMPARE(view->measurements().size(), 1);
        QVERIFY(view->measurements().first() != first);

        // Measurements live on their slice and leave with the series.
        view->showSlice(1);
        QVERIFY(!view->measurements().first()->isVisible());
        view->loadSeries(QStringLiteral("1.2.3.other"), flatSlices(m_otherPaths));
        QVERIFY(view->measurements().isEmpty());
    }

    void ellipseRoiReportsStatistics()
    {
        view->showSlice(2);
        toolAtUnitScale(MeasurementMode::EllipseRoi);
        const QPoint a(180, 185), b(212, 205);
        drag(a, b);
        MeasurementItem *roi = view->measurements().first();
        QCOMPARE(roi->labelText(), expectedEllipseLabel(a, b));

        // Moving a corner recomputes the statistics on release.
        click(QPoint(196, 195));
        QCOMPARE(view->selectedMeasurement(), roi);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, b);
        QTest::mouseMove(view->viewport(), b + QPoint(6, 8));
        QCOMPARE(roi->labelText(), QStringLiteral("отпустите для пересчёта HU…"));
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, b + QPoint(6, 8));
        QCOMPARE(roi->labelText(), expectedEllipseLabel(a, b + QPoint(6, 8)));
    }

    void calibrationRescalesRulers()
    {
        toolAtUnitScale(MeasurementMode::Ruler);
        drag(QPoint(150, 300), QPoint(170, 300));
        MeasurementItem *ruler = view->measurements().first();
        QCOMPARE(ruler->labelText(), QStringLiteral("14.0 мм"));

        // A line too short to calibrate with is refused.
        view->setMeasurementMode(MeasurementMode::Calibration);
        QString refusal;
        ModalAnswerer<QMessageBox> refuser([&refusal](QMessageBox *box) {
            refusal = box->text();
            box->accept();
        });
        drag(QPoint(150, 150), QPoint(152, 150));
        QCOMPARE(refuser.count, 1);
        QVERIFY(refusal.startsWith(QStringLiteral("Линия слишком короткая")));
        QCOMPARE(view->calibrationMmPerPixel(), 0.0);

        QStringList seen;
        ModalAnswerer<QInputDialog> answerer([&seen](QInputDialog *dialog) {
            seen = {dialog->windowTitle(), dialog->labelText()};
            dialog->setDoubleValue(22.0);
            dialog->accept();
        });
        drag(QPoint(150, 150), QPoint(194, 150));
        QCOMPARE(seen, (QStringList{QStringLiteral("Калибровка линейки"),
                                    QStringLiteral("Реальный размер отмеченного объекта, мм\n(например, "
                                                   "калибровочный шар 25 мм, монета 10 ₽ — 22 мм):")}));
        QCOMPARE(view->measurements().size(), 1);
        QCOMPARE(ruler->labelText(), QStringLiteral("10.0 мм"));
        view->resetCalibration();
        QCOMPARE(ruler->labelText(), QStringLiteral("14.0 мм"));
    }

    void arrowAsksForItsComment()
    {
        view->setMeasurementMode(MeasurementMode::Arrow);
        QStringList seen; // title, placeholder, then the quick labels
        ModalAnswerer<velmaris::CommentInputDialog> answerer([&](velmaris::CommentInputDialog *dialog) {
            auto *field = dialog->findChild<QLineEdit *>();
            seen = QStringList{dialog->windowTitle(), field->placeholderText()};
            auto *grid = dialog->findChild<QGridLayout *>();
            for (int i = 0; grid != nullptr && i < grid->count(); ++i)
                seen << qobject_cast<QPushButton *>(grid->itemAt(i)->widget())->text();
            qobject_cast<QPushButton *>(grid->itemAt(3)->widget())->click(); // fills the field, does not accept
            QTest::keyClick(field, Qt::Key_Return);
        });
        drag(QPoint(150, 150), QPoint(220, 200));
        QCOMPARE(seen, (QStringList{QStringLiteral("Комментарий к стрелке"), QStringLiteral("Комментарий"), "Очаг",
                                    "Стеноз", "Кальцинат", "Киста", "Лимфоузел", "Патология", "ЗНО?", "Перелом",
                                    "Грыжа", "Норма"}));
        QCOMPARE(view->measurements().size(), 1);
        QCOMPARE(lastLabel(), QStringLiteral("Киста"));
    }

    // A 1.4 mm (rows) × 0.7 mm (columns) phantom of 440 × 160 pixels, 308 ×
    // 224 mm: drawn in its true proportions and measured in true millimetres.
    void nonSquarePixelsShowAndMeasureTrueProportions()
    {
        velmaris::gen::SeriesSpec phantom = velmaris::testing::seriesSpec(1, 160, 440);
        phantom.pixelSpacingRow = 1.4;
        phantom.pixelSpacingColumn = 0.7;
        view->loadSeries(phantom.seriesInstanceUid, velmaris::testing::writeSlices(phantom, m_dir.filePath("phantom")));

        // Ten millimetres are as long on screen across as down.
        const QPointF origin = view->mapFromScene(QPointF(0, 0));
        const double across = QLineF(origin, view->mapFromScene(QPointF(10 / 0.7, 0))).length();
        const double down = QLineF(origin, view->mapFromScene(QPointF(0, 10 / 1.4))).length();
        QVERIFY2(std::abs(across - down) < 0.01 * across, qPrintable(QStringLiteral("%1 vs %2").arg(across).arg(down)));

        // The ruler over known distances; a view pixel is about 1.2 mm here.
        view->setMeasurementMode(MeasurementMode::Ruler);
        const auto measure = [this](QPointF from, QPointF to) {
            drag(view->mapFromScene(from), view->mapFromScene(to));
            return lastLabel().section(' ', 0, 0).toDouble();
        };
        QVERIFY(std::abs(measure(QPointF(0, 80), QPointF(300 / 0.7, 80)) - 300.0) <= 1.5);
        QVERIFY(std::abs(measure(QPointF(100, 0), QPointF(100, 220 / 1.4)) - 220.0) <= 1.5);
        // The copy has the true proportions too.
        QCOMPARE(view->copyCurrentImage().size(), QSize(440, 320));
    }

    void magnifierAndPagingToolFollowThePointer()
    {
        view->setMeasurementMode(MeasurementMode::Magnifier);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(200, 200));
        QVERIFY(view->isMagnifierShown());
        wheel(120); // the wheel sizes the lens and does not page
        QCOMPARE(view->magnifierFactor(), 2.5 * 1.25);
        QCOMPARE(view->currentSlice(), 0);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(200, 200));
        QVERIFY(!view->isMagnifierShown());
        // 60 px in one move are seven slices at any speed: the drag stops at
        // the last slice, and back at the first.
        view->setMeasurementMode(MeasurementMode::Paging);
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, QPoint(200, 100));
        QTest::mouseMove(view->viewport(), QPoint(200, 160));
        QCOMPARE(view->currentSlice(), 5);
        QTest::mouseMove(view->viewport(), QPoint(200, 100));
        QCOMPARE(view->currentSlice(), 0);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, QPoint(200, 100));
    }

    void quickButtonsFollowTheSettings()
    {
        quicktools::saveQuickTools({11, -1, 3, 4, 5, 7});
        QCOMPARE(view->quickTools(), (QList<int>{11, -1, 3, 4, 5, 7}));
        const QList<QToolButton *> buttons = view->findChildren<QToolButton *>();
        QSignalSpy requested(view, &ImageViewportWidget::quickToolRequested);
        buttons.at(0)->click();
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.first().first().value<MeasurementMode>(), MeasurementMode::Polygon);
    }

    void overlayFollowsSliceAndTagsMode()
    {
        view->showSlice(2);
        QCOMPARE(view->sliceOverlayText().section('\n', 0, 0), QStringLiteral("Срез 3 / 6"));
        QCOMPARE(view->windowOverlayText().section('\n', 0, 0), QStringLiteral("WL: 40  WW: 400"));
        QVERIFY(overlaySays(QStringLiteral("Срез 3 / 6")));
        view->setTagsDisplayMode(velmaris::TagsDisplayMode::Hidden);
        QVERIFY(!overlaySays(QStringLiteral("Срез ")));

        // Without Slice Location (the index reads it as 0) the position comes
        // from Image Position (Patient) along the normal: z = 100 + 2 × 1.25.
        QList<db::SliceRef> positioned = spatialSlices();
        view->loadSeries(QStringLiteral("1.2.3.positioned"), positioned);
        view->showSlice(2);
        QCOMPARE(view->sliceOverlayText().section('\n', 1, 1), QStringLiteral("Позиция: 102.5 мм"));
        // A stored Slice Location is shown as it is.
        for (int i = 0; i < positioned.size(); ++i)
            positioned[i].slice_location = -10.0 * i;
        view->loadSeries(QStringLiteral("1.2.3.located"), positioned);
        view->showSlice(2);
        QCOMPARE(view->sliceOverlayText().section('\n', 1, 1), QStringLiteral("Позиция: -20.0 мм"));
    }

    void sideLabelFollowsTransforms_data()
    {
        QTest::addColumn<int>("rotation");
        QTest::addColumn<bool>("flipH");
        QTest::addColumn<QString>("sides"); // left, top, right, bottom
        // Axial slices: image +x is the patient's left, image +y the back.
        QTest::newRow("as acquired") << 0 << false << "RALP";
        QTest::newRow("flipped") << 0 << true << "LARP";
        QTest::newRow("turned clockwise") << 90 << false << "PRAL";
        QTest::newRow("turned around") << 180 << false << "LPRA";
    }
    void sideLabelFollowsTransforms()
    {
        QFETCH(int, rotation);
        QFETCH(bool, flipH);
        QFETCH(QString, sides);
        view->loadSeries(m_spec.seriesInstanceUid + QStringLiteral(".spatial"), spatialSlices());
        if (flipH)
            view->flipHorizontally();
        view->rotateBy(rotation);
        QString shown;
        for (const Qt::Edge edge : {Qt::LeftEdge, Qt::TopEdge, Qt::RightEdge, Qt::BottomEdge})
            shown += view->orientationLabelText(edge);
        QCOMPARE(shown, sides);
        QCOMPARE(view->sideLabelText(), sides.mid(2, 1));
        // Each letter is on screen.
        QStringList letters;
        for (QLabel *label : view->findChildren<QLabel *>()) {
            if (label->isVisible() && label->text().size() == 1)
                letters << label->text();
        }
        letters.sort();
        QStringList expected = sides.split(QString(), Qt::SkipEmptyParts);
        expected.sort();
        QCOMPARE(letters, expected);
        view->loadSeries(m_spec.seriesInstanceUid, flatSlices(m_paths));
        QCOMPARE(view->sideLabelText(), QString()); // no orientation, no side
    }

    void pickingModesReportPatientPoints()
    {
        view->loadSeries(m_spec.seriesInstanceUid + QStringLiteral(".spatial"), spatialSlices());
        view->showSlice(2);
        const QPointF pixel(5, 7);
        const auto origin = velmaris::gen::slicePosition(m_spec, 2);
        const QVector3D expected(float(origin[0] + 5 * m_spec.pixelSpacingColumn),
                                 float(origin[1] + 7 * m_spec.pixelSpacingRow), float(origin[2]));
        QVERIFY((*view->patientPoint(pixel) - expected).length() < 1e-3f);

        QSignalSpy seed(view, &ImageViewportWidget::vesselAutoTrackSeedPicked);
        view->setMeasurementMode(MeasurementMode::VesselSeed);
        click(view->mapFromScene(pixel));
        QCOMPARE(seed.count(), 1);
        const QPointF clicked = view->mapToScene(view->mapFromScene(pixel));
        QVERIFY((seed.first().first().value<QVector3D>() - *view->patientPoint(clicked)).length() < 1e-3f);

        QSignalSpy path(view, &ImageViewportWidget::curvedMprPathFinished);
        view->setMeasurementMode(MeasurementMode::CurvedMprPath);
        click(view->mapFromScene(QPointF(10, 10)));
        click(view->mapFromScene(QPointF(20, 12)));
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->mapFromScene(QPointF(30, 30)));
        QCOMPARE(path.count(), 1);
        QVERIFY(path.first().first().value<QList<QVector3D>>().size() >= 3);

        // Without position and orientation nothing can be reported.
        view->loadSeries(m_spec.seriesInstanceUid, flatSlices(m_paths));
        QVERIFY(!view->patientPoint(pixel).has_value());
        view->setMeasurementMode(MeasurementMode::AirwaySeed);
        QSignalSpy airway(view, &ImageViewportWidget::airwayAutoTraceSeedClicked);
        click(view->mapFromScene(pixel));
        QCOMPARE(airway.count(), 0);
    }
};

QTEST_MAIN(TestImageViewport)
#include "test_image_viewport.moc"
