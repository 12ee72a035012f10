#pragma once

#include "viewer/MeasurementMode.h"
#include "viewer/MeasurementScale.h"
#include "viewer/RoiStatistics.h"

#include <QList>
#include <QPointF>

#include <QString>
#include <QStringList>

// Label texts of the measurements. `scale` is millimetres per pixel; a scale
// that is not positive prints pixel units with the unscaled numbers.
namespace render {

// "%1 мм" with length × scale, else "%1 px".
QString lengthLabel(double lengthPx, double scale);

// "%1°".
QString angleLabel(double degrees);

// "Cobb %1°".
QString cobbAngleLabel(double degrees);

// "S=%1 мм²  P=%2 мм" with area × scale² and perimeter × scale, else
// "S=%1 px²  P=%2 px".
QString areaPerimeterLabel(double areaPx, double perimeterPx, double scale);

// The label of a measurement whose number is plain geometry: ruler and
// calibration line, angle, Cobb angle (the first line's tilt while the second
// is missing), ellipse area, and a finished polygon or smoothed contour.
// Points are in image pixels; distances and angles are taken after `scale`,
// so non-square pixels measure true millimetres and true angles. Empty for
// the other kinds and for shapes that cannot be measured yet.
QString geometryLabel(MeasurementMode kind, const QList<QPointF> &points, const PixelScale &scale,
                      bool finished);

// "ROI пуст" for an empty record, else
// "Mean %1  Min %2  Max %3  SD %4  (n=%5)" (mean and SD 1 decimal, minimum and
// maximum 0 decimals).
QString roiStatisticsLabel(const RoiStatistics &statistics);

// Shown while the ROI is being dragged: "отпустите для расчёта HU…", or
// "отпустите для пересчёта HU…" after a handle move.
QString roiPendingLabel(bool afterHandleMove);

// "HU недоступно: %1" with the decoder's message.
QString roiUnavailableLabel(const QString &decoderError);

// The quick comment labels of the comment dialog, in button order.
const QStringList &quickCommentLabels();

} // namespace render
