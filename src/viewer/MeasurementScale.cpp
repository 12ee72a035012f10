#include "viewer/MeasurementScale.h"

namespace render {

QList<QPointF> PixelScale::map(const QList<QPointF> &imagePixels) const
{
    QList<QPointF> out;
    out.reserve(imagePixels.size());
    for (const QPointF &p : imagePixels)
        out.append(map(p));
    return out;
}

PixelScale measurementScale(double calibrationMmPerPixel, double rowSpacing, double columnSpacing,
                            double pixelAspectRatio)
{
    const double aspect = pixelAspect(rowSpacing, columnSpacing, pixelAspectRatio);
    if (calibrationMmPerPixel > 0.0)
        return {calibrationMmPerPixel, calibrationMmPerPixel * aspect, true};
    const bool row = rowSpacing > 0.0;
    const bool column = columnSpacing > 0.0;
    if (row && column)
        return {columnSpacing, rowSpacing, true};
    if (row)
        return {rowSpacing, rowSpacing, true};
    if (column)
        return {columnSpacing, columnSpacing, true};
    return {1.0, aspect, false};
}

} // namespace render
