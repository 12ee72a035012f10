#include "volume/StenosisMeasurement.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {

QString mm(double value)
{
    return QString::number(value, 'f', 1);
}

QString percent(double whole, double lumen)
{
    return QString::number(stenosisPercent(whole, lumen), 'f', 0);
}

} // namespace

double stenosisPercent(double whole, double lumen)
{
    if (!(whole > 0.0) || !std::isfinite(whole) || !std::isfinite(lumen))
        return 0.0;
    return std::clamp((1.0 - lumen / whole) * 100.0, 0.0, 100.0);
}

QString diameterStenosisFirstLabel(double wholeMm)
{
    return QStringLiteral("Весь сосуд: %1 мм — теперь измерьте остаточный просвет").arg(mm(wholeMm));
}

QString diameterStenosisLabel(double wholeMm, double lumenMm)
{
    return QStringLiteral("Весь сосуд: %1 мм  Просвет: %2 мм  Стеноз: %3%")
        .arg(mm(wholeMm), mm(lumenMm), percent(wholeMm, lumenMm));
}

QString diameterLumenLabel(double wholeMm, double lumenMm)
{
    return QStringLiteral("Просвет: %1 мм  Стеноз: %2%").arg(mm(lumenMm), percent(wholeMm, lumenMm));
}

QString areaStenosisFirstLabel(double wholeMm2)
{
    return QStringLiteral("Весь сосуд: S=%1 мм² — теперь обведите остаточный просвет").arg(mm(wholeMm2));
}

QString areaStenosisLabel(double wholeMm2, double lumenMm2)
{
    return QStringLiteral("Весь сосуд: S=%1 мм²  Просвет: S=%2 мм²  Стеноз: %3%")
        .arg(mm(wholeMm2), mm(lumenMm2), percent(wholeMm2, lumenMm2));
}

QString areaLumenLabel(double wholeMm2, double lumenMm2)
{
    return QStringLiteral("Просвет: S=%1 мм²  Стеноз: %2%").arg(mm(lumenMm2), percent(wholeMm2, lumenMm2));
}

QString vesselDiameterLabel(double diameterMm)
{
    return QStringLiteral("Диаметр: %1 мм").arg(mm(diameterMm));
}

} // namespace render
