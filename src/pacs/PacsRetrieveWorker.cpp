#include "pacs/PacsRetrieveWorker.h"

#include "pacs/PacsClient.h"

namespace pacs {

PacsRetrieveWorker::PacsRetrieveWorker(PacsServerConfig node, PacsConfig local, QString studyInstanceUid,
                                       QString destinationFolder, QObject *parent)
    : QObject(parent),
      m_node(std::move(node)),
      m_local(std::move(local)),
      m_studyInstanceUid(std::move(studyInstanceUid)),
      m_destinationFolder(std::move(destinationFolder))
{
}

void PacsRetrieveWorker::run()
{
    QString error;
    bool ok = false;
    if (m_node.retrieveMode == RetrieveMode::Get) {
        ok = getStudy(m_node, m_local, m_studyInstanceUid, m_destinationFolder, nullptr, &error,
                      [this](const QString &path) { emit fileReceived(path); });
    } else {
        ok = moveStudy(m_node, m_local, m_studyInstanceUid, &error);
    }
    emit finished(ok, error);
}

} // namespace pacs
