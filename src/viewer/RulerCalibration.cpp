#include "viewer/RulerCalibration.h"

#include <QSettings>

namespace render {

namespace {
const QString lastSizeKey = QStringLiteral("viewer/calibrationLastSizeMm");
constexpr double defaultLastSizeMm = 25.0;

QString seriesKey(const QString &seriesInstanceUid)
{
    return QStringLiteral("viewer/calibration/") + seriesInstanceUid;
}
} // namespace

QString calibrationLineTooShortText()
{
    return QStringLiteral("Линия слишком короткая — проведите её от края до края объекта известного размера.");
}

QString calibrationDialogTitle()
{
    return QStringLiteral("Калибровка линейки");
}

QString calibrationDialogLabel()
{
    return QStringLiteral("Реальный размер отмеченного объекта, мм\n"
                          "(например, калибровочный шар 25 мм, монета 10 ₽ — 22 мм):");
}

double calibrationMmPerPixel(double sizeMm, double lineLengthPx)
{
    if (!(lineLengthPx >= minimumCalibrationLinePx) || !(sizeMm > 0.0))
        return 0.0;
    return sizeMm / lineLengthPx;
}

double storedCalibration(const QString &seriesInstanceUid)
{
    bool ok = false;
    const double value = QSettings().value(seriesKey(seriesInstanceUid)).toDouble(&ok);
    return ok && value > 0.0 ? value : 0.0;
}

void storeCalibration(const QString &seriesInstanceUid, double mmPerPixel)
{
    QSettings().setValue(seriesKey(seriesInstanceUid), mmPerPixel);
}

void removeCalibration(const QString &seriesInstanceUid)
{
    QSettings().remove(seriesKey(seriesInstanceUid));
}

double lastCalibrationSizeMm()
{
    bool ok = false;
    const double value = QSettings().value(lastSizeKey, defaultLastSizeMm).toDouble(&ok);
    return ok ? value : defaultLastSizeMm;
}

void storeLastCalibrationSizeMm(double sizeMm)
{
    QSettings().setValue(lastSizeKey, sizeMm);
}

} // namespace render
