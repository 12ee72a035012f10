#include "ui/cpr/CprViewerEntries.h"

#include "ui/cpr/CurvedMprWindow.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/ViewerWindow.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>

namespace velmaris {

namespace {

const QString pathEntry = QStringLiteral("Криволинейный MPR — по точкам");
const QString vesselEntry = QStringLiteral("Сосудистый анализ");
const QString panoramicEntry = QStringLiteral("Ортопантомограмма");
const QString traceEntry = QStringLiteral("Автоматически по ходу сосуда");

} // namespace

CprViewerEntries::CprViewerEntries(ViewerWindow *viewer) : QObject(viewer), m_viewer(viewer)
{
    QMenu *menu = viewer->reconstructionMenu();
    menu->addSeparator();
    connect(menu->addAction(pathEntry), &QAction::triggered, this, [this] { startPathPicking(); });
    connect(menu->addAction(vesselEntry), &QAction::triggered, this,
            [this] { openWindow(CurvedMprMode::Vessel); });
    connect(menu->addAction(traceEntry), &QAction::triggered, this, [this] { startTracePicking(); });
    connect(menu->addAction(panoramicEntry), &QAction::triggered, this,
            [this] { openWindow(CurvedMprMode::Panoramic); });
}

ImageViewportWidget *CprViewerEntries::loadedPanel(const QString &entry) const
{
    ImageViewportWidget *panel = m_viewer->viewport();
    if (panel != nullptr && panel->sliceCount() > 0)
        return panel;
    QMessageBox::information(m_viewer, entry, QStringLiteral("В активной панели нет загруженной серии."));
    return nullptr;
}

CurvedMprWindow *CprViewerEntries::openWindow(CurvedMprMode mode)
{
    const QString entry = mode == CurvedMprMode::Vessel      ? vesselEntry
                          : mode == CurvedMprMode::Panoramic ? panoramicEntry
                                                             : pathEntry;
    ImageViewportWidget *panel = loadedPanel(entry);
    if (panel == nullptr)
        return nullptr;
    // Top-level with the viewer as parent: it closes with the viewer.
    auto *window = new CurvedMprWindow(mode, panel->slices(), m_viewer->seriesDescription(panel->seriesUid()),
                                       m_viewer);
    window->setWindowFlag(Qt::Window);
    window->show();
    emit windowOpened(window);
    return window;
}

void CprViewerEntries::stopPicking()
{
    disconnect(m_picking);
    if (m_pickingPanel)
        m_pickingPanel->setMeasurementMode(render::MeasurementMode::Browse);
    m_pickingPanel.clear();
    m_seeds.clear();
}

bool CprViewerEntries::startPathPicking()
{
    stopPicking();
    ImageViewportWidget *panel = loadedPanel(pathEntry);
    if (panel == nullptr)
        return false;
    m_pickingPanel = panel;
    panel->setMeasurementMode(render::MeasurementMode::CurvedMprPath);
    m_picking = connect(panel, &ImageViewportWidget::curvedMprPathFinished, this,
                        [this](const QList<QVector3D> &points) {
                            stopPicking();
                            if (CurvedMprWindow *window = openWindow(CurvedMprMode::Curved))
                                window->setPatientControlPoints(points);
                        });
    m_viewer->statusBar()->showMessage(
        QStringLiteral("Отметьте точки по ходу сосуда щелчками, двойной щелчок завершает линию."));
    return true;
}

bool CprViewerEntries::startTracePicking()
{
    stopPicking();
    ImageViewportWidget *panel = loadedPanel(traceEntry);
    if (panel == nullptr)
        return false;
    m_pickingPanel = panel;
    panel->setMeasurementMode(render::MeasurementMode::VesselSeed);
    m_picking = connect(panel, &ImageViewportWidget::vesselAutoTrackSeedPicked, this, [this](const QVector3D &point) {
        m_seeds.append(point);
        if (m_seeds.size() < 2) {
            m_viewer->statusBar()->showMessage(QStringLiteral("Щёлкните конец сосуда."));
            return;
        }
        const QVector3D from = m_seeds.at(0);
        const QVector3D to = m_seeds.at(1);
        stopPicking();
        m_viewer->statusBar()->clearMessage();
        if (CurvedMprWindow *window = openWindow(CurvedMprMode::Vessel))
            window->tracePatientPoints(from, to);
    });
    m_viewer->statusBar()->showMessage(QStringLiteral("Щёлкните начало сосуда на изображении."));
    return true;
}

} // namespace velmaris
