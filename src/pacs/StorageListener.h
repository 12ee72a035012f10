#pragma once

#include <QObject>
#include <QString>

#include <atomic>

namespace pacs {

// The storage provider that takes the objects a PACS sends back for our
// C-MOVE: it lives on a thread of its own for one download, writes every
// object into the study's folder under a name of its own and announces it.
// Indexing is the receiver's business.
class StorageListener : public QObject
{
    Q_OBJECT
public:
    StorageListener(quint16 port, QString aeTitle, QString outputDir, QObject *parent = nullptr);

    // How long the listening call waits for an association before it looks
    // at the stop flag again.
    static constexpr int connectionTimeoutSeconds = 2;

    bool isStopRequested() const { return m_stopRequested.load(); }

public slots:
    // Blocks until stop() is called or the port cannot be opened (reported
    // once through errorOccurred); ends with stopped().
    void run();
    // Any thread.
    void stop();

signals:
    // The port is open: associations can come.
    void listening();
    void fileReceived(const QString &filePath);
    void errorOccurred(const QString &message);
    void stopped();

private:
    friend class InternalStorageSCP;

    quint16 m_port;
    QString m_aeTitle;
    QString m_outputDir;
    std::atomic_bool m_stopRequested{false};
};

} // namespace pacs
