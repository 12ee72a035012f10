#include "cli/CliCommands.h"

#include "cli/JsonRecords.h"
#include "db/Database.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomTagEntry.h"
#include "dicom/FolderScan.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace velmaris::cli {

namespace {

const char usageText[] =
    "Использование:\n"
    "  norvane-cli summary FILE...\n"
    "  norvane-cli import DIR --db FILE\n"
    "  norvane-cli studies --db FILE\n"
    "  norvane-cli series --db FILE STUDY_UID\n"
    "  norvane-cli instances --db FILE SERIES_UID\n"
    "  norvane-cli tags FILE\n";

// Summaries are written to the index in batches: one transaction per batch
// instead of one per statement.
constexpr int importBatchSize = 500;

class Output
{
public:
    Output(std::FILE *out, std::FILE *err) : m_out(out), m_err(err) {}

    void record(const QJsonObject &object)
    {
        const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_out);
    }

    int fail(const QString &message)
    {
        const QByteArray text = message.toUtf8() + '\n';
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), m_err);
        return RuntimeFailure;
    }

    int usage(const QString &message = QString())
    {
        if (!message.isEmpty())
            fail(message);
        std::fputs(usageText, m_err);
        return UsageError;
    }

private:
    std::FILE *m_out;
    std::FILE *m_err;
};

// The arguments of one command: positional values and the --db option.
struct Arguments
{
    QStringList positional;
    std::optional<QString> database;
    QString problem;
};

Arguments parse(const QStringList &arguments)
{
    Arguments parsed;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("--db")) {
            if (i + 1 >= arguments.size()) {
                parsed.problem = QStringLiteral("Не указан файл индекса после --db");
                break;
            }
            parsed.database = arguments.at(++i);
        } else if (arg.startsWith(QLatin1String("--db="))) {
            parsed.database = arg.mid(5);
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            parsed.problem = QStringLiteral("Неизвестный параметр: %1").arg(arg);
            break;
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
    if (args.positional.isEmpty() || args.database)
        return output.usage();
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
    if (args.positional.size() != 1 || !args.database)
        return output.usage();
    const QString folder = args.positional.first();
    if (!QFileInfo(folder).isDir())
        return output.fail(QStringLiteral("Путь не существует или не является папкой: %1").arg(folder));

    db::Database database(nullptr);
    if (!database.open(*args.database)) {
        return output.fail(QStringLiteral("Не удалось открыть индекс %1: %2")
                               .arg(*args.database, database.lastError()));
    }

    int stored = 0;
    int rejected = 0;
    QVector<dicom::DicomFileSummary> batch;
    batch.reserve(importBatchSize);
    auto flush = [&] {
        if (batch.isEmpty())
            return;
        const int ok = database.insertSummaries(batch);
        stored += ok;
        rejected += static_cast<int>(batch.size()) - ok;
        batch.clear();
    };

    dicom::FolderScanHandlers handlers;
    handlers.fileFound = [&](const dicom::DicomFileSummary &s) {
        batch.append(s);
        if (batch.size() >= importBatchSize)
            flush();
    };
    dicom::FolderScanResult result;
    QString error;
    if (!dicom::scanFolder(folder, handlers, &result, &error))
        return output.fail(error);
    flush();

    // A summary the index refused was not added, whatever the walk found.
    output.record(QJsonObject{
        {QStringLiteral("imported"), stored},
        {QStringLiteral("skipped"), result.skipped + rejected},
    });
    return Success;
}

// The listing commands: open the index, print each record of one query.
template<typename Query>
int listing(const Arguments &args, qsizetype positionalCount, Output &output, Query query)
{
    if (args.positional.size() != positionalCount || !args.database)
        return output.usage();
    db::Database database(nullptr);
    QString error;
    if (!openExisting(database, *args.database, &error))
        return output.fail(error);
    for (const auto &record : query(database))
        output.record(toJson(record));
    return Success;
}

int tags(const Arguments &args, Output &output)
{
    if (args.positional.size() != 1 || args.database)
        return output.usage();
    QString error;
    const QList<dicom::DicomTagEntry> entries = dicom::listTags(args.positional.first(), &error);
    if (!error.isEmpty())
        return output.fail(error);
    for (const dicom::DicomTagEntry &entry : entries)
        output.record(toJson(entry));
    return Success;
}

} // namespace

int runCommand(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    Output output(out, err);
    if (arguments.isEmpty())
        return output.usage();
    const QString command = arguments.first();
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
    else
        code = output.usage(QStringLiteral("Неизвестная команда: %1").arg(command));
    std::fflush(out);
    return code;
}

} // namespace velmaris::cli
