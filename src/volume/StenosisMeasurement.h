#pragma once

#include <QString>

// The stenosis measurements on a CPR image: the whole vessel is measured
// first, then the residual lumen; the texts are the labels the window draws.
// Lengths and areas print with one decimal, the percentage without.
namespace render {

// (1 − lumen / whole) × 100 clamped to 0 … 100; 0 when the whole vessel is
// not a positive finite number or the lumen is not finite.
double stenosisPercent(double whole, double lumen);

// By diameter (millimetres).
// "Весь сосуд: %1 мм — теперь измерьте остаточный просвет"
QString diameterStenosisFirstLabel(double wholeMm);
// "Весь сосуд: %1 мм  Просвет: %2 мм  Стеноз: %3%"
QString diameterStenosisLabel(double wholeMm, double lumenMm);
// "Просвет: %1 мм  Стеноз: %2%" (the lumen ruler's own label)
QString diameterLumenLabel(double wholeMm, double lumenMm);

// By area (square millimetres).
// "Весь сосуд: S=%1 мм² — теперь обведите остаточный просвет"
QString areaStenosisFirstLabel(double wholeMm2);
// "Весь сосуд: S=%1 мм²  Просвет: S=%2 мм²  Стеноз: %3%"
QString areaStenosisLabel(double wholeMm2, double lumenMm2);
// "Просвет: S=%1 мм²  Стеноз: %2%"
QString areaLumenLabel(double wholeMm2, double lumenMm2);

// "Диаметр: %1 мм" (the vessel-diameter tool).
QString vesselDiameterLabel(double diameterMm);

} // namespace render
