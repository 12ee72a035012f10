#pragma once

#include "volume/Volume.h"

#include <QRectF>
#include <QString>

namespace render {

// The text shown beside an elliptical ROI drawn on an orthogonal plane
// (0 axial, 1 coronal, 2 sagittal) at `sliceIndex`; the ellipse is in the
// pixels of the displayed (aspect-corrected) image. "HU: mean ± sd\nMin: …
// Max: …\nN=…", or "ROI пуст" / "HU недоступно".
QString mprRoiStats(const Volume &volume, int plane, int sliceIndex, const QRectF &ellipse);

// Shown instead on rotated planes.
QString mprRoiStatsUnavailableText();

} // namespace render
