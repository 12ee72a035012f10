#include "cli/CprCommands.h"
#include "cli/ExtendedVerbs.h"

#include "cli/CliOutput.h"
#include "cli/VolumeCommands.h"
#include "volume/CprState.h"
#include "volume/CurvedMpr.h"
#include "volume/VesselTrace.h"

#include <QImageWriter>
#include <QJsonArray>

#include <cmath>
#include <optional>

namespace velmaris::cli {

namespace {

struct CprArguments
{
    QStringList positional;
    QString database;
    QString out;
    QString params;
    std::optional<std::vector<render::Vec3d>> points;
    std::optional<double> widthMm, stepMm, thicknessMm, rotationDeg, offsetMm, tension;
    std::optional<int> slabMode;
    std::optional<std::array<double, 2>> window;
    std::optional<render::Vec3d> from, to;
    QString problem;
};

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<render::Vec3d> point(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return std::nullopt;
    render::Vec3d result{};
    for (int i = 0; i < 3; ++i) {
        const auto value = number(parts.at(i));
        if (!value || std::fabs(*value) > 1e6)
            return std::nullopt;
        result[std::size_t(i)] = *value;
    }
    return result;
}

CprArguments parse(const QStringList &arguments)
{
    CprArguments parsed;
    for (qsizetype i = 0; i < arguments.size() && parsed.problem.isEmpty(); ++i) {
        const QString arg = arguments.at(i);
        auto value = [&]() -> QString {
            if (i + 1 >= arguments.size()) {
                parsed.problem = QStringLiteral("Не указано значение после %1").arg(arg);
                return QString();
            }
            return arguments.at(++i);
        };
        auto bad = [&](const QString &text) {
            if (parsed.problem.isEmpty())
                parsed.problem = QStringLiteral("Неверное значение %1: %2").arg(arg, text);
        };
        // Non-negative numbers with a sane ceiling: a huge width or a tiny
        // step is refused by the reconstruction itself.
        auto numeric = [&](std::optional<double> &target, double low, double high) {
            const QString text = value();
            const auto n = number(text);
            if (!n || *n < low || *n > high)
                bad(text);
            else
                target = *n;
        };
        if (arg == QLatin1String("--db")) {
            parsed.database = value();
        } else if (arg == QLatin1String("--out")) {
            parsed.out = value();
        } else if (arg == QLatin1String("--params")) {
            parsed.params = value();
        } else if (arg == QLatin1String("--points")) {
            const QString text = value();
            std::vector<render::Vec3d> list;
            for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const auto p = point(part);
                if (!p) {
                    bad(text);
                    break;
                }
                list.push_back(*p);
            }
            parsed.points = list;
        } else if (arg == QLatin1String("--from") || arg == QLatin1String("--to")) {
            const QString text = value();
            const auto p = point(text);
            if (!p)
                bad(text);
            else
                (arg == QLatin1String("--from") ? parsed.from : parsed.to) = *p;
        } else if (arg == QLatin1String("--width-mm")) {
            numeric(parsed.widthMm, 1e-3, 1e5);
        } else if (arg == QLatin1String("--step-mm")) {
            numeric(parsed.stepMm, 1e-6, 1e5);
        } else if (arg == QLatin1String("--thickness-mm")) {
            numeric(parsed.thicknessMm, 0.0, 500.0);
        } else if (arg == QLatin1String("--rotation")) {
            numeric(parsed.rotationDeg, -1e6, 1e6);
        } else if (arg == QLatin1String("--offset-mm")) {
            numeric(parsed.offsetMm, -1e5, 1e5);
        } else if (arg == QLatin1String("--tension")) {
            numeric(parsed.tension, -10.0, 10.0);
        } else if (arg == QLatin1String("--slab-mode")) {
            const QString text = value();
            static const QStringList names{QStringLiteral("mip"), QStringLiteral("minip"), QStringLiteral("mean")};
            if (names.contains(text))
                parsed.slabMode = int(names.indexOf(text)) + 1;
            else
                bad(text);
        } else if (arg == QLatin1String("--window")) {
            if (i + 2 >= arguments.size()) {
                parsed.problem = QStringLiteral("После --window нужны центр и ширина окна");
                break;
            }
            const auto centre = number(arguments.at(i + 1));
            const auto width = number(arguments.at(i + 2));
            if (!centre || !width || *width < 0.0) {
                parsed.problem = QStringLiteral("Неверное окно: %1 %2").arg(arguments.at(i + 1), arguments.at(i + 2));
                break;
            }
            parsed.window = std::array<double, 2>{*centre, *width};
            i += 2;
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            parsed.problem = QStringLiteral("Неизвестный параметр: %1").arg(arg);
        } else {
            parsed.positional.append(arg);
        }
    }
    return parsed;
}

QJsonArray jsonPoints(const std::vector<render::Vec3d> &points)
{
    QJsonArray list;
    for (const render::Vec3d &p : points)
        list.append(QJsonArray{p[0], p[1], p[2]});
    return list;
}

int cprVerb(const CprArguments &args, Output &output)
{
    if (args.positional.size() != 1 || args.database.isEmpty() || args.out.isEmpty()
        || args.points.has_value() == !args.params.isEmpty() || args.from || args.to)
        return output.usage();
    render::CprParameters parameters;
    QString message;
    if (!args.params.isEmpty() && !render::loadCprState(args.params, parameters, message))
        return output.fail(message);
    if (args.points)
        parameters.controlPoints = *args.points;
    if (parameters.controlPoints.size() < 2)
        return output.usage(QStringLiteral("Нужно не меньше двух контрольных точек"));
    parameters.widthMm = args.widthMm.value_or(parameters.widthMm);
    parameters.thicknessMm = args.thicknessMm.value_or(parameters.thicknessMm);
    parameters.slabMode = args.slabMode.value_or(args.thicknessMm ? 1 : parameters.slabMode);
    parameters.rotationDeg = args.rotationDeg.value_or(parameters.rotationDeg);
    parameters.offsetMm = args.offsetMm.value_or(parameters.offsetMm);
    parameters.smoothing = args.tension.value_or(parameters.smoothing);
    if (args.window) {
        parameters.windowCenter = (*args.window)[0];
        parameters.windowWidth = (*args.window)[1];
    }

    render::Volume volume;
    if (!buildIndexedSeriesVolume(args.database, args.positional.first(), true, volume, message))
        return output.fail(message);
    if (!message.isEmpty())
        output.note(message);
    // Square pixels by default: one step per pixel across the line.
    const double step = args.stepMm.value_or(render::curvedMprPixelMm(volume));
    const render::CurvedMprImage cpr = render::buildCurvedMpr(volume, parameters, step);
    QString failure = cpr.message;
    if (!cpr.isNull()) {
        QImageWriter writer(args.out, "png");
        if (!writer.write(cpr.image))
            failure = QStringLiteral("Не удалось записать %1: %2").arg(args.out, writer.errorString());
    }
    const bool ok = !cpr.isNull() && failure.isEmpty();
    QJsonObject record{
        {QStringLiteral("ok"), ok},
        {QStringLiteral("width"), ok ? cpr.image.width() : 0},
        {QStringLiteral("height"), ok ? cpr.image.height() : 0},
        {QStringLiteral("length_mm"), cpr.lengthMm},
        {QStringLiteral("layout"), cpr.layout == render::CprLayout::Vertical ? QStringLiteral("vertical")
                                                                             : QStringLiteral("horizontal")},
    };
    if (!ok)
        record.insert(QStringLiteral("message"), failure);
    output.record(record);
    return ok ? Success : output.fail(failure);
}

int traceVerb(const CprArguments &args, Output &output)
{
    if (args.positional.size() != 1 || args.database.isEmpty() || !args.from || !args.to || args.points
        || !args.params.isEmpty() || !args.out.isEmpty())
        return output.usage();
    render::Volume volume;
    QString message;
    if (!buildIndexedSeriesVolume(args.database, args.positional.first(), true, volume, message))
        return output.fail(message);
    render::VesselTrace trace;
    const bool ok = render::traceVessel(volume, *args.from, *args.to, render::VesselTraceOptions{}, trace, message);
    QJsonObject record{
        {QStringLiteral("ok"), ok},
        {QStringLiteral("length_mm"), trace.lengthMm},
        {QStringLiteral("points"), jsonPoints(trace.points)},
        {QStringLiteral("control_points"), jsonPoints(trace.controlPoints)},
    };
    if (!ok)
        record.insert(QStringLiteral("message"), message);
    output.record(record);
    return ok ? Success : output.fail(message);
}

} // namespace

bool isCprCommand(const QString &command)
{
    return command == QLatin1String("cpr") || command == QLatin1String("trace");
}

int runCprCommand(const QString &command, const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    Output output(out, err, cprUsageText);
    const CprArguments args = parse(arguments);
    int code = 0;
    if (!args.problem.isEmpty())
        code = output.usage(args.problem);
    else if (command == QLatin1String("cpr"))
        code = cprVerb(args, output);
    else
        code = traceVerb(args, output);
    std::fflush(out);
    return code;
}

} // namespace velmaris::cli
