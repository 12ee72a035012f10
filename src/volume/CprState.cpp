#include "volume/CprState.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>
#include <optional>

namespace render {

namespace {

// Coordinates beyond this are no volume position: they come from a broken or
// hand-made file and would only make the reconstruction huge.
constexpr double maxCoordinateMm = 1e6;

const QString keyVersion = QStringLiteral("version");
const QString keyControlPoints = QStringLiteral("controlPoints");
const QString keyMeasurements = QStringLiteral("measurements");

QJsonObject pointObject(double x, double y, double z)
{
    return QJsonObject{{QStringLiteral("x"), x}, {QStringLiteral("y"), y}, {QStringLiteral("z"), z}};
}

std::optional<double> finiteNumber(const QJsonValue &value, double low, double high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < low || number > high)
        return std::nullopt;
    return number;
}

// {"x": …, "y": …, "z": …} or [x, y, z].
std::optional<Vec3d> readPoint(const QJsonValue &value)
{
    QJsonValue parts[3];
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        parts[0] = object.value(QStringLiteral("x"));
        parts[1] = object.value(QStringLiteral("y"));
        parts[2] = object.value(QStringLiteral("z"));
    } else if (value.isArray() && value.toArray().size() == 3) {
        const QJsonArray array = value.toArray();
        for (int i = 0; i < 3; ++i)
            parts[i] = array.at(i);
    } else {
        return std::nullopt;
    }
    Vec3d point{};
    for (int i = 0; i < 3; ++i) {
        const auto number = finiteNumber(parts[i], -maxCoordinateMm, maxCoordinateMm);
        if (!number)
            return std::nullopt;
        point[std::size_t(i)] = *number;
    }
    return point;
}

QString formatProblem(const QString &detail)
{
    return QStringLiteral("Файл повреждён или имеет неверный формат: %1").arg(detail);
}

} // namespace

QString cprOrientationChoiceText(CprOrientationChoice choice)
{
    switch (choice) {
    case CprOrientationChoice::Horizontal:
        return QStringLiteral("Горизонтально");
    case CprOrientationChoice::Vertical:
        return QStringLiteral("Вертикально");
    case CprOrientationChoice::Auto:
        break;
    }
    return QStringLiteral("Авто");
}

CprLayout resolveCprLayout(CprOrientationChoice choice, const std::vector<Vec3d> &controlPoints)
{
    if (choice == CprOrientationChoice::Horizontal)
        return CprLayout::Horizontal;
    if (choice == CprOrientationChoice::Vertical)
        return CprLayout::Vertical;
    if (controlPoints.empty())
        return CprLayout::Horizontal;
    const double z0 = controlPoints.front()[2];
    std::size_t through = 0;
    for (const Vec3d &point : controlPoints)
        if (std::fabs(point[2] - z0) > 1.0)
            ++through;
    return 2 * through > controlPoints.size() ? CprLayout::Vertical : CprLayout::Horizontal;
}

QString cprStateFileFilter()
{
    return QStringLiteral("Параметры CPR (*.cprstate.json)");
}

QString cprStateSaveTitle()
{
    return QStringLiteral("Сохранение параметров");
}

QString cprStateLoadDialogTitle()
{
    return QStringLiteral("Загрузить параметры криволинейного MPR");
}

QString cprStateLoadTitle()
{
    return QStringLiteral("Загрузка параметров");
}

bool saveCprState(const CprParameters &parameters, const QString &path, QString &message)
{
    if (parameters.controlPoints.size() < 2) {
        message = QStringLiteral("Недостаточно контрольных точек — нечего сохранять.");
        return false;
    }
    QJsonArray points;
    for (const Vec3d &p : parameters.controlPoints)
        points.append(pointObject(p[0], p[1], p[2]));
    QJsonArray measurements;
    for (const CprMeasurement &m : parameters.measurements) {
        QJsonArray measurementPoints;
        for (const QPointF &p : m.points)
            measurementPoints.append(QJsonObject{{QStringLiteral("x"), p.x()}, {QStringLiteral("y"), p.y()}});
        measurements.append(QJsonObject{{QStringLiteral("type"), m.type},
                                        {QStringLiteral("sliceIndex"), m.sliceIndex},
                                        {QStringLiteral("points"), measurementPoints},
                                        {QStringLiteral("labelOffsetX"), m.labelOffsetX},
                                        {QStringLiteral("labelOffsetY"), m.labelOffsetY}});
    }
    const QJsonObject root{
        {keyVersion, cprStateVersion},
        {keyControlPoints, points},
        {QStringLiteral("rotationDeg"), parameters.rotationDeg},
        {QStringLiteral("offsetMm"), parameters.offsetMm},
        {QStringLiteral("widthMm"), parameters.widthMm},
        {QStringLiteral("thicknessMm"), parameters.thicknessMm},
        {QStringLiteral("smoothing"), parameters.smoothing},
        {QStringLiteral("orientationChoice"), cprOrientationChoiceText(parameters.orientationChoice)},
        {QStringLiteral("slabMode"), parameters.slabMode},
        {QStringLiteral("windowCenter"), parameters.windowCenter},
        {QStringLiteral("windowWidth"), parameters.windowWidth},
        {keyMeasurements, measurements},
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        message = QStringLiteral("Не удалось открыть файл для записи: %1").arg(path);
        return false;
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        message = QStringLiteral("Не удалось открыть файл для записи: %1").arg(path);
        return false;
    }
    return true;
}

bool loadCprState(const QString &path, CprParameters &parameters, QString &message)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        message = QStringLiteral("Не удалось открыть файл: %1").arg(path);
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        message = formatProblem(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        message = formatProblem(QStringLiteral("ожидался объект JSON"));
        return false;
    }
    const QJsonObject root = document.object();
    if (root.contains(keyVersion)) {
        const auto version = finiteNumber(root.value(keyVersion), 1, cprStateVersion);
        if (!version || *version != std::floor(*version)) {
            message = formatProblem(QStringLiteral("version"));
            return false;
        }
    }

    const QJsonValue pointsValue = root.value(keyControlPoints);
    if (!pointsValue.isArray() && !pointsValue.isUndefined()) {
        message = QStringLiteral("Не удалось прочитать корректные контрольные точки из файла.");
        return false;
    }
    CprParameters loaded;
    for (const QJsonValue &value : pointsValue.toArray()) {
        const auto point = readPoint(value);
        if (!point) {
            message = QStringLiteral("Не удалось прочитать корректные контрольные точки из файла.");
            return false;
        }
        loaded.controlPoints.push_back(*point);
    }
    if (loaded.controlPoints.size() < 2) {
        message = QStringLiteral("В файле меньше двух контрольных точек — загружать нечего.");
        return false;
    }

    // Every number within the range the window can set (with room to
    // spare); a huge width or thickness would ask for a giant image.
    struct NumberKey
    {
        const char *key;
        double *target;
        double low;
        double high;
    };
    const NumberKey numbers[] = {
        {"rotationDeg", &loaded.rotationDeg, -1e6, 1e6},  {"offsetMm", &loaded.offsetMm, -1e5, 1e5},
        {"widthMm", &loaded.widthMm, 1e-3, 2000.0},       {"thicknessMm", &loaded.thicknessMm, 0.0, 500.0},
        {"smoothing", &loaded.smoothing, -10.0, 10.0},    {"windowCenter", &loaded.windowCenter, -1e6, 1e6},
        {"windowWidth", &loaded.windowWidth, 0.0, 1e6},
    };
    for (const NumberKey &entry : numbers) {
        const QString key = QLatin1String(entry.key);
        if (!root.contains(key))
            continue;
        const auto number = finiteNumber(root.value(key), entry.low, entry.high);
        if (!number) {
            message = formatProblem(key);
            return false;
        }
        *entry.target = *number;
    }
    if (root.contains(QStringLiteral("slabMode"))) {
        const auto mode = finiteNumber(root.value(QStringLiteral("slabMode")), 0, 3);
        if (!mode || *mode != std::floor(*mode)) {
            message = formatProblem(QStringLiteral("slabMode"));
            return false;
        }
        loaded.slabMode = int(*mode);
    }
    if (root.contains(QStringLiteral("orientationChoice"))) {
        const QJsonValue choice = root.value(QStringLiteral("orientationChoice"));
        bool known = false;
        for (CprOrientationChoice c :
             {CprOrientationChoice::Auto, CprOrientationChoice::Horizontal, CprOrientationChoice::Vertical}) {
            if (choice.toString() == cprOrientationChoiceText(c)
                || (choice.isDouble() && choice.toDouble() == double(int(c)))) {
                loaded.orientationChoice = c;
                known = true;
            }
        }
        if (!known) {
            message = formatProblem(QStringLiteral("orientationChoice"));
            return false;
        }
    }
    if (root.contains(keyMeasurements)) {
        const QJsonValue list = root.value(keyMeasurements);
        if (!list.isArray()) {
            message = formatProblem(keyMeasurements);
            return false;
        }
        for (const QJsonValue &value : list.toArray()) {
            const QJsonObject object = value.toObject();
            CprMeasurement m;
            m.type = object.value(QStringLiteral("type")).toString();
            const auto slice = finiteNumber(object.value(QStringLiteral("sliceIndex")), 0, 1e6);
            const auto dx = finiteNumber(object.value(QStringLiteral("labelOffsetX")), -1e6, 1e6);
            const auto dy = finiteNumber(object.value(QStringLiteral("labelOffsetY")), -1e6, 1e6);
            const QJsonValue pointList = object.value(QStringLiteral("points"));
            bool pointsOk = pointList.isArray();
            for (const QJsonValue &p : pointList.toArray()) {
                const auto x = finiteNumber(p.toObject().value(QStringLiteral("x")), -1e6, 1e6);
                const auto y = finiteNumber(p.toObject().value(QStringLiteral("y")), -1e6, 1e6);
                if (!x || !y) {
                    pointsOk = false;
                    break;
                }
                m.points.append(QPointF(*x, *y));
            }
            if (!value.isObject() || m.type.isEmpty() || !slice || !dx || !dy || !pointsOk) {
                message = formatProblem(keyMeasurements);
                return false;
            }
            m.sliceIndex = int(*slice);
            m.labelOffsetX = *dx;
            m.labelOffsetY = *dy;
            loaded.measurements.append(m);
        }
    }
    parameters = loaded;
    return true;
}

} // namespace render
