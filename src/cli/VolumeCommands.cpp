#include "cli/VolumeCommands.h"

#include "cli/CliCommands.h"
#include "cli/ExtendedVerbs.h"
#include "db/Database.h"
#include "volume/MprReslicer.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/VolumeBuilder.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QtEndian>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>

namespace velmaris::cli {

namespace {

using Vector = std::array<float, 3>;

struct VolumeArguments
{
    QStringList positional;
    QString database;
    QString out;
    bool orientation = false;
    bool oblique = false;
    std::optional<int> plane; // 0 axial, 1 coronal, 2 sagittal
    std::optional<int> index;
    std::optional<std::array<double, 2>> window;
    double slabMm = 0.0;
    int slabMode = 1;
    std::optional<Vector> u;
    std::optional<Vector> v;
    std::optional<Vector> centre;
    int size = 400;
    std::optional<double> mmPerPixel;
    QString problem;
};

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<Vector> vector(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return std::nullopt;
    Vector result{};
    for (int i = 0; i < 3; ++i) {
        const auto value = number(parts.at(i).trimmed());
        if (!value)
            return std::nullopt;
        result[i] = float(*value);
    }
    return result;
}

VolumeArguments parse(const QStringList &arguments)
{
    VolumeArguments parsed;
    for (qsizetype i = 0; i < arguments.size() && parsed.problem.isEmpty(); ++i) {
        QString arg = arguments.at(i);
        std::optional<QString> inlineValue;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            inlineValue = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            arg = arg.left(arg.indexOf(QLatin1Char('=')));
        }
        auto value = [&]() -> QString {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= arguments.size()) {
                parsed.problem = QStringLiteral("Не указано значение после %1").arg(arg);
                return QString();
            }
            return arguments.at(++i);
        };
        auto bad = [&](const QString &text) { parsed.problem = QStringLiteral("Неверное значение %1: %2").arg(arg, text); };
        if (arg == QLatin1String("--db")) {
            parsed.database = value();
        } else if (arg == QLatin1String("--out")) {
            parsed.out = value();
            if (parsed.out.isEmpty() && parsed.problem.isEmpty())
                parsed.problem = QStringLiteral("Не указан файл после --out");
        } else if (arg == QLatin1String("--orientation")) {
            parsed.orientation = true;
        } else if (arg == QLatin1String("--oblique")) {
            parsed.oblique = true;
        } else if (arg == QLatin1String("--plane")) {
            const QString text = value();
            static const QStringList names{QStringLiteral("axial"), QStringLiteral("coronal"),
                                           QStringLiteral("sagittal")};
            if (names.contains(text))
                parsed.plane = int(names.indexOf(text));
            else if (parsed.problem.isEmpty())
                bad(text);
        } else if (arg == QLatin1String("--slab-mode")) {
            const QString text = value();
            static const QStringList names{QStringLiteral("mip"), QStringLiteral("minip"), QStringLiteral("mean")};
            if (names.contains(text))
                parsed.slabMode = int(names.indexOf(text)) + 1;
            else if (parsed.problem.isEmpty())
                bad(text);
        } else if (arg == QLatin1String("--index") || arg == QLatin1String("--size")) {
            const QString text = value();
            bool ok = false;
            const int n = text.toInt(&ok, 10);
            if (!ok || (arg == QLatin1String("--size") && (n < 1 || n > 8192))) {
                if (parsed.problem.isEmpty())
                    bad(text);
            } else if (arg == QLatin1String("--index")) {
                parsed.index = n;
            } else {
                parsed.size = n;
            }
        } else if (arg == QLatin1String("--slab-mm") || arg == QLatin1String("--mm-per-pixel")) {
            const QString text = value();
            const auto n = number(text);
            if (!n || *n < 0.0 || (arg == QLatin1String("--mm-per-pixel") && *n <= 0.0)) {
                if (parsed.problem.isEmpty())
                    bad(text);
            } else if (arg == QLatin1String("--slab-mm")) {
                parsed.slabMm = *n;
            } else {
                parsed.mmPerPixel = *n;
            }
        } else if (arg == QLatin1String("--u") || arg == QLatin1String("--v") || arg == QLatin1String("--centre")) {
            const QString text = value();
            const auto parsedVector = vector(text);
            if (!parsedVector) {
                if (parsed.problem.isEmpty())
                    bad(text);
            } else if (arg == QLatin1String("--u")) {
                parsed.u = *parsedVector;
            } else if (arg == QLatin1String("--v")) {
                parsed.v = *parsedVector;
            } else {
                parsed.centre = *parsedVector;
            }
        } else if (arg == QLatin1String("--window") && !inlineValue) {
            if (i + 2 >= arguments.size()) {
                parsed.problem = QStringLiteral("После --window нужны центр и ширина окна");
                break;
            }
            const auto centre = number(arguments.at(i + 1));
            const auto width = number(arguments.at(i + 2));
            if (!centre || !width) {
                parsed.problem = QStringLiteral("Неверное окно: %1 %2").arg(arguments.at(i + 1), arguments.at(i + 2));
                break;
            }
            parsed.window = std::array<double, 2>{*centre, *width};
            i += 2;
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            parsed.problem = QStringLiteral("Неизвестный параметр: %1").arg(arguments.at(i));
        } else {
            parsed.positional.append(arg);
        }
    }
    return parsed;
}

void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
}

void writeRecord(std::FILE *stream, const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stream);
}

QJsonArray jsonVector(const std::array<float, 3> &v)
{
    return QJsonArray{double(v[0]), double(v[1]), double(v[2])};
}

// The series' description as the windows show it, for the plane hint.
QString seriesDescription(db::Database &database, const QString &seriesUid)
{
    for (const db::StudyRecord &study : database.listStudies())
        for (const db::SeriesRecord &series : database.listSeries(study.study_instance_uid))
            if (series.series_instance_uid == seriesUid)
                return series.series_description;
    return QString();
}

bool buildSeriesVolume(const VolumeArguments &args, bool orientation, render::Volume &volume, QString &message)
{
    return buildIndexedSeriesVolume(args.database, args.positional.first(), orientation, volume, message);
}

// The voxels as little-endian float32, x fastest, then y, then z.
bool writeVoxels(const render::Volume &volume, const QString &path, QString &error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("Не удалось записать %1: %2").arg(path, file.errorString());
        return false;
    }
    constexpr std::size_t chunk = 1 << 20;
    QByteArray bytes;
    for (std::size_t at = 0; at < volume.voxels.size(); at += chunk) {
        const std::size_t count = std::min(chunk, volume.voxels.size() - at);
        bytes.resize(qsizetype(count * sizeof(float)));
        qToLittleEndian<float>(volume.voxels.data() + at, qsizetype(count), bytes.data());
        if (file.write(bytes) != bytes.size())
            break;
    }
    if (!file.commit()) {
        error = QStringLiteral("Не удалось записать %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

int volumeVerb(const VolumeArguments &args, std::FILE *out, std::FILE *err)
{
    if (args.positional.size() != 1 || args.database.isEmpty() || args.out.isEmpty() || args.oblique
        || args.plane || args.index || args.window || args.u || args.v || args.centre)
        return -1;
    render::Volume volume;
    QString message;
    bool ok = buildSeriesVolume(args, args.orientation, volume, message);
    QString failure = ok ? QString() : message;
    if (ok && !writeVoxels(volume, args.out, failure))
        ok = false;
    writeRecord(out, QJsonObject{
                         {QStringLiteral("ok"), ok},
                         {QStringLiteral("width"), volume.width},
                         {QStringLiteral("height"), volume.height},
                         {QStringLiteral("depth"), volume.depth},
                         {QStringLiteral("spacing"), QJsonArray{volume.spacingX, volume.spacingY, volume.spacingZ}},
                         {QStringLiteral("min"), volume.isValid() ? volume.minValue : 0.0},
                         {QStringLiteral("max"), volume.isValid() ? volume.maxValue : 0.0},
                         {QStringLiteral("has_patient_geometry"), volume.hasPatientGeometry},
                         {QStringLiteral("origin"), jsonVector(volume.origin)},
                         {QStringLiteral("step_x"), jsonVector(volume.stepX)},
                         {QStringLiteral("step_y"), jsonVector(volume.stepY)},
                         {QStringLiteral("step_z"), jsonVector(volume.stepZ)},
                         {QStringLiteral("message"), ok ? message : failure},
                     });
    if (!ok) {
        writeText(err, failure);
        return RuntimeFailure;
    }
    return Success;
}

Vector normalised(const Vector &v)
{
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / length, v[1] / length, v[2] / length};
}

int mprVerb(const VolumeArguments &args, std::FILE *out, std::FILE *err)
{
    const bool orthogonal = args.plane && !args.oblique && !args.u && !args.v && !args.centre && !args.mmPerPixel;
    const bool oblique = args.oblique && !args.plane && !args.index && args.u && args.v;
    if (args.positional.size() != 1 || args.database.isEmpty() || args.out.isEmpty() || args.orientation
        || (!orthogonal && !oblique))
        return -1;
    auto isZero = [](const Vector &v) { return v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f; };
    if (oblique && (isZero(*args.u) || isZero(*args.v))) {
        writeText(err, QStringLiteral("Направления --u и --v не должны быть нулевыми"));
        return -1;
    }

    render::Volume volume;
    QString message;
    QString failure;
    QImage image;
    int index = 0;
    int halfCount = 0;
    double centre = 0.0;
    double width = 0.0;
    if (!buildSeriesVolume(args, true, volume, message)) {
        failure = message;
    } else {
        if (!message.isEmpty())
            writeText(err, message);
        if (args.window) {
            centre = (*args.window)[0];
            width = (*args.window)[1];
        } else {
            width = std::max(volume.maxValue - volume.minValue, 1.0);
            centre = (volume.maxValue + volume.minValue) / 2.0;
        }
        if (orthogonal) {
            const int plane = *args.plane;
            const int count = plane == 0 ? volume.depth : plane == 1 ? volume.height : volume.width;
            const double spacing = plane == 0 ? volume.spacingZ : plane == 1 ? volume.spacingY : volume.spacingX;
            index = std::clamp(args.index.value_or(count / 2), 0, count - 1);
            halfCount = render::slabHalfCount(args.slabMm, spacing);
            if (plane == 0)
                image = render::renderAxial(volume, index, centre, width, halfCount, args.slabMode);
            else if (plane == 1)
                image = render::renderCoronal(volume, index, centre, width, halfCount, args.slabMode);
            else
                image = render::renderSagittal(volume, index, centre, width, halfCount, args.slabMode);
        } else {
            halfCount = render::slabHalfCount(args.slabMm,
                                              std::min({volume.spacingX, volume.spacingY, volume.spacingZ}));
            image = render::renderOblique(volume, args.size, args.centre.value_or(render::volumeCentreMm(volume)),
                                          normalised(*args.u), normalised(*args.v),
                                          args.mmPerPixel.value_or(render::obliqueMmPerPixel(volume, args.size)),
                                          centre, width, halfCount, args.slabMode);
        }
        QImageWriter writer(args.out, "png");
        if (!writer.write(image))
            failure = QStringLiteral("Не удалось записать %1: %2").arg(args.out, writer.errorString());
    }
    const bool ok = failure.isEmpty();
    writeRecord(out, QJsonObject{
                         {QStringLiteral("ok"), ok},
                         {QStringLiteral("width"), ok ? image.width() : 0},
                         {QStringLiteral("height"), ok ? image.height() : 0},
                         {QStringLiteral("index"), ok && orthogonal ? QJsonValue(index) : QJsonValue()},
                         {QStringLiteral("half_count"), halfCount},
                         {QStringLiteral("window_center"), centre},
                         {QStringLiteral("window_width"), width},
                     });
    if (!ok) {
        writeText(err, failure);
        return RuntimeFailure;
    }
    return Success;
}

} // namespace

bool buildIndexedSeriesVolume(const QString &databasePath, const QString &seriesUid, bool orientation,
                              render::Volume &volume, QString &message)
{
    if (!QFileInfo::exists(databasePath)) {
        message = QStringLiteral("Файл индекса не найден: %1").arg(databasePath);
        return false;
    }
    db::Database database(nullptr);
    if (!database.open(databasePath)) {
        message = QStringLiteral("Не удалось открыть индекс %1: %2").arg(databasePath, database.lastError());
        return false;
    }
    const QList<db::SliceRef> rows = database.listInstances(seriesUid);
    const int hint = render::planeHintFromText(seriesDescription(database, seriesUid));
    if (!database.lastError().isEmpty()) {
        message = QStringLiteral("Не удалось прочитать индекс %1: %2").arg(databasePath, database.lastError());
        return false;
    }
    const auto use = orientation ? render::SliceOrientationUse::Keep : render::SliceOrientationUse::Drop;
    volume = render::buildVolume(render::seriesVolumeSlices(rows, use), message, hint);
    return volume.isValid();
}

bool isVolumeCommand(const QString &command)
{
    return command == QLatin1String("volume") || command == QLatin1String("mpr");
}

int runVolumeCommand(const QString &command, const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    const VolumeArguments args = parse(arguments);
    int code = -1;
    if (!args.problem.isEmpty())
        writeText(err, args.problem);
    else if (command == QLatin1String("volume"))
        code = volumeVerb(args, out, err);
    else
        code = mprVerb(args, out, err);
    if (code < 0) {
        std::fputs(volumeUsageText, err);
        code = UsageError;
    }
    std::fflush(out);
    return code;
}

} // namespace velmaris::cli
