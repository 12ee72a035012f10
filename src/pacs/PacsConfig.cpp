#include "pacs/PacsConfig.h"

#include <QSettings>

namespace pacs {

PacsConfig loadPacsConfig()
{
    QSettings settings;
    return loadPacsConfig(settings);
}

void savePacsConfig(const PacsConfig &config)
{
    QSettings settings;
    savePacsConfig(settings, config);
}

PacsConfig loadPacsConfig(QSettings &settings)
{
    PacsConfig config;
    settings.beginGroup(QStringLiteral("pacs"));
    config.localPort = settings.value(QStringLiteral("localPort"), 11112).toInt();
    config.localAeTitle = settings.value(QStringLiteral("localAeTitle"), QStringLiteral("NORVANE")).toString();
    config.moveDestinationAeTitle = settings.value(QStringLiteral("moveDestinationAeTitle")).toString();
    const int count = settings.beginReadArray(QStringLiteral("servers"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        PacsServerConfig server;
        server.host = settings.value(QStringLiteral("host")).toString();
        if (server.host.isEmpty())
            continue;
        server.port = settings.value(QStringLiteral("port"), 104).toInt();
        server.aeTitle = settings.value(QStringLiteral("aeTitle")).toString();
        server.description = settings.value(QStringLiteral("description")).toString();
        server.retrieveMode = settings.value(QStringLiteral("retrieveMode"), 0).toInt() == 1 ? RetrieveMode::Get
                                                                                            : RetrieveMode::Move;
        config.servers.append(server);
    }
    settings.endArray();
    settings.endGroup();
    return config;
}

void savePacsConfig(QSettings &settings, const PacsConfig &config)
{
    settings.beginGroup(QStringLiteral("pacs"));
    settings.setValue(QStringLiteral("localPort"), config.localPort);
    settings.setValue(QStringLiteral("localAeTitle"), config.localAeTitle);
    settings.setValue(QStringLiteral("moveDestinationAeTitle"), config.moveDestinationAeTitle);
    // A shorter list must not leave the old tail behind.
    settings.remove(QStringLiteral("servers"));
    settings.beginWriteArray(QStringLiteral("servers"), int(config.servers.size()));
    for (int i = 0; i < config.servers.size(); ++i) {
        const PacsServerConfig &server = config.servers.at(i);
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("host"), server.host);
        settings.setValue(QStringLiteral("port"), server.port);
        settings.setValue(QStringLiteral("aeTitle"), server.aeTitle);
        settings.setValue(QStringLiteral("description"), server.description);
        settings.setValue(QStringLiteral("retrieveMode"), server.retrieveMode == RetrieveMode::Get ? 1 : 0);
    }
    settings.endArray();
    settings.endGroup();
}

} // namespace pacs
