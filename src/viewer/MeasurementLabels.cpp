#include "viewer/MeasurementLabels.h"

#include "viewer/MeasurementGeometry.h"

#include <QLineF>
#include <QRectF>

namespace render {

namespace {

QString fixed(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

QString lengthLabel(double lengthPx, double scale)
{
    if (scale > 0.0)
        return QStringLiteral("%1 мм").arg(fixed(lengthPx * scale));
    return QStringLiteral("%1 px").arg(fixed(lengthPx));
}

QString angleLabel(double degrees)
{
    return QStringLiteral("%1°").arg(fixed(degrees));
}

QString cobbAngleLabel(double degrees)
{
    return QStringLiteral("Cobb %1°").arg(fixed(degrees));
}

QString areaPerimeterLabel(double areaPx, double perimeterPx, double scale)
{
    if (scale > 0.0)
        return QStringLiteral("S=%1 мм²  P=%2 мм").arg(fixed(areaPx * scale * scale), fixed(perimeterPx * scale));
    return QStringLiteral("S=%1 px²  P=%2 px").arg(fixed(areaPx), fixed(perimeterPx));
}

QString geometryLabel(MeasurementMode kind, const QList<QPointF> &points, const PixelScale &scale,
                      bool finished)
{
    // Already in millimetres (or pixel widths): the labels print them as they are.
    const double unit = scale.millimetres ? 1.0 : 0.0;
    const QList<QPointF> p = scale.map(points);
    switch (kind) {
    case MeasurementMode::Ruler:
    case MeasurementMode::Calibration:
        return p.size() >= 2 ? lengthLabel(QLineF(p.at(0), p.at(1)).length(), unit) : QString();
    case MeasurementMode::Angle:
        return p.size() >= 3 ? angleLabel(angleDegrees(p.at(0), p.at(1), p.at(2))) : QString();
    case MeasurementMode::CobbAngle:
        if (p.size() >= 4)
            return cobbAngleLabel(cobbAngleDegrees(p.at(0), p.at(1), p.at(2), p.at(3)));
        return p.size() >= 2 ? angleLabel(lineTiltDegrees(p.at(0), p.at(1))) : QString();
    case MeasurementMode::EllipseArea: {
        if (p.size() < 2)
            return QString();
        const QRectF rect = QRectF(p.at(0), p.at(1)).normalized();
        const double a = rect.width() / 2;
        const double b = rect.height() / 2;
        return areaPerimeterLabel(ellipseArea(a, b), ellipsePerimeter(a, b), unit);
    }
    case MeasurementMode::Polygon:
    case MeasurementMode::SmoothContour:
        return finished ? areaPerimeterLabel(polygonArea(p), polygonPerimeter(p), unit) : QString();
    default:
        return QString();
    }
}

QString roiStatisticsLabel(const RoiStatistics &statistics)
{
    if (statistics.count == 0)
        return QStringLiteral("ROI пуст");
    return QStringLiteral("Mean %1  Min %2  Max %3  SD %4  (n=%5)")
        .arg(fixed(statistics.mean), fixed(statistics.minimum, 0), fixed(statistics.maximum, 0),
             fixed(statistics.standardDeviation), QString::number(statistics.count));
}

QString roiPendingLabel(bool afterHandleMove)
{
    return afterHandleMove ? QStringLiteral("отпустите для пересчёта HU…")
                           : QStringLiteral("отпустите для расчёта HU…");
}

QString roiUnavailableLabel(const QString &decoderError)
{
    return QStringLiteral("HU недоступно: %1").arg(decoderError);
}

const QStringList &quickCommentLabels()
{
    static const QStringList labels{
        QStringLiteral("Очаг"),     QStringLiteral("Стеноз"),    QStringLiteral("Кальцинат"),
        QStringLiteral("Киста"),    QStringLiteral("Лимфоузел"), QStringLiteral("Патология"),
        QStringLiteral("ЗНО?"),     QStringLiteral("Перелом"),   QStringLiteral("Грыжа"),
        QStringLiteral("Норма"),
    };
    return labels;
}

} // namespace render
