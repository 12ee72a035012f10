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

#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGuiApplication>
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
    // clicks, "w x,y" clicks and then double-clicks (a real double click), "m x,y"
    // moves there and checks that the shape being drawn already reaches the pointer.
    void play(const QString &steps)
    {
        for (const QString &step : steps.split(' ', Qt::SkipEmptyParts)) {
            const QStringList n = step.mid(1).split(',');
            const QPoint at(n.at(0).toInt(), n.at(1).toInt());
            if (step.startsWith('m')) {
                QTest::mouseMove(view->viewport(), at);
                MeasurementItem *item = view->measurements().last();
                QVERIFY2(item->mapToScene(item->path()).boundingRect().adjusted(-1, -1, 1, 1).contains(
                             view->mapToScene(at)),
                         qPrintable(step));
            } else if (step.startsWith('d')) {
                drag(at, QPoint(n.at(2).toInt(), n.at(3).toInt()));
            } else {
                click(at);
            }
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
        QSignalSpy changed(&empty, &ImageViewportWidget::sliceChanged);
        QTest::keyClick(empty.viewport(), Qt::Key_End);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(empty.messageText(), QStringLiteral("Выберите серию слева, чтобы открыть срезы"));
        empty.setWindowPreset({-600, 1500});
        QVERIFY(!empty.hasUserWindow());

        QSignalSpy activated(&empty, &ImageViewportWidget::activated);
        QTest::mouseClick(empty.viewport(), Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(activated.count(), 1);

        QSignalSpy dropped(&empty, &ImageViewportWidget::seriesDropped);
        for (const bool isSeries : {false, true}) {
            QMimeData data;
            isSeries ? data.setData("application/x-dicom-series-uid", "1.2.840.99") : data.setText("1.2.3");
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(empty.viewport(), &enter);
            QCOMPARE(enter.isAccepted(), isSeries);
            QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(empty.viewport(), &drop);
            QCOMPARE(dropped.count(), isSeries ? 1 : 0);
        }
        QCOMPARE(dropped.first().first().toString(), QStringLiteral("1.2.840.99"));
    }

    void pagesAndClamps_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");   // 0: wheel
        QTest::addColumn<int>("delta"); // wheel delta
        QTest::addColumn<int>("expected");
        QTest::newRow("Home") << 3 << int(Qt::Key_Home) << 0 << 0;
        QTest::newRow("End") << 2 << int(Qt::Key_End) << 0 << 5;
        QTest::newRow("Up") << 3 << int(Qt::Key_Up) << 0 << 2;
        QTest::newRow("Up at first") << 0 << int(Qt::Key_Up) << 0 << 0;
        QTest::newRow("PageUp") << 3 << int(Qt::Key_PageUp) << 0 << 2;
        QTest::newRow("Down") << 3 << int(Qt::Key_Down) << 0 << 4;
        QTest::newRow("PageDown") << 1 << int(Qt::Key_PageDown) << 0 << 2;
        QTest::newRow("wheel towards user") << 2 << 0 << -120 << 3;
        QTest::newRow("wheel away") << 2 << 0 << 120 << 1;
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
        QVERIFY(!view->currentPixmap().isNull());
        // Left and Right ask for another series instead.
        QSignalSpy steps(view, &ImageViewportWidget::seriesStepRequested);
        QTest::keyClick(view->viewport(), Qt::Key_Left);
        QTest::keyClick(view->viewport(), Qt::Key_Right);
        QCOMPARE(QList<QVariantList>(steps), (QList<QVariantList>{{-1}, {1}}));
        QCOMPARE(view->currentSlice(), expected);
    }

    void zoomPanRotateFlipAndSeriesMenu()
    {
        QCOMPARE(view->sceneRect(), QRectF(-64, -64, 192, 192)); // room to pan an image size either way
        const double fitted = view->transform().m11();
        wheel(120, Qt::ControlModifier);
        QCOMPARE(view->transform().m11(), fitted * 1.15);
        QCOMPARE(view->currentSlice(), 0);
        // A user zoom survives a resize; a fitted view refits.
        view->resize(300, 300);
        QCOMPARE(view->transform().m11(), fitted * 1.15);
        view->clearTransforms();
        const double small = view->transform().m11();
        view->resize(400, 400);
        QVERIFY(view->transform().m11() > small);

        // Each transform refits and drops the user zoom.
        wheel(120, Qt::ControlModifier);
        view->rotateBy(-90);
        QCOMPARE(view->rotationAngle(), 270);
        QVERIFY(!view->isUserZoomed());
        view->rotateBy(180);
        view->flipHorizontally();
        view->flipVertically();
        view->clearTransforms();
        QCOMPARE(view->rotationAngle(), 0);
        QVERIFY(!view->isFlippedHorizontally() && !view->isFlippedVertically());
        QVERIFY(view->transform().m11() > 0 && view->transform().isScaling() && !view->transform().isRotating());

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

    void mixedSizesAndExtremeZoom()
    {
        // One series whose slices differ in size, paged through after zooming
        // far in and far out: every slice still shows at its own size.
        QList<db::SliceRef> mixed = flatSlices(m_paths);
        mixed.insert(1, flatSlices(m_otherPaths, 0.5).first());
        view->loadSeries(QStringLiteral("mixed"), mixed);
        for (int notch = 0; notch < 80; ++notch)
            wheel(120, Qt::ControlModifier);
        QVERIFY(view->transform().m11() > 1000.0);
        view->showSlice(1);
        QCOMPARE(view->currentPixmap().size(), QSize(40, 48));
        for (int notch = 0; notch < 160; ++notch)
            wheel(-120, Qt::ControlModifier);
        QVERIFY(view->transform().m11() < 0.001);
        view->showSlice(0);
        QCOMPARE(view->currentPixmap().size(), QSize(m_spec.columns, m_spec.rows));
        QCOMPARE(view->messageText(), QString());
    }

    void damagedSliceShowsMessageAndPagingGoesOn()
    {
        QStringList paths = m_paths;
        const QString damaged = m_dir.filePath("BROKEN.dcm");
        QVERIFY(velmaris::gen::writeDamagedFile(m_spec, velmaris::gen::Damage::TruncatedPixelData, damaged));
        paths[1] = damaged;
        // A structured report filed in the series: it holds no image at all.
        paths[3] = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/test-SR.dcm");
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
    }

    void returningSeriesGetsItsViewBack()
    {
        QCOMPARE(view->window(), (render::WindowLevel{40, 400}));
        view->showSlice(4);
        wheel(120, Qt::ControlModifier);
        drag(QPoint(200, 200), QPoint(210, 205), Qt::MiddleButton);
        QCOMPARE(view->window(), (render::WindowLevel{50, 420}));
        view->rotateBy(90);
        const QTransform transform = view->transform();

        view->loadSeries(QStringLiteral("1.2.3.other"), flatSlices(m_otherPaths));
        QCOMPARE(view->currentSlice(), 0);
        QCOMPARE(view->window(), (render::WindowLevel{40, 400}));
        QCOMPARE(view->rotationAngle(), 0);

        view->loadSeries(m_spec.seriesInstanceUid, flatSlices(m_paths));
        QCOMPARE(view->currentSlice(), 4);
        QCOMPARE(view->window(), (render::WindowLevel{50, 420}));
        QVERIFY(view->hasUserWindow());
        QCOMPARE(view->rotationAngle(), 90);
        QCOMPARE(view->transform(), transform);
    }

    void presetInversionFractionAndCopy()
    {
        view->setWindowPreset({-600, 1500});
        QVERIFY(view->hasUserWindow());
        const QImage plain = view->currentPixmap().toImage();
        view->setInverted(true);
        const QImage inverted = view->currentPixmap().toImage();
        QCOMPARE(qGray(inverted.pixel(10, 20)), 255 - qGray(plain.pixel(10, 20)));
        // The copy is the picture as shown, and goes to the clipboard.
        const QImage copy = view->copyCurrentImage();
        QCOMPARE(copy, inverted);
        QCOMPARE(QGuiApplication::clipboard()->image().size(), copy.size());
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
        // Before each next click, the arm being drawn already reaches the pointer.
        row("angle, clicked", MeasurementMode::Angle, 0.7, "c200,200 m263,203 c260,200 m203,143 c200,140", "90.0°");
        row("cobb, dragged lines", MeasurementMode::CobbAngle, 0.7, "d100,100,200,100 d100,300,150,250", "Cobb 45.0°");
        // The second Cobb line starts where the third click puts it.
        row("cobb, clicked", MeasurementMode::CobbAngle, 0.7, "c120,200 m183,203 c180,200 c120,250 m183,313 c180,310",
            "Cobb 45.0°");
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
        QCOMPARE(view->measurements().size(), 2);
        MeasurementItem *first = view->measurements().at(0);
        MeasurementItem *second = view->measurements().at(1);
        QCOMPARE(view->selectedMeasurement(), nullptr);

        // By shape: 4 px off the first line is within the tolerance.
        click(QPoint(200, 154));
        QCOMPARE(view->selectedMeasurement(), first);
        QCOMPARE(view->measurements().size(), 2);

        // By handle: the end point moves with the drag.
        const QPointF oldEnd = first->points().at(1);
        drag(QPoint(248, 153), QPoint(268, 173));
        QCOMPARE(first->points().at(1), oldEnd + QPointF(20, 20));
        QCOMPARE(first->points().at(0), view->mapToScene(QPoint(150, 150)));

        // A press on nothing clears the selection and draws.
        drag(QPoint(100, 320), QPoint(150, 320));
        QCOMPARE(view->selectedMeasurement(), nullptr);
        QCOMPARE(view->measurements().size(), 3);
        click(QPoint(125, 321));
        QCOMPARE(view->selectedMeasurement(), view->measurements().at(2));
        QTest::keyClick(view->viewport(), Qt::Key_Delete);
        QCOMPARE(view->measurements(), (QList<MeasurementItem *>{first, second}));
        QCOMPARE(view->selectedMeasurement(), second);
        QTest::keyClick(view->viewport(), Qt::Key_Backspace);
        QCOMPARE(view->measurements(), (QList<MeasurementItem *>{first}));
        QCOMPARE(view->selectedMeasurement(), first);
        view->setMeasurementMode(MeasurementMode::Angle);
        QCOMPARE(view->selectedMeasurement(), nullptr);

        // Measurements live on their slice and leave with the series.
        view->setMeasurementMode(MeasurementMode::Ruler);
        view->showSlice(1);
        drag(QPoint(150, 250), QPoint(250, 250));
        QCOMPARE(view->measurements().size(), 2);
        QVERIFY(!first->isVisible());
        QVERIFY(view->measurements().at(1)->isVisible());
        view->clearMeasurements(true);
        QCOMPARE(view->measurements(), (QList<MeasurementItem *>{first}));
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
            auto *spin = dialog->findChild<QDoubleSpinBox *>();
            seen = {dialog->windowTitle(), dialog->labelText(), QString::number(dialog->doubleValue()),
                    QString::number(dialog->doubleMinimum()), QString::number(dialog->doubleMaximum()),
                    QString::number(dialog->doubleDecimals()),
                    spin != nullptr ? QString::number(spin->singleStep()) : QString()};
            dialog->setDoubleValue(22.0);
            dialog->accept();
        });
        drag(QPoint(150, 150), QPoint(194, 150));
        QCOMPARE(answerer.count, 1);
        QCOMPARE(seen, (QStringList{QStringLiteral("Калибровка линейки"),
                                    QStringLiteral("Реальный размер отмеченного объекта, мм\n(например, "
                                                   "калибровочный шар 25 мм, монета 10 ₽ — 22 мм):"),
                                    "25", "0.1", "2000", "2", "1"}));
        QCOMPARE(view->measurements().size(), 1);
        QCOMPARE(view->calibrationMmPerPixel(), 0.5);
        QCOMPARE(ruler->labelText(), QStringLiteral("10.0 мм"));
        QVERIFY(overlaySays(QStringLiteral("Калибровка: 0.5000 мм/пикс")));
        QCOMPARE(QSettings().value("viewer/calibrationLastSizeMm").toDouble(), 22.0);

        // The series keeps its calibration when it is opened again.
        ImageViewportWidget again;
        again.loadSeries(m_spec.seriesInstanceUid, flatSlices(m_paths));
        QCOMPARE(again.calibrationMmPerPixel(), 0.5);

        view->resetCalibration();
        QCOMPARE(ruler->labelText(), QStringLiteral("14.0 мм"));
        QVERIFY(!overlaySays(QStringLiteral("Калибровка")));
    }

    void arrowAsksForItsComment()
    {
        view->setMeasurementMode(MeasurementMode::Arrow);
        QStringList seen;
        QStringList placed; // quick labels as row:column:text
        ModalAnswerer<velmaris::CommentInputDialog> answerer([&](velmaris::CommentInputDialog *dialog) {
            auto *field = dialog->findChild<QLineEdit *>();
            seen = QStringList{dialog->windowTitle(), field->placeholderText(), QString::number(dialog->minimumWidth())};
            auto *grid = dialog->findChild<QGridLayout *>();
            for (int i = 0; grid != nullptr && i < grid->count(); ++i) {
                int row = 0, column = 0, rows = 0, columns = 0;
                grid->getItemPosition(i, &row, &column, &rows, &columns);
                placed << QStringLiteral("%1:%2:%3").arg(row).arg(column).arg(
                    qobject_cast<QPushButton *>(grid->itemAt(i)->widget())->text());
            }
            qobject_cast<QPushButton *>(grid->itemAt(3)->widget())->click(); // fills the field, does not accept
            seen << field->selectedText() << (dialog->isVisible() ? "open" : "closed");
            QTest::keyClick(field, Qt::Key_Return);
        });
        drag(QPoint(150, 150), QPoint(220, 200));
        QCOMPARE(answerer.count, 1);
        QCOMPARE(seen, (QStringList{QStringLiteral("Комментарий к стрелке"), QStringLiteral("Комментарий"), "360",
                                    QStringLiteral("Киста"), "open"}));
        QCOMPARE(placed, (QStringList{"0:0:Очаг", "0:1:Стеноз", "0:2:Кальцинат", "0:3:Киста", "1:0:Лимфоузел",
                                      "1:1:Патология", "1:2:ЗНО?", "1:3:Перелом", "2:0:Грыжа", "2:1:Норма"}));
        QCOMPARE(view->measurements().size(), 1);
        QCOMPARE(lastLabel(), QStringLiteral("Киста"));

        // Edited on its own, the dialog selects the old text first.
        velmaris::CommentInputDialog dialog(QStringLiteral("Текстовая метка"), QStringLiteral("старый"));
        QCOMPARE(dialog.findChild<QLineEdit *>()->selectedText(), QStringLiteral("старый"));
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
        const QRectF shown = view->mapFromScene(QRectF(0, 0, 440, 160)).boundingRect();
        QVERIFY(shown.width() <= view->viewport()->width() && shown.height() <= view->viewport()->height());

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
        wheel(120);
        QCOMPARE(view->magnifierFactor(), 2.5 * 1.25);
        for (int i = 0; i < 10; ++i)
            wheel(120);
        QCOMPARE(view->magnifierFactor(), 8.0);
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
        QCOMPARE(buttons.size(), 6);
        QVERIFY(buttons.at(0)->isVisible() && !buttons.at(1)->isVisible());
        QSignalSpy requested(view, &ImageViewportWidget::quickToolRequested);
        buttons.at(0)->click();
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.first().first().value<MeasurementMode>(), MeasurementMode::Polygon);
    }

    void overlayFollowsSliceAndTagsModeBesideTheControlStrip()
    {
        // The control strip is shown, on the 2D plane.
        const QComboBox *plane = view->findChildren<QComboBox *>().value(0);
        QVERIFY(plane != nullptr && plane->isVisible());
        QCOMPARE(plane->currentText(), QStringLiteral("2D"));
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

    // What the 3D cursor does to other panels is the viewer window's test.
    void pickingModesReportPatientPointsAndTheCursorIsMarked()
    {
        view->loadSeries(m_spec.seriesInstanceUid + QStringLiteral(".spatial"), spatialSlices());
        view->showSlice(2);
        // The cursor's cross is drawn at its pixel until it is taken away.
        const auto marker = [this]() -> QGraphicsItem * {
            for (QGraphicsItem *item : view->scene()->items()) {
                if (item->type() == QGraphicsPathItem::Type && item->isVisible()
                    && dynamic_cast<MeasurementItem *>(item) == nullptr)
                    return item;
            }
            return nullptr;
        };
        QCOMPARE(marker(), nullptr);
        view->setCursor3DMarker(QPointF(10, 20));
        QVERIFY(marker() != nullptr);
        QCOMPARE(marker()->boundingRect().center(), QPointF(10, 20));
        view->setCursor3DMarker(std::nullopt);
        QCOMPARE(marker(), nullptr);

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
