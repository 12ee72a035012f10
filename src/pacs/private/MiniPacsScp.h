#pragma once

// Internal to the pacs library: the provider of the Mini-PACS. Only
// MiniPacsService creates one, on its server thread.

#include "pacs/PacsConfig.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/scp.h>

#include <QSet>
#include <QString>

#include <atomic>
#include <functional>

namespace db {
class Database;
}

namespace pacs {

// Stores, answers queries about and sends out the archive of the workstation
// to peers on the network, one association at a time. Everything it does
// happens on the thread that calls listen(); its two callbacks hand their work
// elsewhere.
class MiniPacsScp : public DcmSCP
{
public:
    struct Hooks
    {
        std::function<void(const QString &text)> log;
        // A received object was written to this path (not yet indexed).
        std::function<void(const QString &filePath)> stored;
        // Where C-MOVE destinations are looked up; read at each request.
        std::function<PacsConfig()> config;
    };

    // `database` is the server thread's own connection; `stop` is read after
    // every listening period and ends listen() once set.
    MiniPacsScp(db::Database *database, const QString &aeTitle, const QString &storageFolder, Hooks hooks,
                const std::atomic_bool *stop);
    ~MiniPacsScp() override;

    int receivedCount() const { return m_received; }

    // Where an object of this study and instance is stored: UIDs that are
    // valid UIDs name the folder and the file, anything else a sender made up
    // is replaced by a name derived from it, so no path leaves the folder.
    static QString storagePath(const QString &storageFolder, const QString &studyUid, const QString &sopUid);

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message *incomingMsg, const DcmPresentationContextInfo &presInfo) override;
    // An association profile holds at most 128 contexts, fewer than there are
    // storage classes; each association gets one made of what its peer
    // proposes.
    void notifyAssociationRequest(const T_ASC_Parameters &params, DcmSCPActionType &desiredAction) override;
    OFBool stopAfterConnectionTimeout() override;

private:
    OFCondition handleStore(T_DIMSE_C_StoreRQ &request, T_ASC_PresentationContextID presId);
    OFCondition handleFind(T_DIMSE_C_FindRQ &request, T_ASC_PresentationContextID presId);
    OFCondition handleMove(T_DIMSE_C_MoveRQ &request, T_ASC_PresentationContextID presId);
    void log(const QString &text) const;
    QString callingAe() const;

    db::Database *m_database;
    QString m_aeTitle;
    QString m_storageFolder;
    Hooks m_hooks;
    const std::atomic_bool *m_stop;
    int m_received = 0;
    QSet<QString> m_profiles;
};

} // namespace pacs
