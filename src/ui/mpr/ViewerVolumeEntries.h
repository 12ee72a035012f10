#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

class QAction;

namespace velmaris {

class FusionDialog;
class ImageViewportWidget;
class MprWindow;
class ViewerWindow;

// The viewer's volume entries, in its "Реконструкция" menu: the MPR
// window (`viewer.mprWindow`), the in-cell planes of the active panel and the
// way back to its slices, and "Fusion". Lives as a child of the viewer.
class ViewerVolumeEntries : public QObject
{
    Q_OBJECT
public:
    explicit ViewerVolumeEntries(ViewerWindow *viewer);

    // Opens the MPR window of the active panel's series, or raises the one
    // already open on it; null (after telling the user) without a series.
    MprWindow *openMprWindow();
    // "Fusion" on the active panel: the dialog that picks the series laid
    // over it; null (after telling the user) when there is nothing to lay.
    FusionDialog *openFusion();

private:
    // The active panel when it holds a series; otherwise tells the user
    // under the entry's name and gives null.
    ImageViewportWidget *loadedPanel(const QString &entry) const;

    ViewerWindow *m_viewer;
    QHash<QString, QPointer<MprWindow>> m_mprWindows; // by the series' volume key
};

} // namespace velmaris
