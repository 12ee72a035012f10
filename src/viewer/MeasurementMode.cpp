#include "viewer/MeasurementMode.h"

namespace render {

bool isSelectableMode(int value)
{
    return (value >= 0 && value <= 15) || (value >= 19 && value <= 21);
}

QString measurementModeLabel(MeasurementMode mode)
{
    switch (mode) {
    case MeasurementMode::Browse: return QStringLiteral("Обзор");
    case MeasurementMode::Zoom: return QStringLiteral("Zoom");
    case MeasurementMode::Windowing: return QStringLiteral("Яркость (ЛКМ)");
    case MeasurementMode::Ruler: return QStringLiteral("Линейка");
    case MeasurementMode::Angle: return QStringLiteral("Угол");
    case MeasurementMode::EllipseRoi: return QStringLiteral("ROI (HU)");
    case MeasurementMode::Cursor3D: return QStringLiteral("3D-курсор");
    case MeasurementMode::Drawing: return QStringLiteral("Рисование");
    case MeasurementMode::FreehandRoi: return QStringLiteral("Произвольная ROI (HU)");
    case MeasurementMode::Text: return QStringLiteral("Текст");
    case MeasurementMode::Arrow: return QStringLiteral("Стрелка");
    case MeasurementMode::Polygon: return QStringLiteral("Многоугольник");
    case MeasurementMode::SmoothContour: return QStringLiteral("Сглаженный контур");
    case MeasurementMode::EllipseArea: return QStringLiteral("Эллипс (площадь)");
    case MeasurementMode::CobbAngle: return QStringLiteral("Угол Кобба");
    case MeasurementMode::Paging: return QStringLiteral("Пролистывание (ЛКМ)");
    case MeasurementMode::Magnifier: return QStringLiteral("Лупа");
    case MeasurementMode::Calibration: return QStringLiteral("Калибровка линейки");
    case MeasurementMode::VertebraLabels: return QStringLiteral("Метки позвонков");
    case MeasurementMode::CurvedMprPath:
    case MeasurementMode::VesselSeed:
    case MeasurementMode::AirwaySeed: break;
    }
    return {};
}

bool isMeasuringTool(MeasurementMode mode)
{
    switch (mode) {
    case MeasurementMode::Ruler:
    case MeasurementMode::Angle:
    case MeasurementMode::EllipseRoi:
    case MeasurementMode::Drawing:
    case MeasurementMode::FreehandRoi:
    case MeasurementMode::Text:
    case MeasurementMode::Arrow:
    case MeasurementMode::Polygon:
    case MeasurementMode::SmoothContour:
    case MeasurementMode::EllipseArea:
    case MeasurementMode::CobbAngle:
    case MeasurementMode::Calibration:
        return true;
    default:
        return false;
    }
}

} // namespace render
