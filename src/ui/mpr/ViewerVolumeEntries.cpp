#include "ui/mpr/ViewerVolumeEntries.h"

#include "ui/mpr/FusionDialog.h"
#include "ui/mpr/MprWindow.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/PanelReconstruction.h"
#include "ui/viewer/ViewerWindow.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/VolumeBuilder.h"
#include "volume/SharedVolumes.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

namespace velmaris {

namespace {

const QString mprEntry = QStringLiteral("3D МногоПлоскостная Реконструкция");

} // namespace

ViewerVolumeEntries::ViewerVolumeEntries(ViewerWindow *viewer) : QObject(viewer), m_viewer(viewer)
{
    // The window's own volume entries are there already; the MPR window
    // comes first, the in-cell planes and Fusion after them.
    QMenu *menu = viewer->reconstructionMenu();
    auto *mpr = new QAction(mprEntry, viewer);
    mpr->setObjectName(QStringLiteral("viewer.mprWindow"));
    viewer->addWindowAction(mpr);
    menu->insertAction(menu->actions().value(0), mpr);
    connect(mpr, &QAction::triggered, this, [this] { openMprWindow(); });
    menu->addSeparator();

    const struct
    {
        const char *text;
        render::ReconstructionPlane plane;
    } planes[] = {{"Аксиальная (Трансверзальная) — в этой ячейке", render::ReconstructionPlane::Axial},
                  {"Корональная (Фронтальная) — в этой ячейке", render::ReconstructionPlane::Coronal},
                  {"Сагиттальная — в этой ячейке", render::ReconstructionPlane::Sagittal}};
    for (const auto &entry : planes) {
        const QString text = QString::fromUtf8(entry.text);
        const render::ReconstructionPlane plane = entry.plane;
        connect(menu->addAction(text), &QAction::triggered, this, [this, text, plane] {
            if (ImageViewportWidget *panel = loadedPanel(text))
                panel->reconstruction()->enter(plane);
        });
    }
    const QString back = QStringLiteral("↩ Исходные срезы (отменить реконструкцию)");
    connect(menu->addAction(back), &QAction::triggered, this, [this, back] {
        if (ImageViewportWidget *panel = loadedPanel(back))
            panel->reconstruction()->leave();
    });
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Fusion")), &QAction::triggered, this, [this] { openFusion(); });
}

FusionDialog *ViewerVolumeEntries::openFusion()
{
    const QString entry = QStringLiteral("Fusion");
    ImageViewportWidget *panel = loadedPanel(entry);
    if (panel == nullptr)
        return nullptr;
    QList<FusionDialog::Series> candidates;
    for (const QString &uid : m_viewer->seriesUids()) {
        if (uid == panel->seriesUid())
            continue;
        const QString description = m_viewer->seriesDescription(uid);
        const QList<db::SliceRef> slices = m_viewer->seriesSlices(uid);
        candidates.append({QStringLiteral("%1 · %2 срез.")
                               .arg(description.isEmpty() ? QStringLiteral("(без описания)") : description)
                               .arg(slices.size()),
                           description, slices});
    }
    if (candidates.isEmpty()) {
        QMessageBox::information(m_viewer, entry, QStringLiteral("В исследовании нет другой серии для наложения."));
        return nullptr;
    }
    auto *dialog = new FusionDialog(panel, candidates, m_viewer);
    dialog->show();
    return dialog;
}

ImageViewportWidget *ViewerVolumeEntries::loadedPanel(const QString &entry) const
{
    ImageViewportWidget *panel = m_viewer->viewport();
    if (panel != nullptr && panel->sliceCount() > 0)
        return panel;
    QMessageBox::information(m_viewer, entry, QStringLiteral("В активной панели нет загруженной серии."));
    return nullptr;
}

MprWindow *ViewerVolumeEntries::openMprWindow()
{
    ImageViewportWidget *panel = loadedPanel(mprEntry);
    if (panel == nullptr)
        return nullptr;
    const QString key = render::SharedVolumes::keyFor(
        render::seriesVolumeSlices(panel->slices(), render::SliceOrientationUse::Keep),
        render::planeHintFromText(m_viewer->seriesDescription(panel->seriesUid())));
    // A second click on the same series shows the window it opened.
    if (MprWindow *open = m_mprWindows.value(key)) {
        open->showNormal();
        open->raise();
        open->activateWindow();
        return open;
    }
    const render::WindowLevel window = panel->window();
    auto *mpr = new MprWindow(panel->slices(), m_viewer->seriesDescription(panel->seriesUid()), m_viewer,
                              window.centre, window.width);
    m_mprWindows.insert(key, mpr);
    mpr->show();
    return mpr;
}

} // namespace velmaris
