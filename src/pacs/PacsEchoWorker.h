#pragma once

#include "pacs/PacsConfig.h"

#include <QList>
#include <QObject>

namespace pacs {

// Sends one C-ECHO to each server in turn, on a thread of its own, and tells
// how each answered and how long it took.
class PacsEchoWorker : public QObject
{
    Q_OBJECT
public:
    PacsEchoWorker(QList<PacsServerConfig> servers, PacsConfig local, QObject *parent = nullptr);

public slots:
    void run();

signals:
    void serverChecked(int index, bool ok, const QString &message, qint64 elapsedMs);
    void finished();

private:
    QList<PacsServerConfig> m_servers;
    PacsConfig m_local;
};

} // namespace pacs
