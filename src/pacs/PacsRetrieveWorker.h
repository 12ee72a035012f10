#pragma once

#include "pacs/PacsConfig.h"

#include <QObject>
#include <QString>

namespace pacs {

// Runs one retrieve of a study on a thread of its own: C-GET into the
// destination folder for a node set to Get (each stored file announced),
// otherwise C-MOVE to the storage listener (the files arrive there).
class PacsRetrieveWorker : public QObject
{
    Q_OBJECT
public:
    PacsRetrieveWorker(PacsServerConfig node, PacsConfig local, QString studyInstanceUid,
                       QString destinationFolder, QObject *parent = nullptr);

public slots:
    void run();

signals:
    void fileReceived(const QString &filePath);
    void finished(bool ok, const QString &errorMessage);

private:
    PacsServerConfig m_node;
    PacsConfig m_local;
    QString m_studyInstanceUid;
    QString m_destinationFolder;
};

} // namespace pacs
