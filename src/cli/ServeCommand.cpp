#include "cli/ServeCommand.h"

#include "cli/CliOutput.h"
#include "cli/PacsCommands.h"
#include "db/Database.h"
#include "pacs/MiniPacsService.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <csignal>

namespace velmaris::cli {

namespace {

std::atomic_bool stopRequested{false};

extern "C" void requestStop(int)
{
    stopRequested.store(true);
}

// "AET=HOST:PORT"
bool parseNode(const QString &text, pacs::PacsServerConfig *node)
{
    static const QRegularExpression pattern(QStringLiteral("^([^=]+)=(.+):(\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    node->aeTitle = match.captured(1).trimmed();
    node->host = match.captured(2).trimmed();
    node->port = match.captured(3).toInt();
    return !node->aeTitle.isEmpty() && node->port >= 1 && node->port <= 65535;
}

} // namespace

int runServe(const QStringList &arguments, Output &output)
{
    QString databasePath;
    QString storage;
    pacs::MiniPacsService::Settings settings;
    settings.enabled = true;
    QList<pacs::PacsServerConfig> extraNodes;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &name = arguments.at(i);
        if (i + 1 >= arguments.size())
            return output.usage(QStringLiteral("Не указано значение после %1").arg(name));
        const QString value = arguments.at(++i);
        if (name == QLatin1String("--db")) {
            databasePath = value;
        } else if (name == QLatin1String("--storage")) {
            storage = value;
        } else if (name == QLatin1String("--aet")) {
            settings.aeTitle = value.trimmed();
        } else if (name == QLatin1String("--port")) {
            bool ok = false;
            settings.port = value.toInt(&ok);
            if (!ok || settings.port < 1 || settings.port > 65535)
                return output.usage(QStringLiteral("Неверный порт: %1").arg(value));
        } else if (name == QLatin1String("--node")) {
            pacs::PacsServerConfig node;
            if (!parseNode(value, &node))
                return output.usage(QStringLiteral("Неверный узел «%1»: нужно AET=HOST:PORT").arg(value));
            extraNodes.append(node);
        } else {
            return output.usage(QStringLiteral("Неизвестный параметр: %1").arg(name));
        }
    }
    if (databasePath.isEmpty())
        return output.usage(QStringLiteral("Не указана база: --db FILE"));
    if (settings.aeTitle.isEmpty())
        settings.aeTitle = QStringLiteral("VELMARIS");
    if (storage.isEmpty())
        storage = QFileInfo(databasePath).absoluteDir().filePath(QStringLiteral("minipacs_received"));

    db::Database database(nullptr);
    if (!database.open(databasePath))
        return output.fail(QStringLiteral("Не удалось открыть базу %1: %2").arg(databasePath, database.lastError()));

    pacs::MiniPacsService service(&database, QFileInfo(databasePath).absoluteFilePath(), storage);
    service.setConfigSource([extraNodes] {
        pacs::PacsConfig config = savedPacsConfig();
        config.servers = extraNodes + config.servers; // the command line's first
        return config;
    });
    QObject::connect(&service, &pacs::MiniPacsService::logAppended, &service,
                     [&output](const QString &line) { output.note(line); });

    stopRequested.store(false);
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop] {
        if (stopRequested.load())
            loop.quit();
    });
    poll.start(100);
    service.start(settings);
    loop.exec();
    service.stop();
    // What the server handed over before it stopped is indexed and logged.
    QCoreApplication::sendPostedEvents(&service);
    while (service.isIndexing())
        QCoreApplication::sendPostedEvents(&service);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return Success;
}

} // namespace velmaris::cli
