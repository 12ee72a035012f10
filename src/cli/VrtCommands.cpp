#include "cli/VrtCommands.h"

#include "cli/CliCommands.h"
#include "cli/ExtendedVerbs.h"
#include "db/Database.h"
#include "ui/volume/GlVolumeRenderer.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/SoftwareVolumeRenderer.h"
#include "volume/VolumeBuilder.h"
#include "volume/VrtPresetSettings.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

namespace velmaris::cli {

namespace {

struct VrtArguments
{
    QString seriesUid;
    QString database;
    QString out;
    QString preset;
    render::ProjectionMode mode = render::ProjectionMode::Vrt;
    bool modeGiven = false;
    render::VolumeViewPreset view = render::VolumeViewPreset::Front;
    QSize size{512, 512};
    QString renderer = QStringLiteral("software");
    QString problem;
};

void writeLine(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fputc('\n', stream);
}

VrtArguments parse(const QStringList &arguments)
{
    VrtArguments parsed;
    static const QStringList modes{QStringLiteral("mip"), QStringLiteral("minip"), QStringLiteral("mean")};
    static const QStringList views{QStringLiteral("front"), QStringLiteral("back"), QStringLiteral("right"),
                                   QStringLiteral("left"),  QStringLiteral("top"),  QStringLiteral("bottom")};
    static const QStringList renderers{QStringLiteral("software"), QStringLiteral("opengl"), QStringLiteral("auto")};
    for (qsizetype i = 0; i < arguments.size() && parsed.problem.isEmpty(); ++i) {
        const QString arg = arguments.at(i);
        if (!arg.startsWith(QLatin1String("--"))) {
            if (!parsed.seriesUid.isEmpty())
                parsed.problem = QStringLiteral("Лишний аргумент: %1").arg(arg);
            parsed.seriesUid = arg;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            parsed.problem = QStringLiteral("Не указано значение после %1").arg(arg);
            break;
        }
        const QString value = arguments.at(++i);
        auto bad = [&] { parsed.problem = QStringLiteral("Неверное значение %1: %2").arg(arg, value); };
        if (arg == QLatin1String("--db")) {
            parsed.database = value;
        } else if (arg == QLatin1String("--out")) {
            parsed.out = value;
        } else if (arg == QLatin1String("--preset")) {
            parsed.preset = value;
        } else if (arg == QLatin1String("--mode")) {
            if (!modes.contains(value))
                bad();
            parsed.mode = render::ProjectionMode(modes.indexOf(value));
            parsed.modeGiven = true;
        } else if (arg == QLatin1String("--view")) {
            if (!views.contains(value))
                bad();
            parsed.view = render::VolumeViewPreset(views.indexOf(value));
        } else if (arg == QLatin1String("--renderer")) {
            if (!renderers.contains(value))
                bad();
            parsed.renderer = value;
        } else if (arg == QLatin1String("--size")) {
            const QStringList parts = value.split(QLatin1Char('x'));
            bool okW = false, okH = false;
            const int w = parts.size() == 2 ? parts.at(0).toInt(&okW) : 0;
            const int h = parts.size() == 2 ? parts.at(1).toInt(&okH) : 0;
            if (!okW || !okH || w < 1 || h < 1 || w > 8192 || h > 8192)
                bad();
            parsed.size = QSize(w, h);
        } else {
            parsed.problem = QStringLiteral("Неизвестный параметр: %1").arg(arg);
        }
    }
    if (parsed.problem.isEmpty() && (parsed.seriesUid.isEmpty() || parsed.database.isEmpty() || parsed.out.isEmpty()))
        parsed.problem = QStringLiteral("Нужны --db, SERIES_UID и --out");
    if (parsed.problem.isEmpty() && parsed.modeGiven && !parsed.preset.isEmpty())
        parsed.problem = QStringLiteral("--preset и --mode не указываются вместе");
    return parsed;
}

// The 3D window's volume of the series: frames without orientation, turned by
// the plane hint of the description.
bool buildVolume(const VrtArguments &args, render::Volume &volume, QString &message)
{
    if (!QFileInfo::exists(args.database)) {
        message = QStringLiteral("Файл индекса не найден: %1").arg(args.database);
        return false;
    }
    db::Database database(nullptr);
    if (!database.open(args.database)) {
        message = QStringLiteral("Не удалось открыть индекс %1: %2").arg(args.database, database.lastError());
        return false;
    }
    QString description;
    for (const db::StudyRecord &study : database.listStudies())
        for (const db::SeriesRecord &series : database.listSeries(study.study_instance_uid))
            if (series.series_instance_uid == args.seriesUid)
                description = series.series_description;
    const QList<db::SliceRef> rows = database.listInstances(args.seriesUid);
    if (!database.lastError().isEmpty()) {
        message = QStringLiteral("Не удалось прочитать индекс %1: %2").arg(args.database, database.lastError());
        return false;
    }
    volume = render::buildVolume(render::seriesVolumeSlices(rows, render::SliceOrientationUse::Drop), message,
                                 render::planeHintFromText(description));
    return volume.isValid();
}

} // namespace

bool isVrtCommand(const QString &command)
{
    return command == QLatin1String("vrt");
}

QStringList argumentList(int argc, char *argv[])
{
    QStringList list;
    for (int i = 1; i < argc; ++i)
        list.append(QString::fromLocal8Bit(argv[i]));
    return list;
}

bool vrtWantsOpenGl(const QStringList &arguments)
{
    if (arguments.isEmpty() || !isVrtCommand(arguments.first()))
        return false;
    const qsizetype at = arguments.indexOf(QStringLiteral("--renderer"));
    return at >= 0 && at + 1 < arguments.size() && arguments.at(at + 1) != QLatin1String("software");
}

int runVrtCommand(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    const VrtArguments args = parse(arguments);
    if (!args.problem.isEmpty()) {
        writeLine(err, args.problem.toUtf8());
        std::fputs(vrtUsageText, err);
        return UsageError;
    }
    auto volume = std::make_shared<render::Volume>();
    QString message;
    QString failure;
    QImage image;
    QString used;
    int steps = 0;
    qint64 ms = 0;
    if (!buildVolume(args, *volume, message)) {
        failure = message.isEmpty() ? QStringLiteral("неизвестная ошибка") : message;
    } else {
        if (!message.isEmpty())
            writeLine(err, message.toUtf8());
        render::VolumeRenderParameters parameters;
        parameters.camera = render::VolumeCameraState::forPreset(args.view);
        parameters.camera.level = (volume->minValue + volume->maxValue) / 2.0;
        parameters.camera.width = std::max(volume->maxValue - volume->minValue, 1.0);
        parameters.mode = args.mode;
        parameters.preset = render::presetByName(args.preset.isEmpty() ? QStringLiteral("Кости") : args.preset,
                                                 render::settings::customPresets());
        if (!args.preset.isEmpty() && parameters.preset.name != args.preset)
            writeLine(err, QStringLiteral("Пресет «%1» не найден — используется «%2»")
                               .arg(args.preset, parameters.preset.name)
                               .toUtf8());
        QElapsedTimer timer;
        if (args.renderer != QLatin1String("software")) {
            QString glError;
            QString notice;
            timer.start();
            if (renderVolumeWithOpenGl(*volume, parameters, args.size, image, &steps, glError, notice)) {
                used = QStringLiteral("opengl");
                if (!notice.isEmpty())
                    writeLine(err, notice.toUtf8());
            } else if (args.renderer == QLatin1String("auto")) {
                writeLine(err, QStringLiteral("OpenGL недоступен: %1 — используется программный рендерер")
                                   .arg(glError)
                                   .toUtf8());
            } else {
                failure = QStringLiteral("OpenGL недоступен: %1").arg(glError);
            }
        }
        if (used.isEmpty() && failure.isEmpty()) {
            timer.start();
            render::SoftwareVolumeRenderer renderer(volume);
            image = renderer.render(parameters, args.size, &steps);
            used = QStringLiteral("software");
        }
        ms = timer.isValid() ? timer.elapsed() : 0;
        if (failure.isEmpty()) {
            QImageWriter writer(args.out, "png");
            if (!writer.write(image))
                failure = QStringLiteral("Не удалось записать %1: %2").arg(args.out, writer.errorString());
        }
    }
    const bool ok = failure.isEmpty();
    writeLine(out, QJsonDocument(QJsonObject{
                                     {QStringLiteral("ok"), ok},
                                     {QStringLiteral("width"), ok ? image.width() : 0},
                                     {QStringLiteral("height"), ok ? image.height() : 0},
                                     {QStringLiteral("renderer"), ok ? used : QString()},
                                     {QStringLiteral("steps"), ok ? steps : 0},
                                     {QStringLiteral("ms"), ok ? ms : 0},
                                 })
                       .toJson(QJsonDocument::Compact));
    std::fflush(out);
    if (!ok) {
        writeLine(err, failure.toUtf8());
        return RuntimeFailure;
    }
    return Success;
}

} // namespace velmaris::cli
