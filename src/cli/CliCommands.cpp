#include "cli/CliCommands.h"

#include "cli/CliOutput.h"
#include "cli/JsonRecords.h"
#include "cli/PacsCommands.h"
#include "cli/ServeCommand.h"
#include "cli/PngFile.h"
#include "cli/ExtendedVerbs.h"
#include "db/Database.h"
#include "db/ImportService.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomTagEntry.h"
#include "dicom/FrameDecoding.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <optional>
#include <string>

namespace velmaris::cli {

namespace {

const char usageText[] =
    "Использование:\n"
    "  norvane-cli summary FILE...\n"
    "  norvane-cli import DIR --db FILE\n"
    "  norvane-cli studies --db FILE\n"
    "  norvane-cli series --db FILE STUDY_UID\n"
    "  norvane-cli instances --db FILE SERIES_UID\n"
    "  norvane-cli tags FILE\n"
    "  norvane-cli values FILE [--frame N] --out RAW\n"
    "  norvane-cli render FILE [--frame N] [--window CENTER WIDTH] --out PNG\n"
    PACS_USAGE_TEXT SERVE_USAGE_TEXT;

// Summaries are written to the index in batches: one transaction per batch
// instead of one per statement.
constexpr int importBatchSize = 500;

struct WindowArgument
{
    double center = 0.0;
    double width = 0.0;
};

// The arguments of one command: positional values and the options --db FILE,
// --frame N, --window CENTER WIDTH and --out FILE (each also as --name=value,
// except --window). Which command accepts which option is its own check.
struct Arguments
{
    QStringList positional;
    std::optional<QString> database;
    std::optional<int> frame;
    std::optional<WindowArgument> window;
    std::optional<QString> out;
    QString problem;

    // Any of the options only the image commands take.
    bool hasImageOptions() const { return frame || window || out; }
};

std::optional<double> finiteNumber(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

Arguments parse(const QStringList &arguments)
{
    Arguments parsed;
    // The value of an option given as "--name VALUE" or "--name=VALUE".
    auto optionValue = [&](qsizetype &i, const QLatin1String &name, const QString &missing)
        -> std::optional<QString> {
        const QString &arg = arguments.at(i);
        if (arg == name) {
            if (i + 1 >= arguments.size()) {
                parsed.problem = missing;
                return std::nullopt;
            }
            return arguments.at(++i);
        }
        return arg.mid(name.size() + 1);
    };
    auto matches = [](const QString &arg, const QLatin1String &name) {
        return arg == name || arg.startsWith(name + QLatin1Char('='));
    };
    for (qsizetype i = 0; i < arguments.size() && parsed.problem.isEmpty(); ++i) {
        const QString &arg = arguments.at(i);
        if (matches(arg, QLatin1String("--db"))) {
            if (const auto value = optionValue(i, QLatin1String("--db"),
                                               QStringLiteral("Не указан файл индекса после --db")))
                parsed.database = *value;
        } else if (matches(arg, QLatin1String("--out"))) {
            if (const auto value = optionValue(i, QLatin1String("--out"),
                                               QStringLiteral("Не указан файл после --out"))) {
                if (value->isEmpty())
                    parsed.problem = QStringLiteral("Не указан файл после --out");
                else
                    parsed.out = *value;
            }
        } else if (matches(arg, QLatin1String("--frame"))) {
            if (const auto value = optionValue(i, QLatin1String("--frame"),
                                               QStringLiteral("Не указан номер кадра после --frame"))) {
                bool ok = false;
                const int frame = value->toInt(&ok, 10);
                if (ok)
                    parsed.frame = frame;
                else
                    parsed.problem = QStringLiteral("Неверный номер кадра: %1").arg(*value);
            }
        } else if (arg == QLatin1String("--window")) {
            if (i + 2 >= arguments.size()) {
                parsed.problem = QStringLiteral("После --window нужны центр и ширина окна");
                break;
            }
            const auto center = finiteNumber(arguments.at(i + 1));
            const auto width = finiteNumber(arguments.at(i + 2));
            if (!center || !width) {
                parsed.problem = QStringLiteral("Неверное окно: %1 %2").arg(arguments.at(i + 1), arguments.at(i + 2));
                break;
            }
            parsed.window = WindowArgument{*center, *width};
            i += 2;
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            parsed.problem = QStringLiteral("Неизвестный параметр: %1").arg(arg);
        } else {
            parsed.positional.append(arg);
        }
    }
    return parsed;
}

// Opens an existing index for reading commands; a missing file is an error
// rather than a reason to create an empty index.
bool openExisting(db::Database &database, const QString &path, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("Файл индекса не найден: %1").arg(path);
        return false;
    }
    if (!database.open(path)) {
        *error = QStringLiteral("Не удалось открыть индекс %1: %2").arg(path, database.lastError());
        return false;
    }
    return true;
}

int summary(const Arguments &args, Output &output)
{
    if (args.positional.isEmpty() || args.database || args.hasImageOptions())
        return output.usage();
    // A named pipe or device would make the reader wait for ever.
    for (const QString &path : args.positional) {
        const QFileInfo info(path);
        if (info.exists() && !info.isFile())
            return output.fail(QStringLiteral("Не является обычным файлом: %1").arg(path));
    }
    for (const QString &path : args.positional) {
        const auto summary = dicom::readSummary(path);
        output.record(QJsonObject{
            {QStringLiteral("file_path"), QFileInfo(path).absoluteFilePath()},
            {QStringLiteral("is_dicom"), dicom::isDicomFile(path)},
            {QStringLiteral("summary"), summary ? QJsonValue(toJson(*summary)) : QJsonValue()},
        });
    }
    return Success;
}

int import(const Arguments &args, Output &output)
{
    if (args.positional.size() != 1 || !args.database || args.hasImageOptions())
        return output.usage();
    const QString folder = args.positional.first();
    if (!QFileInfo(folder).isDir())
        return output.fail(QStringLiteral("Путь не существует или не является папкой: %1").arg(folder));

    db::Database database(nullptr);
    if (!database.open(*args.database)) {
        return output.fail(QStringLiteral("Не удалось открыть индекс %1: %2")
                               .arg(*args.database, database.lastError()));
    }

    db::ImportOutcome outcome;
    QString error;
    if (!db::ImportService::importFolder(&database, folder, importBatchSize, &outcome, &error))
        return output.fail(error);

    // A summary the index refused was not added, whatever the walk found.
    output.record(QJsonObject{
        {QStringLiteral("imported"), outcome.added},
        {QStringLiteral("skipped"), outcome.skipped},
    });
    // Files the walk found but the index did not take are a failure of the
    // index (full disk, damage), not files to pass over quietly.
    if (outcome.refused > 0)
        return output.fail(
            QStringLiteral("Индекс не принял %1 файл(ов): %2").arg(outcome.refused).arg(outcome.refusal));
    return Success;
}

// The listing commands: open the index, print each record of one query.
template<typename Query>
int listing(const Arguments &args, qsizetype positionalCount, Output &output, Query query)
{
    if (args.positional.size() != positionalCount || !args.database || args.hasImageOptions())
        return output.usage();
    db::Database database(nullptr);
    QString error;
    if (!openExisting(database, *args.database, &error))
        return output.fail(error);
    const auto records = query(database);
    // An empty answer and a failed query look alike; only the index knows.
    if (!database.lastError().isEmpty())
        return output.fail(QStringLiteral("Не удалось прочитать индекс %1: %2")
                               .arg(*args.database, database.lastError()));
    for (const auto &record : records)
        output.record(toJson(record));
    return Success;
}

int tags(const Arguments &args, Output &output)
{
    if (args.positional.size() != 1 || args.database || args.hasImageOptions())
        return output.usage();
    QString error;
    const QList<dicom::DicomTagEntry> entries = dicom::listTags(args.positional.first(), &error);
    if (!error.isEmpty())
        return output.fail(error);
    for (const dicom::DicomTagEntry &entry : entries)
        output.record(toJson(entry));
    return Success;
}

// The measured values of one frame as little-endian float64, row-major.
int values(const Arguments &args, Output &output)
{
    if (args.positional.size() != 1 || args.database || args.window || !args.out)
        return output.usage();
    dicom::DecodedFrame frame;
    QString error;
    bool ok = dicom::loadDecodedFrame(frame, args.positional.first(), args.frame.value_or(0), &error);
    if (ok) {
        QByteArray bytes(qsizetype(frame.values.size() * sizeof(double)), Qt::Uninitialized);
        char *at = bytes.data();
        for (const double value : frame.values) {
            quint64 bits = 0;
            std::memcpy(&bits, &value, sizeof bits);
            qToLittleEndian(bits, at);
            at += sizeof bits;
        }
        QSaveFile file(*args.out);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            ok = false;
            error = QStringLiteral("Не удалось записать %1: %2").arg(*args.out, file.errorString());
        }
    }
    output.record(QJsonObject{
        {QStringLiteral("ok"), ok},
        {QStringLiteral("width"), ok ? frame.width : 0},
        {QStringLiteral("height"), ok ? frame.height : 0},
        {QStringLiteral("error"), error},
    });
    if (!ok)
        return output.fail(error);
    return Success;
}

// One frame drawn under a window (given, the file's, or min-max) as PNG.
int renderPicture(const Arguments &args, Output &output)
{
    if (args.positional.size() != 1 || args.database || !args.out)
        return output.usage();
    const QString path = args.positional.first();
    dicom::WindowRequest window;
    if (args.window) {
        window.center = args.window->center;
        window.width = args.window->width;
        window.given = true;
    }
    // The picture itself, without QImage: the command line links no GUI library.
    const dicom::RenderedPicture frame = dicom::renderPicture(path, args.frame.value_or(0), window);
    QString problem;
    if (!frame.ok) {
        problem = QStringLiteral("Не удалось декодировать кадр: %1").arg(path);
    } else {
        QString reason;
        if (!writePng(*args.out, frame, &reason))
            problem = QStringLiteral("Не удалось записать %1: %2").arg(*args.out, reason);
    }
    const bool ok = problem.isEmpty();
    QString format;
    if (frame.ok)
        format = frame.colour ? QStringLiteral("RGB888") : QStringLiteral("Grayscale8");
    output.record(QJsonObject{
        {QStringLiteral("ok"), ok},
        {QStringLiteral("window_center"), frame.windowCenter},
        {QStringLiteral("window_width"), frame.windowWidth},
        {QStringLiteral("frame_count"), frame.frameCount},
        {QStringLiteral("format"), format},
    });
    if (!ok)
        return output.fail(problem);
    return Success;
}

} // namespace

const char *fullUsageText()
{
    // The volume verbs keep their usage text beside their names.
    static const std::string text = std::string(usageText) + volumeUsageText + vrtUsageText + cprUsageText;
    return text.c_str();
}

int runCommand(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    Output output(out, err, fullUsageText());
    if (arguments.isEmpty())
        return output.usage();
    const QString command = arguments.first();
    if (isExtendedVerb(command))
        return runExtendedVerb(arguments, out, err);
    const Arguments args = parse(arguments.mid(1));
    if (!args.problem.isEmpty())
        return output.usage(args.problem);

    int code = UsageError;
    if (command == QLatin1String("summary"))
        code = summary(args, output);
    else if (command == QLatin1String("import"))
        code = import(args, output);
    else if (command == QLatin1String("studies"))
        code = listing(args, 0, output, [](db::Database &d) { return d.listStudies(); });
    else if (command == QLatin1String("series"))
        code = listing(args, 1, output, [&](db::Database &d) { return d.listSeries(args.positional.first()); });
    else if (command == QLatin1String("instances"))
        code = listing(args, 1, output, [&](db::Database &d) { return d.listInstances(args.positional.first()); });
    else if (command == QLatin1String("tags"))
        code = tags(args, output);
    else if (command == QLatin1String("values"))
        code = values(args, output);
    else if (command == QLatin1String("render"))
        code = renderPicture(args, output);
    else
        code = output.usage(QStringLiteral("Неизвестная команда: %1").arg(command));
    std::fflush(out);
    return code;
}

} // namespace velmaris::cli
