#pragma once

#include "pacs/PacsConfig.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace db {
class Database;
}

namespace pacs {

// The Mini-PACS: a DICOM node on the workstation's own archive. Its provider
// runs on one long-lived thread with a database connection of its own; what
// it receives is indexed here, on the owner's thread, through `database`, and
// the log and the running state live here too.
class MiniPacsService : public QObject
{
    Q_OBJECT
public:
    // The settings group "miniPacs".
    struct Settings
    {
        bool enabled = false;
        QString aeTitle = QStringLiteral("VELMARIS");
        int port = 11113;
    };
    static Settings loadSettings();
    static void saveSettings(const Settings &settings);

    static constexpr int maxLogLines = 300;
    static constexpr int archiveQuietMs = 1500;

    // `databasePath` is the file behind `database`, opened again by the
    // server thread; received objects go below `storageFolder`.
    MiniPacsService(db::Database *database, const QString &databasePath, const QString &storageFolder,
                    QObject *parent = nullptr);
    ~MiniPacsService() override; // stops the server

    // Where C-MOVE destinations come from; the saved PACS configuration unless
    // replaced (the headless server adds nodes of its own).
    void setConfigSource(std::function<PacsConfig()> source);

    // Starts the server thread with these settings (stopping a running one
    // first); `enabled` is not looked at.
    void start(const Settings &settings);
    // Waits for the server thread to end (at most one listening period, or
    // the association being served).
    void stop();
    // Stops, reloads the settings and starts again when enabled.
    void restart();

    bool isRunning() const { return m_thread != nullptr; }
    // Received files wait to be indexed (at the next turn of the event loop).
    bool isIndexing() const { return m_indexQueued; }
    QStringList logLines() const { return m_log; }
    QString storageFolder() const { return m_storageFolder; }

signals:
    void logAppended(const QString &line);
    void runningChanged(bool running);
    // Once per burst of received objects, 1.5 s after the last one was indexed.
    void archiveChanged();

private:
    void appendLog(const QString &text);
    void onFileStored(const QString &path);
    void indexPending();
    void onThreadFinished(quint64 generation);

    db::Database *m_database;
    QString m_databasePath;
    QString m_storageFolder;
    std::function<PacsConfig()> m_configSource;
    std::shared_ptr<std::atomic_bool> m_stop;
    QThread *m_thread = nullptr;
    quint64 m_generation = 0;
    QStringList m_log;
    QTimer m_quiet;
    QStringList m_pending;
    bool m_indexQueued = false;
};

} // namespace pacs
