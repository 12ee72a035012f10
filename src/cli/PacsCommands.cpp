#include "cli/PacsCommands.h"

#include "cli/CliOutput.h"
#include "db/Database.h"
#include "db/IndexWriter.h"
#include "dicom/DicomSummaryReader.h"
#include "pacs/PacsClient.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QJsonObject>
#include <QSettings>

#include <optional>

namespace velmaris::cli {

namespace {

const QStringList pacsCommands{QStringLiteral("echo"), QStringLiteral("find"), QStringLiteral("get"),
                               QStringLiteral("move"), QStringLiteral("send")};

// Every option of the PACS verbs takes one value ("--name VALUE" or
// "--name=VALUE"); which verb accepts which is checked by the verb.
struct PacsArguments
{
    QStringList positional;
    QHash<QString, QString> options;
    QString problem;

    bool has(const char *name) const { return options.contains(QLatin1String(name)); }
    QString value(const char *name) const { return options.value(QLatin1String(name)); }
};

PacsArguments parse(const QStringList &arguments, const QStringList &allowed)
{
    PacsArguments parsed;
    for (qsizetype i = 0; i < arguments.size() && parsed.problem.isEmpty(); ++i) {
        const QString &arg = arguments.at(i);
        if (!arg.startsWith(QLatin1String("--")) || arg.size() == 2) {
            parsed.positional.append(arg);
            continue;
        }
        const qsizetype equals = arg.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? arg : arg.left(equals);
        if (!allowed.contains(name)) {
            parsed.problem = QStringLiteral("Неизвестный параметр: %1").arg(name);
        } else if (equals >= 0) {
            parsed.options.insert(name, arg.mid(equals + 1));
        } else if (i + 1 < arguments.size()) {
            parsed.options.insert(name, arguments.at(++i));
        } else {
            parsed.problem = QStringLiteral("Не указано значение после %1").arg(name);
        }
    }
    return parsed;
}

// The node and the local side from the options; false with the usage problem.
bool resolveNode(const PacsArguments &args, pacs::PacsServerConfig *node, pacs::PacsConfig *local, QString *problem)
{
    *local = savedPacsConfig();
    if (args.has("--local-aet"))
        local->localAeTitle = args.value("--local-aet");
    if (args.has("--node")) {
        if (args.has("--host") || args.has("--port") || args.has("--aet")) {
            *problem = QStringLiteral("--node нельзя сочетать с --host, --port и --aet");
            return false;
        }
        const QString wanted = args.value("--node");
        bool isIndex = false;
        const int index = wanted.toInt(&isIndex, 10);
        for (int i = 0; i < local->servers.size(); ++i) {
            const pacs::PacsServerConfig &server = local->servers.at(i);
            if ((isIndex && i == index) || (!isIndex && (server.description == wanted || server.aeTitle == wanted))) {
                *node = server;
                return true;
            }
        }
        *problem = QStringLiteral("В настройках PACS нет сервера %1").arg(wanted);
        return false;
    }
    if (!args.has("--host") || !args.has("--port") || !args.has("--aet")) {
        *problem = QStringLiteral("Укажите узел: --host, --port и --aet или --node");
        return false;
    }
    bool ok = false;
    const int port = args.value("--port").toInt(&ok, 10);
    if (!ok || port < 1 || port > 65535) {
        *problem = QStringLiteral("Неверный порт: %1").arg(args.value("--port"));
        return false;
    }
    node->host = args.value("--host");
    node->port = port;
    node->aeTitle = args.value("--aet");
    return true;
}

QJsonObject toJson(const pacs::StudyResult &study)
{
    return QJsonObject{
        {QStringLiteral("patient_name"), study.patientName},
        {QStringLiteral("patient_id"), study.patientId},
        {QStringLiteral("study_date"), study.studyDate},
        {QStringLiteral("study_time"), study.studyTime},
        {QStringLiteral("study_description"), study.studyDescription},
        {QStringLiteral("modalities_in_study"), study.modalitiesInStudy},
        {QStringLiteral("study_instance_uid"), study.studyInstanceUid},
        {QStringLiteral("accession_number"), study.accessionNumber},
        {QStringLiteral("number_of_series"), study.numberOfSeries},
        {QStringLiteral("number_of_instances"), study.numberOfInstances},
    };
}

int echo(const pacs::PacsServerConfig &node, const pacs::PacsConfig &local, Output &output)
{
    QString error;
    QElapsedTimer timer;
    timer.start();
    if (!pacs::echoServer(node, local, &error))
        return output.fail(error);
    output.record(QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("elapsed_ms"), timer.elapsed()}});
    return Success;
}

int find(const PacsArguments &args, const pacs::PacsServerConfig &node, const pacs::PacsConfig &local,
         Output &output)
{
    const pacs::StudyQuery query{args.value("--name"), args.value("--patient-id"), args.value("--modalities"),
                                 args.value("--from"), args.value("--to")};
    QString error;
    const QList<pacs::StudyResult> results = pacs::findStudies(node, local, query, &error);
    for (const pacs::StudyResult &study : results)
        output.record(toJson(study));
    return error.isEmpty() ? Success : output.fail(error);
}

int get(const PacsArguments &args, const pacs::PacsServerConfig &node, const pacs::PacsConfig &local,
        Output &output)
{
    db::Database database(nullptr);
    std::optional<db::IndexWriter> writer;
    if (args.has("--db")) {
        if (!database.open(args.value("--db")))
            return output.fail(QStringLiteral("Не удалось открыть индекс %1: %2")
                                   .arg(args.value("--db"), database.lastError()));
        writer.emplace(&database);
    }
    QString error;
    int stored = 0;
    int unreadable = 0;
    const bool ok = pacs::getStudy(node, local, args.positional.first(), args.value("--out"), &stored, &error,
                                   [&](const QString &path) {
                                       output.record(QJsonObject{{QStringLiteral("file_path"), path}});
                                       if (!writer)
                                           return;
                                       if (const auto summary = dicom::readSummary(path))
                                           writer->add(*summary);
                                       else
                                           ++unreadable;
                                   });
    QJsonObject result{{QStringLiteral("stored"), stored}};
    if (writer) {
        writer->flush();
        result.insert(QStringLiteral("indexed"), writer->stored());
    }
    output.record(result);
    if (!ok)
        return output.fail(error);
    if (writer && (writer->rejected() > 0 || unreadable > 0))
        return output.fail(QStringLiteral("Индекс не принял %1 файл(ов): %2")
                               .arg(writer->rejected() + unreadable)
                               .arg(writer->lastRefusal()));
    return Success;
}

int move(const PacsArguments &args, const pacs::PacsServerConfig &node, pacs::PacsConfig local, Output &output)
{
    if (args.has("--dest"))
        local.moveDestinationAeTitle = args.value("--dest");
    QString error;
    if (!pacs::moveStudy(node, local, args.positional.first(), &error))
        return output.fail(error);
    const QString destination = local.moveDestinationAeTitle.isEmpty() ? local.localAeTitle
                                                                       : local.moveDestinationAeTitle;
    output.record(QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("destination"), destination}});
    return Success;
}

int send(const PacsArguments &args, const pacs::PacsServerConfig &node, const pacs::PacsConfig &local,
         Output &output)
{
    QStringList files;
    for (const QString &path : args.positional) {
        if (QFileInfo(path).isDir()) {
            QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
            QStringList found;
            while (it.hasNext())
                found.append(it.next());
            found.sort(); // the same order on every run
            files += found;
        } else {
            files.append(path);
        }
    }
    QString error;
    const bool ok = pacs::storeFiles(node, local, files, &error, [&output](int done, int total) {
        output.note(QStringLiteral("%1/%2").arg(done).arg(total));
    });
    output.record(QJsonObject{{QStringLiteral("ok"), ok}, {QStringLiteral("total"), files.size()}});
    return ok ? Success : output.fail(error);
}

} // namespace

pacs::PacsConfig savedPacsConfig()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Brennick"),
                       QStringLiteral("Norvane"));
    return pacs::loadPacsConfig(settings);
}

bool isPacsCommand(const QString &command)
{
    return pacsCommands.contains(command);
}

int runPacsCommand(const QString &command, const QStringList &arguments, Output &output)
{
    QStringList allowed{QStringLiteral("--host"), QStringLiteral("--port"), QStringLiteral("--aet"),
                        QStringLiteral("--node"), QStringLiteral("--local-aet")};
    qsizetype positional = 0;
    if (command == QLatin1String("find")) {
        allowed << QStringLiteral("--name") << QStringLiteral("--patient-id") << QStringLiteral("--modalities")
                << QStringLiteral("--from") << QStringLiteral("--to");
    } else if (command == QLatin1String("get")) {
        allowed << QStringLiteral("--out") << QStringLiteral("--db");
        positional = 1;
    } else if (command == QLatin1String("move")) {
        allowed << QStringLiteral("--dest");
        positional = 1;
    }
    const PacsArguments args = parse(arguments, allowed);
    if (!args.problem.isEmpty())
        return output.usage(args.problem);
    const bool positionalOk = command == QLatin1String("send") ? !args.positional.isEmpty()
                                                               : args.positional.size() == positional;
    if (!positionalOk || (command == QLatin1String("get") && args.value("--out").isEmpty()))
        return output.usage();
    pacs::PacsServerConfig node;
    pacs::PacsConfig local;
    QString problem;
    if (!resolveNode(args, &node, &local, &problem))
        return output.usage(problem);

    if (command == QLatin1String("echo"))
        return echo(node, local, output);
    if (command == QLatin1String("find"))
        return find(args, node, local, output);
    if (command == QLatin1String("get"))
        return get(args, node, local, output);
    if (command == QLatin1String("move"))
        return move(args, node, local, output);
    return send(args, node, local, output);
}

} // namespace velmaris::cli
