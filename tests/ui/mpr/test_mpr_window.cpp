#include "ui/ModalBoxCatcher.h"
#include "ui/PrivateSettings.h"
#include "ui/mpr/FusionDialog.h"
#include "ui/mpr/MprViewportWidget.h"
#include "ui/mpr/MprWindow.h"
#include "ui/mpr/ViewerVolumeEntries.h"
#include "ui/volume/VolumeRenderWidget.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/PanelReconstruction.h"
#include "ui/viewer/ViewerWindow.h"
#include "ui/viewer/GeneratedSlices.h"
#include "ui/viewer/MeasurementItem.h"

#include "viewer/MeasurementLabels.h"
#include "volume/MprReslicer.h"
#include "volume/MprRoiStats.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/SharedVolumes.h"
#include "volume/VolumeBuilder.h"
#include "volume/VolumeVoxelGrid.h"
#include "viewer/FusionComposer.h"
#include "viewer/SlicePlane.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace velmaris;

constexpr int buildTimeoutMs = 30000;

class MprWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_config.isValid());
        testing::usePrivateSettings(m_config.path());
        m_spec = testing::seriesSpec(12, 40, 48);
        m_slices = testing::writeSlices(m_spec, m_dir.filePath("ct"));
    }

    void build_data()
    {
        QTest::addColumn<int>("damage"); // 0 none, 1 one missing slice, 2 every slice missing
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("geometry");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("status");
        QTest::newRow("whole series") << 0 << 12 << true << "CT"
                                      << "Объём: 48×40×12 вокселей, spacing 0.70×0.70×1.25 мм";
        QTest::newRow("one slice skipped") << 1 << 12 << true << "CT"
                                           << "Пропущено срезов при построении объёма: 1 из 12";
        QTest::newRow("nothing decodes") << 2 << 12 << true << "CT" << QString();
        // Without geometry the description's plane hint turns the stack.
        QTest::newRow("no geometry, sagittal description")
            << 0 << 12 << false << "T2 SAG" << "Объём: 12×48×40 вокселей, spacing 1.00×0.70×0.70 мм";
    }

    void build()
    {
        QFETCH(int, damage);
        QFETCH(int, count);
        QFETCH(bool, geometry);
        QFETCH(QString, description);
        QFETCH(QString, status);
        QList<db::SliceRef> slices = m_slices.mid(0, count);
        if (damage == 1)
            slices[3].file_path = m_dir.filePath("missing.dcm");
        for (db::SliceRef &slice : slices) {
            if (damage == 2)
                slice.file_path = m_dir.filePath("missing.dcm");
            slice.has_spatial_info = geometry;
        }
        testing::ModalBoxCatcher boxes;
        MprWindow window(slices, description, nullptr, 40.0, 400.0);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(window.windowTitle(), QStringLiteral("MPR — %1").arg(description));
        QVERIFY(!window.isEnabled());
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Строится объём для реконструкции… (%1 срез.)").arg(count));
        QTRY_VERIFY_WITH_TIMEOUT(window.isEnabled(), buildTimeoutMs);
        if (damage == 2) {
            QTRY_COMPARE(boxes.count, 1);
            QCOMPARE(boxes.title, QStringLiteral("Реконструкция не удалась"));
            QVERIFY(boxes.text.startsWith(
                QStringLiteral("Не удалось построить объём для реконструкции:\nНе удалось прочитать")));
            QVERIFY(window.volume() == nullptr);
            return;
        }
        QVERIFY(window.volume() != nullptr);
        QCOMPARE(window.windowCentre(), 40.0);
        QCOMPARE(window.windowWidth(), 400.0);
        QCOMPARE(window.statusBar()->currentMessage(), status);
        QVERIFY(!window.cell(MprPlane::Coronal)->image().isNull());
    }

    void navigation()
    {
        auto window = open(m_slices);
        QVERIFY(window);
        // A click sets the crosshair in the cell's own axes (48 × 40 × 12 voxels)
        // to the voxel under it, up to the picture's edges: the coronal top is
        // the last slice, the sagittal column is y.
        const struct
        {
            MprPlane plane;
            QPointF click;
            int axis;
            int index;
        } clicks[] = {{MprPlane::Axial, {47.2 / 48, 0.5}, 0, 47}, {MprPlane::Axial, {0.0, 0.25}, 1, 10},
                      {MprPlane::Coronal, {0.5, 0.9 / 12}, 2, 11}, {MprPlane::Coronal, {0.5, 1.0}, 2, 0},
                      {MprPlane::Sagittal, {1.0, 0.5}, 1, 39}};
        for (const auto &c : clicks) {
            emit window->cell(c.plane)->positionClicked(c.click.x(), c.click.y());
            QCOMPARE(window->crosshair()[c.axis], c.index);
        }
        // The wheel stays on the last slice.
        for (int i = 0; i < 20; ++i)
            window->onAxialWheel(1);
        QCOMPARE(window->crosshair()[2], 11);
    }

    // The fourth cell renders the same volume in 3D (it once stayed black).
    void cell3D()
    {
        auto window = open(m_slices);
        QVERIFY(window);
        QSignalSpy rendered(window->cell3D(), &VolumeRenderWidget::frameReady);
        QVERIFY(rendered.count() > 0 || rendered.wait(20000));
        const QImage frame = window->cell3D()->lastFrame();
        int lit = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                lit += qGray(frame.pixel(x, y)) > 40;
        QVERIFY2(lit > frame.width() * frame.height() / 50, qPrintable(QString::number(lit)));
    }

    void measurementsAndRotation()
    {
        auto window = open(m_slices);
        QVERIFY(window);
        // The axial cell measures with the mean of x and y, coronal with x, sagittal with y.
        const std::pair<MprPlane, double> planes[] = {{MprPlane::Axial, 0.7},
                                                      {MprPlane::Coronal, m_spec.pixelSpacingColumn},
                                                      {MprPlane::Sagittal, m_spec.pixelSpacingRow}};
        for (const auto &[plane, pixelMm] : planes) {
            MprViewportWidget *cell = window->cell(plane);
            QCOMPARE(cell->pixelSizeMm(), pixelMm);
            window->toolAction(MprTool::Ruler)->trigger();
            drag(cell, QPointF(4, 5), QPointF(24, 5));
            QCOMPARE(cell->measurements().size(), 1);
            QCOMPARE(cell->measurements().first()->labelText(), render::lengthLabel(20.0, pixelMm));

            window->toolAction(MprTool::EllipseRoi)->trigger();
            drag(cell, QPointF(10, 8), QPointF(30, 20));
            QCOMPARE(cell->measurements().size(), 2);
            const QList<QPointF> p = cell->measurements().last()->points();
            const int slice = window->crosshair()[plane == MprPlane::Axial ? 2 : plane == MprPlane::Coronal ? 1 : 0];
            QCOMPARE(cell->measurements().last()->labelText(),
                     render::mprRoiStats(*window->volume(), int(plane), slice, QRectF(p.at(0), p.at(1)).normalized()));
            window->clearMeasurementsAction()->trigger();
            QVERIFY(cell->measurements().isEmpty());
        }

        // Rotated axes: the axial plane stays, the coronal one turns.
        const auto start = window->basis(MprPlane::Coronal);
        emit window->cell(MprPlane::Axial)->axesRotateDelta(30.0);
        QVERIFY(window->isRotated());
        QCOMPARE(window->basis(MprPlane::Axial).u, start.u);
        QVERIFY(std::abs(window->basis(MprPlane::Coronal).u[1]) > 0.4f);

        // ROI statistics (still the tool) are refused while rotated.
        MprViewportWidget *axial = window->cell(MprPlane::Axial);
        drag(axial, QPointF(100, 100), QPointF(140, 130));
        QCOMPARE(axial->measurements().size(), 1);
        QCOMPARE(axial->measurements().first()->labelText(), render::mprRoiStatsUnavailableText());

        window->resetRotationAction()->trigger();
        QVERIFY(!window->isRotated());
        QCOMPARE(window->basis(MprPlane::Coronal).v, start.v);
    }

    void sharedVolume()
    {
        QList<db::SliceRef> slices = m_slices.mid(0, 7);
        const QString key =
            render::SharedVolumes::keyFor(render::seriesVolumeSlices(slices, render::SliceOrientationUse::Keep),
                                          render::planeHintFromText(QStringLiteral("CT")));
        // Closing a window while its build runs: the build ends harmlessly.
        auto *early = new MprWindow(slices, QStringLiteral("CT"));
        QVERIFY(render::SharedVolumes::instance()->isBuilding(key));
        delete early;
        QTRY_VERIFY_WITH_TIMEOUT(!render::SharedVolumes::instance()->isBuilding(key), buildTimeoutMs);
        QVERIFY(!render::SharedVolumes::instance()->isHeld(key));
    }

    void panelReconstruction()
    {
        ImageViewportWidget panel;
        panel.resize(400, 400);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        panel.loadSeries(m_spec.seriesInstanceUid, m_slices);
        const render::WindowLevel window = panel.window();
        const QSize axial = panel.currentPixmap().size();
        auto *planeBox = panel.findChild<QComboBox *>();

        QSignalSpy paged(&panel, &ImageViewportWidget::reconstructionSliceChanged);
        emit planeBox->activated(3);
        QVERIFY(paged.wait(buildTimeoutMs));
        PanelReconstruction *reconstruction = panel.reconstruction();
        const render::Volume &v = *reconstruction->volume();
        QVERIFY(panel.sliceOverlayText().startsWith(QStringLiteral("Реконструкция: Coronal")));
        // Head up, the patient's right on the left.
        QCOMPARE(panel.orientationLabelText(Qt::TopEdge), QStringLiteral("S"));
        QCOMPARE(panel.orientationLabelText(Qt::LeftEdge), QStringLiteral("R"));
        // The wheel pages the reconstruction, clamped at its end.
        QWheelEvent away(QPointF(200, 200), panel.viewport()->mapToGlobal(QPointF(200, 200)), QPoint(),
                         QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
        for (int i = 0; i < v.height; ++i)
            QApplication::sendEvent(panel.viewport(), &away);
        QCOMPARE(paged.last().at(0).toInt(), v.height - 1);
        QCOMPARE(panel.currentPixmap().toImage().convertToFormat(QImage::Format_Grayscale8),
                 render::renderCoronal(v, v.height - 1, window.centre, window.width, 0, 0));
        // Leaving shows the series' own slices again, not a coronal picture under axial labels.
        reconstruction->leave();
        QCOMPARE(panel.currentPixmap().size(), axial);
    }

    // The viewer's MPR and Fusion entries on its active panel.
    void viewerEntries()
    {
        ViewerWindow viewer(m_spec.studyInstanceUid, false);
        viewer.setAttribute(Qt::WA_DeleteOnClose, false);
        auto *entries = new ViewerVolumeEntries(&viewer);
        {
            testing::ModalBoxCatcher boxes;
            QVERIFY(entries->openMprWindow() == nullptr);
            QCOMPARE(boxes.text, QStringLiteral("В активной панели нет загруженной серии."));
        }
        viewer.showSeries(m_spec.seriesInstanceUid, m_slices);
        MprWindow *first = entries->openMprWindow();
        QVERIFY(first != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(first->isEnabled(), buildTimeoutMs);
        QCOMPARE(first->windowCentre(), viewer.viewport()->window().centre);

        // A second series of the same frame of reference fused over the panel.
        gen::SeriesSpec other = testing::seriesSpec(8, 40, 48);
        other.studyInstanceUid = m_spec.studyInstanceUid;
        other.frameOfReferenceUid = m_spec.frameOfReferenceUid;
        other.seriesNumber = 2;
        other.sliceSpacing = 2.0;
        viewer.showSeries(other.seriesInstanceUid, testing::writeSlices(other, m_dir.filePath("pet")));
        ImageViewportWidget *panel = viewer.viewport();
        panel->showSlice(4);
        const QImage plain = panel->currentPixmap().toImage();
        FusionDialog *dialog = entries->openFusion();
        QVERIFY(dialog != nullptr);
        QSignalSpy applied(dialog, &FusionDialog::applied);
        QVERIFY(applied.wait(buildTimeoutMs));
        dialog->colourMapBox()->setCurrentIndex(1);
        dialog->opacitySlider()->setValue(70);
        QCOMPARE(dialog->opacityLabel()->text(), QStringLiteral("Прозрачность наложения: 70%"));
        render::FusionLayer layer;
        layer.grid = render::voxelGridOf(*dialog->volume());
        layer.window = {dialog->centreBox()->value(), dialog->widthBox()->value()};
        layer.colourMap = 1;
        layer.opacity = 0.7;
        const QImage expected = render::composeFusion(plain, render::sliceGeometry(m_slices.at(4)), layer);
        const QImage shown = panel->currentPixmap().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown, expected);
        QVERIFY(shown != plain.convertToFormat(QImage::Format_RGB32));
    }

private:
    // Opens a window on the series and waits for its planes.
    std::unique_ptr<MprWindow> open(const QList<db::SliceRef> &slices)
    {
        auto window = std::make_unique<MprWindow>(slices, QStringLiteral("CT"));
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->resize(900, 700);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return {};
        if (!QTest::qWaitFor([&] { return window->isEnabled(); }, buildTimeoutMs))
            return {};
        return window;
    }

    // A left drag in picture pixels with the cell's current tool.
    static void drag(MprViewportWidget *cell, const QPointF &from, const QPointF &to)
    {
        const QPoint a = cell->mapFromScene(from);
        const QPoint b = cell->mapFromScene(to);
        QTest::mousePress(cell->viewport(), Qt::LeftButton, {}, a);
        QTest::mouseMove(cell->viewport(), b);
        QTest::mouseRelease(cell->viewport(), Qt::LeftButton, {}, b);
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_config;
    gen::SeriesSpec m_spec;
    QList<db::SliceRef> m_slices;
};

QTEST_MAIN(MprWindowTest)
#include "test_mpr_window.moc"
