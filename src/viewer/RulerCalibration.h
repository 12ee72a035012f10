#pragma once

#include <QString>

// Hand calibration of the ruler: the user draws a line over an object of known
// size. Stored per series under "viewer/calibration/<Series Instance UID>" so
// that it applies whenever the series is opened again.
namespace render {

// Lines shorter than this many image pixels are refused.
inline constexpr double minimumCalibrationLinePx = 3.0;
inline constexpr double minimumCalibrationSizeMm = 0.1;
inline constexpr double maximumCalibrationSizeMm = 2000.0;

// "Линия слишком короткая — …"
QString calibrationLineTooShortText();
// "Калибровка линейки"
QString calibrationDialogTitle();
// "Реальный размер отмеченного объекта, мм\n(…)"
QString calibrationDialogLabel();

// sizeMm ÷ lineLengthPx; 0 when the line is shorter than the minimum or the
// size is not positive.
double calibrationMmPerPixel(double sizeMm, double lineLengthPx);

// The stored calibration of the series, 0 when none.
double storedCalibration(const QString &seriesInstanceUid);
void storeCalibration(const QString &seriesInstanceUid, double mmPerPixel);
// The viewer's reset: the DICOM pixel spacing applies again.
void removeCalibration(const QString &seriesInstanceUid);

// "viewer/calibrationLastSizeMm", 25.0 by default.
double lastCalibrationSizeMm();
void storeLastCalibrationSizeMm(double sizeMm);

} // namespace render
