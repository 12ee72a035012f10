#pragma once

#include "ui/cpr/CurvedMprMode.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QVector3D>

namespace velmaris {

class CurvedMprWindow;
class ImageViewportWidget;
class ViewerWindow;

// The viewer's curved-reconstruction entries in its "Реконструкция" menu:
// "Криволинейный MPR — по точкам" (points clicked on the active panel, a
// double click ends the line), "Сосудистый анализ", "Ортопантомограмма" and
// "Автоматически по ходу сосуда" (two clicks on the panel, then the traced
// vessel opens in the vessel analysis). Lives as a child of the viewer.
class CprViewerEntries : public QObject
{
    Q_OBJECT
public:
    explicit CprViewerEntries(ViewerWindow *viewer);

    // Opens a window on the active panel's series; null (after telling the
    // user) without a series.
    CurvedMprWindow *openWindow(CurvedMprMode mode);
    // Puts the active panel into point picking for the curve or the trace.
    bool startPathPicking();
    bool startTracePicking();

signals:
    // A window opened from an entry (after picking, when it needed points).
    void windowOpened(velmaris::CurvedMprWindow *window);

private:
    ImageViewportWidget *loadedPanel(const QString &entry) const;
    void stopPicking();

    ViewerWindow *m_viewer;
    QPointer<ImageViewportWidget> m_pickingPanel;
    QMetaObject::Connection m_picking;
    QList<QVector3D> m_seeds;
};

} // namespace velmaris
