#pragma once

#include "volume/Centerline.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <vector>

// The parameters of a curved reconstruction and their file
// ("*.cprstate.json"). Control points are in volume millimetres (voxel index
// × spacing of the volume built with the frames' orientation kept), so a file
// stays valid for the same series whatever the screen layout was.
namespace render {

enum class CprOrientationChoice { Auto, Horizontal, Vertical };
// How the result is laid out: horizontal, the centre line runs across the
// image (column = centre-line sample); vertical, it runs down (row = sample).
enum class CprLayout { Horizontal, Vertical };

// One measurement drawn on the CPR image, in image pixels.
struct CprMeasurement
{
    QString type;
    int sliceIndex = 0;
    QList<QPointF> points;
    double labelOffsetX = 0.0;
    double labelOffsetY = 0.0;

    bool operator==(const CprMeasurement &) const = default;
};

struct CprParameters
{
    std::vector<Vec3d> controlPoints;
    double rotationDeg = 0.0;
    double offsetMm = 0.0;
    double widthMm = 40.0;
    double thicknessMm = 0.0; // 0: thin
    int slabMode = 1;         // as render::SlabMode; used when thick
    double smoothing = 0.0;   // spline tension, 0 = Catmull-Rom
    CprOrientationChoice orientationChoice = CprOrientationChoice::Auto;
    double windowCenter = 200.0; // contrast-filled vessels
    double windowWidth = 700.0;
    QList<CprMeasurement> measurements;

    bool operator==(const CprParameters &) const = default;
};

// The version written into new files; newer versions are refused on load.
inline constexpr int cprStateVersion = 1;

// "Авто", "Горизонтально", "Вертикально".
QString cprOrientationChoiceText(CprOrientationChoice choice);

// "Авто": vertical when more than half of the control points differ in z from
// the first by more than 1.0 (a curve running through the slices), else
// horizontal; the other two choices force their layout.
CprLayout resolveCprLayout(CprOrientationChoice choice, const std::vector<Vec3d> &controlPoints);

// Texts of the file dialogs and their message boxes.
QString cprStateFileFilter();      // "Параметры CPR (*.cprstate.json)"
QString cprStateSaveTitle();       // "Сохранение параметров"
QString cprStateLoadDialogTitle(); // "Загрузить параметры криволинейного MPR"
QString cprStateLoadTitle();       // "Загрузка параметров"

// Writes the parameters with a `version` field. False with "Недостаточно
// контрольных точек — нечего сохранять." for fewer than two points, or "Не
// удалось открыть файл для записи: %1" when the file cannot be written.
bool saveCprState(const CprParameters &parameters, const QString &path, QString &message);

// Reads a file written by saveCprState. Absent keys keep their defaults.
// False with "Не удалось открыть файл: %1", "В файле меньше двух контрольных
// точек — загружать нечего.", "Не удалось прочитать корректные контрольные
// точки из файла." (a point that is not three finite numbers within ±1e6 mm)
// or "Файл повреждён или имеет неверный формат: %1" (broken JSON, a newer
// version, a value of the wrong type, not finite or out of its sane range);
// `parameters` is left untouched on failure.
bool loadCprState(const QString &path, CprParameters &parameters, QString &message);

} // namespace render
