#include "ui/viewer/ViewerLinks.h"

#include "ui/viewer/ImageViewportWidget.h"
#include "viewer/Cursor3D.h"
#include "viewer/ReferenceLines.h"
#include "viewer/SlicePlane.h"
#include "viewer/SliceSync.h"

#include <QBrush>
#include <QGraphicsEllipseItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QPen>

namespace velmaris {

ViewerLinks::ViewerLinks(Viewer viewer, QObject *parent) : QObject(parent), m_viewer(std::move(viewer)) {}

ViewerLinks::~ViewerLinks() = default;

render::SliceGeometry ViewerLinks::currentGeometry(const ImageViewportWidget *panel) const
{
    const QList<render::SliceGeometry> geometry = m_viewer.geometry(panel->seriesUid());
    if (panel->currentSlice() < 0 || panel->currentSlice() >= geometry.size())
        return {};
    return geometry.at(panel->currentSlice());
}

void ViewerLinks::onSliceChanged(ImageViewportWidget *source, int index, int total, bool sync)
{
    if (!m_syncing && sync) {
        m_syncing = true;
        const QList<db::SliceRef> sourceSlices =
            source != nullptr ? m_viewer.slices(source->seriesUid()) : QList<db::SliceRef>();
        for (ImageViewportWidget *follower : m_viewer.panels()) {
            if (follower == source || follower->sliceCount() == 0)
                continue;
            // The rows differ from the panel's only while a growing series is
            // being reloaded; the fraction of the panel's own count pairs those.
            follower->showSlice(sourceSlices.size() == total
                                    ? render::syncedSliceIndex(sourceSlices, index,
                                                               m_viewer.slices(follower->seriesUid()),
                                                               follower->currentSlice())
                                    : render::syncedSliceIndex(index, total, follower->sliceCount()));
        }
        m_syncing = false;
    }
    if (!m_syncing) {
        updateReferenceLines(m_referenceLinesShown);
        updateVertebraLabels();
    }
}

void ViewerLinks::updateReferenceLines(bool shown)
{
    m_referenceLinesShown = shown;
    const QList<ImageViewportWidget *> list = m_viewer.panels();
    if (!shown) {
        for (ImageViewportWidget *panel : list)
            panel->setReferenceLines({});
        return;
    }
    QList<ImageViewportWidget *> loaded;
    for (ImageViewportWidget *panel : list) {
        if (panel->sliceCount() > 0)
            loaded.append(panel);
        else
            panel->setReferenceLines({});
    }
    int withCoordinates = 0;
    int linesFound = 0;
    for (ImageViewportWidget *target : std::as_const(loaded)) {
        const render::SliceGeometry targetGeometry = currentGeometry(target);
        QList<QLineF> lines;
        if (targetGeometry.hasSpatialInfo) {
            ++withCoordinates;
            const QSize size = target->currentPixmap().size();
            for (ImageViewportWidget *source : std::as_const(loaded)) {
                if (source == target)
                    continue;
                const auto line =
                    render::referenceLine(currentGeometry(source), targetGeometry, size.width(), size.height());
                if (line)
                    lines.append(*line);
            }
        }
        linesFound += static_cast<int>(lines.size());
        target->setReferenceLines(lines);
    }
    const QString status =
        render::referenceLinesStatus(static_cast<int>(loaded.size()), withCoordinates, linesFound);
    if (!status.isEmpty())
        emit statusChanged(status, 0);
    else
        emit referenceStatusCleared();
}

void ViewerLinks::onCursorClicked(ImageViewportWidget *source, const QPointF &imagePixel)
{
    const auto point = render::pixelToPatient(currentGeometry(source), imagePixel);
    if (!point) {
        emit statusChanged(render::cursorNoSpatialInfoMessage(), 0);
        return;
    }
    source->setCursor3DMarker(imagePixel);
    // The moves below are the cursor's, not a page for sync to pass on.
    m_syncing = true;
    for (ImageViewportWidget *panel : m_viewer.panels()) {
        if (panel == source || panel->sliceCount() == 0)
            continue;
        const auto target =
            render::cursorTarget(m_viewer.geometry(panel->seriesUid()), panel->currentSlice(), *point);
        if (!target) {
            panel->setCursor3DMarker(std::nullopt);
            continue;
        }
        panel->setSliceByFraction(render::sliceFraction(target->sliceIndex, panel->sliceCount()));
        panel->setCursor3DMarker(target->imagePixel);
    }
    m_syncing = false;
    updateReferenceLines(m_referenceLinesShown);
    updateVertebraLabels();
}

void ViewerLinks::onVertebraClicked(ImageViewportWidget *panel, const QPointF &imagePixel)
{
    const render::VertebraClick result = m_labeler.click(currentGeometry(panel), imagePixel);
    emit statusChanged(result.statusMessage, result.statusTimeoutMs);
    updateVertebraLabels();
}

void ViewerLinks::updateVertebraLabels()
{
    for (auto it = m_labelItems.begin(); it != m_labelItems.end(); ++it) {
        qDeleteAll(it.value());
        it.value().clear();
    }
    if (m_labeler.labels().isEmpty())
        return;
    const QColor yellow(0xff, 0xd6, 0x33);
    for (ImageViewportWidget *panel : m_viewer.panels()) {
        if (panel->sliceCount() == 0 || panel->scene() == nullptr)
            continue;
        QList<QGraphicsItem *> &items = m_labelItems[panel];
        for (const render::VisibleVertebraLabel &label : m_labeler.visibleLabels(currentGeometry(panel))) {
            auto *marker = panel->scene()->addEllipse(label.imagePixel.x() - 3, label.imagePixel.y() - 3, 6, 6,
                                                      QPen(yellow), QBrush(yellow));
            auto *text = panel->scene()->addSimpleText(label.name);
            text->setBrush(yellow);
            text->setPos(label.imagePixel + QPointF(6, -8));
            // The name stays readable at any zoom.
            text->setFlag(QGraphicsItem::ItemIgnoresTransformations);
            marker->setZValue(10);
            text->setZValue(10);
            items << marker << text;
        }
    }
}

} // namespace velmaris
