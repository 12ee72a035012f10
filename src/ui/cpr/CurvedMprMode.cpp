#include "ui/cpr/CurvedMprMode.h"

namespace velmaris {

QString curvedMprWindowTitle(CurvedMprMode mode, double lengthMm)
{
    QString base;
    switch (mode) {
    case CurvedMprMode::Curved: base = QStringLiteral("Криволинейный MPR (тестовая версия)"); break;
    case CurvedMprMode::Vessel: base = QStringLiteral("Сосудистый анализ (тестовая версия)"); break;
    case CurvedMprMode::Panoramic:
        return QStringLiteral("Ортопантомограмма (панорамная реконструкция) — не заменяет диагностический ОПТГ");
    }
    if (lengthMm < 0.0)
        return base;
    return QStringLiteral("%1 — длина кривой %2 мм").arg(base).arg(lengthMm, 0, 'f', 1);
}

QString curvedMprBannerText(CurvedMprMode mode)
{
    switch (mode) {
    case CurvedMprMode::Vessel:
        return QStringLiteral("Бета-функция: сосудистый анализ в тестовой версии, результаты требуют проверки врачом.");
    case CurvedMprMode::Panoramic:
        return QStringLiteral("Бета-функция: панорамная реконструкция в тестовой версии, не заменяет "
                              "диагностический ОПТГ.");
    case CurvedMprMode::Curved: break;
    }
    return QStringLiteral("Бета-функция: криволинейный MPR в тестовой версии, результаты требуют проверки врачом.");
}

} // namespace velmaris
