#pragma once

#include "volume/VolumeRenderParameters.h"

#include <QList>
#include <QPointF>
#include <QString>

class QPainter;
class QRect;

namespace render {

// "3D VRT: %1" with the preset's name, or "3D (%1)" with the projection.
QString volumeOverlayText(const VolumeRenderParameters &parameters);

// What both 3D widgets draw over the picture: the mode in the top left corner,
// the empty-volume text when there is no volume, and the cut-out path being
// drawn in yellow.
void drawVolumeOverlay(QPainter &painter, const QRect &rect, const VolumeRenderParameters &parameters, bool hasVolume,
                       const QList<QPointF> &path);

} // namespace render
