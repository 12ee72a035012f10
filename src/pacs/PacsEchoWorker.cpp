#include "pacs/PacsEchoWorker.h"

#include "pacs/PacsClient.h"

#include <QElapsedTimer>

namespace pacs {

PacsEchoWorker::PacsEchoWorker(QList<PacsServerConfig> servers, PacsConfig local, QObject *parent)
    : QObject(parent), m_servers(std::move(servers)), m_local(std::move(local))
{
}

void PacsEchoWorker::run()
{
    for (int i = 0; i < m_servers.size(); ++i) {
        const PacsServerConfig &server = m_servers.at(i);
        if (server.host.trimmed().isEmpty()) {
            emit serverChecked(i, false, QStringLiteral("не указан IP-адрес"), 0);
            continue;
        }
        QString error;
        QElapsedTimer timer;
        timer.start();
        const bool ok = echoServer(server, m_local, &error);
        emit serverChecked(i, ok, error, timer.elapsed());
    }
    emit finished();
}

} // namespace pacs
