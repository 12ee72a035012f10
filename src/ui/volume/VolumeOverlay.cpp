#include "ui/volume/VolumeOverlay.h"

#include <QPainter>
#include <QPolygonF>
#include <QRect>

namespace render {

QString volumeOverlayText(const VolumeRenderParameters &parameters)
{
    if (parameters.mode == ProjectionMode::Vrt)
        return QStringLiteral("3D VRT: %1").arg(parameters.preset.name);
    return QStringLiteral("3D (%1)").arg(projectionModeShortName(parameters.mode));
}

void drawVolumeOverlay(QPainter &painter, const QRect &rect, const VolumeRenderParameters &parameters, bool hasVolume,
                       const QList<QPointF> &path)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!hasVolume) {
        painter.setPen(QColor(170, 170, 170));
        painter.drawText(rect, Qt::AlignCenter, QStringLiteral("3D — нет объёма\n(постройте MPR из серии)"));
        painter.restore();
        return;
    }
    painter.setPen(QColor(230, 230, 120));
    painter.drawText(rect.adjusted(8, 6, -8, -6), Qt::AlignLeft | Qt::AlignTop, volumeOverlayText(parameters));
    if (path.size() > 1) {
        QPen pen(QColor::fromRgbF(1.0f, 0.92f, 0.1f, 0.95f));
        pen.setWidthF(2.0);
        painter.setPen(pen);
        painter.drawPolyline(QPolygonF(path));
    }
    painter.restore();
}

} // namespace render
