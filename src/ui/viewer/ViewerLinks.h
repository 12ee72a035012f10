#pragma once

#include "db/SliceRef.h"
#include "viewer/SliceGeometry.h"
#include "viewer/VertebraLabels.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>

#include <functional>

class QGraphicsItem;

namespace velmaris {

class ImageViewportWidget;

// What ties the panels of one viewer together: synchronised paging,
// reference lines, the 3D cursor and the vertebra labels. The viewer tells it
// what happened in a panel; the links move and mark the other panels.
class ViewerLinks : public QObject
{
    Q_OBJECT
public:
    struct Viewer
    {
        // Every panel of the grid, detached ones included.
        std::function<QList<ImageViewportWidget *>()> panels;
        // The rows and the geometry of a listed series.
        std::function<QList<db::SliceRef>(const QString &seriesUid)> slices;
        std::function<QList<render::SliceGeometry>(const QString &seriesUid)> geometry;
    };

    explicit ViewerLinks(Viewer viewer, QObject *parent = nullptr);
    ~ViewerLinks() override;

    // A panel showed slice `index` of `total`: with sync on, the others
    // follow (by position when they can, else by fraction), never echoing.
    void onSliceChanged(ImageViewportWidget *source, int index, int total, bool sync);
    // Redraws every panel's reference lines (none when `shown` is false).
    void updateReferenceLines(bool shown);
    // A 3D-cursor click: the other panels go to the nearest slice and mark
    // the point.
    void onCursorClicked(ImageViewportWidget *source, const QPointF &imagePixel);
    // A vertebra-label click on a panel.
    void onVertebraClicked(ImageViewportWidget *panel, const QPointF &imagePixel);
    void updateVertebraLabels();
    render::VertebraLabeler &labeler() { return m_labeler; }
    const render::VertebraLabeler &labeler() const { return m_labeler; }

signals:
    // A status-bar message: its text and how long it stays (0: until replaced).
    void statusChanged(const QString &text, int timeoutMs);
    // The reference lines no longer have anything to say.
    void referenceStatusCleared();

private:
    render::SliceGeometry currentGeometry(const ImageViewportWidget *panel) const;

    Viewer m_viewer;
    bool m_syncing = false; // followers of a broadcast must not broadcast again
    bool m_referenceLinesShown = true;
    render::VertebraLabeler m_labeler;
    QHash<ImageViewportWidget *, QList<QGraphicsItem *>> m_labelItems;
};

} // namespace velmaris
