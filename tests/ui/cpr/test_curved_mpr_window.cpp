#include "ui/PrivateSettings.h"
#include "ui/cpr/CprImageView.h"
#include "ui/cpr/CprReferencePanel.h"
#include "ui/cpr/CprSectionsView.h"
#include "ui/cpr/CprViewerEntries.h"
#include "ui/cpr/CurvedMprWindow.h"
#include "ui/cpr/VesselProfileWindow.h"
#include "ui/viewer/GeneratedSlices.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/ViewerWindow.h"
#include "volume/StenosisMeasurement.h"

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace velmaris;

namespace {

constexpr int buildTimeoutMs = 60000;

QVector3D curvePoint(const gen::SeriesSpec &spec, double t)
{
    const auto p = gen::vesselCurvePoint(spec, t);
    return QVector3D(float(p[0]), float(p[1]), float(p[2]));
}

} // namespace

class CurvedMprWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_config.isValid());
        testing::usePrivateSettings(m_config.path());
        // The angiography phantom at 0.5 mm: a curved tube with a 50 % stenosis.
        m_spec = testing::seriesSpec(90, 96, 96);
        m_spec.anatomy = gen::Anatomy::Vessel;
        m_spec.pixelSpacingRow = m_spec.pixelSpacingColumn = 0.5;
        m_spec.sliceSpacing = m_spec.sliceThickness = 0.5;
        m_slices = testing::writeSlices(m_spec, m_dir.filePath("cta"));
    }

    // The panoramic mode warns in its title; the other modes' titles show in their own tests.
    void panoramicTitleAndPlanes()
    {
        CurvedMprWindow window(CurvedMprMode::Panoramic, m_slices, QStringLiteral("CTA"));
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        QCOMPARE(window.windowTitle(),
                 QStringLiteral("Ортопантомограмма (панорамная реконструкция) — не заменяет диагностический ОПТГ"));
        QStringList names;
        for (int i = 0; i < 3; ++i)
            names << CprReferencePanel::planeName(window.referencePanel(i)->plane());
        QCOMPARE(names, QStringList({"Аксиальный", "Спереди", "Сбоку"}));
    }

    // Points placed, dragged and deleted on a reference panel; an edit
    // undone; the state saved and read back.
    void editUndoSaveLoad()
    {
        CurvedMprWindow window(CurvedMprMode::Curved, m_slices, QStringLiteral("CTA"));
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.resize(1200, 800);
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(window.hasVolume(), buildTimeoutMs);
        CprReferencePanel *front = window.referencePanel(1);
        const render::Vec3d a{10.0, front->slice() * 0.5, 40.0};
        const render::Vec3d b{30.0, front->slice() * 0.5, 10.0};
        QTest::mouseClick(front, Qt::LeftButton, {}, front->widgetPosOf(a).toPoint());
        QTest::mouseClick(front, Qt::LeftButton, {}, front->widgetPosOf(b).toPoint());
        QCOMPARE(window.controlPoints().size(), std::size_t(2));
        QTRY_VERIFY_WITH_TIMEOUT(window.currentImage() != nullptr && !window.isRebuilding(), buildTimeoutMs);
        QVERIFY(window.windowTitle().startsWith(QStringLiteral("Криволинейный MPR (тестовая версия) — длина кривой ")));
        // The placed point lies where it was clicked, within a pixel.
        QVERIFY(std::fabs(window.controlPoints()[0][0] - a[0]) < 0.6);
        QVERIFY(std::fabs(window.controlPoints()[0][2] - a[2]) < 0.6);

        // A drag moves the second point within the plane.
        const QPoint from = front->widgetPosOf(b).toPoint();
        const QPoint to = from + QPoint(-20, 0);
        QTest::mousePress(front, Qt::LeftButton, {}, from);
        QTest::mouseMove(front, to);
        QTest::mouseRelease(front, Qt::LeftButton, {}, to);
        QVERIFY(window.controlPoints()[1][0] < b[0] - 1.0);
        QCOMPARE(window.controlPoints()[1][1], b[1]);
        window.action(QStringLiteral("cpr.undo"))->trigger();
        QVERIFY(std::fabs(window.controlPoints()[1][0] - b[0]) < 0.6);

        // Save and load: the file gives back the curve and the settings.
        const QString path = m_dir.filePath("state.cprstate.json");
        QString message;
        QVERIFY2(window.saveState(path, message), qPrintable(message));
        const render::CprParameters saved = window.parameters();
        window.setControlPoints({{1, 1, 1}, {2, 2, 2}, {3, 3, 5}});
        QVERIFY2(window.loadState(path, message), qPrintable(message));
        QCOMPARE(window.parameters(), saved);
        // A file that cannot be read changes nothing.
        QVERIFY(!window.loadState(m_dir.filePath("missing.cprstate.json"), message));
        QCOMPARE(window.parameters(), saved);
        // A right click deletes.
        QTest::mouseClick(front, Qt::RightButton, {}, front->widgetPosOf(b).toPoint());
        QCOMPARE(window.controlPoints().size(), std::size_t(1));
    }

    // From the viewer: two clicks trace the vessel, the vessel analysis
    // opens on it with its sections and profile; the stenosis pair is
    // labelled from its two measurements.
    void vesselAnalysisFromViewer()
    {
        ViewerWindow viewer(m_spec.studyInstanceUid, false);
        viewer.setAttribute(Qt::WA_DeleteOnClose, false);
        auto *entries = new CprViewerEntries(&viewer);
        QStringList texts;
        for (QAction *a : viewer.reconstructionMenu()->actions())
            texts << a->text();
        for (const char *entry : {"Криволинейный MPR — по точкам", "Сосудистый анализ", "Ортопантомограмма",
                                  "Автоматически по ходу сосуда"})
            QVERIFY2(texts.contains(QString::fromUtf8(entry)), entry);
        viewer.showSeries(m_spec.seriesInstanceUid, m_slices);
        QList<CurvedMprWindow *> opened;
        connect(entries, &CprViewerEntries::windowOpened, this, [&opened](CurvedMprWindow *w) { opened << w; });
        QVERIFY(entries->startTracePicking());
        ImageViewportWidget *panel = viewer.viewport();
        emit panel->vesselAutoTrackSeedPicked(curvePoint(m_spec, 0.05));
        emit panel->vesselAutoTrackSeedPicked(curvePoint(m_spec, 0.95));
        QCOMPARE(opened.size(), 1);
        CurvedMprWindow *window = opened.at(0);
        QCOMPARE(window->mode(), CurvedMprMode::Vessel);
        QSignalSpy traced(window, &CurvedMprWindow::traceFinished);
        QVERIFY(traced.wait(buildTimeoutMs));
        QCOMPARE(traced.at(0).at(0).toBool(), true);
        QTRY_VERIFY_WITH_TIMEOUT(window->currentImage() != nullptr && !window->isRebuilding(), buildTimeoutMs);
        QVERIFY(window->windowTitle().startsWith(QStringLiteral("Сосудистый анализ (тестовая версия) — длина кривой ")));
        QCOMPARE(window->sectionsView()->sections().size(), 21);

        // The stenosis pair on the straightened image: the whole vessel, then
        // the lumen, labelled in millimetres across the vessel.
        const auto image = window->currentImage();
        QVERIFY(image->layout == render::CprLayout::Vertical);
        const double whole = 12 * image->pixelMm;
        const double lumen = 6 * image->pixelMm;
        const QString type = CprImageView::typeName(CprTool::StenosisDiameter);
        window->imageView()->addMeasurement({type, 0, {{10, 20}, {22, 20}}});
        QCOMPARE(window->imageView()->labels().at(0), render::diameterStenosisFirstLabel(whole));
        window->imageView()->addMeasurement({type, 0, {{13, 30}, {19, 30}}});
        QCOMPARE(window->imageView()->labels(),
                 QStringList({render::diameterStenosisLabel(whole, lumen), render::diameterLumenLabel(whole, lumen)}));

        VesselProfileWindow *profile = window->openVesselProfile();
        QVERIFY(profile != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(profile->isFinished(), buildTimeoutMs);
        QVERIFY(profile->windowTitle().startsWith(QStringLiteral("Профиль сосуда — ")));
        QVERIFY(!profile->profile().empty());

        delete window;
    }

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_config;
    gen::SeriesSpec m_spec;
    QList<db::SliceRef> m_slices;
};

QTEST_MAIN(CurvedMprWindowTest)
#include "test_curved_mpr_window.moc"
