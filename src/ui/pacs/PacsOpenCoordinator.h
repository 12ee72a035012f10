#pragma once

#include "app/PacsOpenRequest.h"
#include "pacs/PacsConfig.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>

class QMessageBox;
class QThread;
class QTimer;
class QWidget;

namespace db {
class Database;
class IndexWriter;
}

namespace velmaris {
class ViewerWindow;
}

namespace pacs {

class PacsRetrieveWorker;
class StorageListener;

// Fetches one study at a time from a PACS node into the archive: C-MOVE into
// a storage listener of its own, or C-GET. Every arriving file is indexed
// where it was written (in batches, so the window keeps painting) and, when
// asked, shown in a viewer that grows while files come. Also serves requests
// to open a study that arrive from a second start or a web page.
class PacsOpenCoordinator : public QObject
{
    Q_OBJECT
public:
    enum Mode {
        SaveOnly = 0,    // "Скачать"
        SaveAndOpen = 1, // "Скачать и открыть"
        ViewOnly = 2,    // "Открыть": removed again when its viewer closes
    };

    // `window` parents the message boxes of open requests.
    PacsOpenCoordinator(db::Database *database, QWidget *window, QObject *parent = nullptr);
    ~PacsOpenCoordinator() override;

    // Where "pacs_downloads" lies; the application's data folder by default.
    void setDataDirectory(const QString &dataDirectory);
    QString dataDirectory() const { return m_dataDirectory; }
    QString downloadFolder(const QString &studyInstanceUid) const;
    static QString viewOnlyFolder(const QString &studyInstanceUid);

    // How an opened viewer is shown (the browser takes it over); without one
    // it is shown maximised.
    void setViewerPresenter(std::function<void(velmaris::ViewerWindow *)> presenter);

    // True while the message box of an open request is up.
    bool isWaitingForUser() const;
    // True while a download runs.
    bool isBusy() const;

    // Refused (finished(false, …) at once) while a download runs. In view-only
    // mode a study the archive already has is opened from it, untouched.
    void start(const PacsServerConfig &node, const PacsConfig &config, const QString &studyInstanceUid,
               const QString &destinationFolder, int mode);

public slots:
    // Ignored (with a warning in the debug log) while an earlier request
    // waits for the user; the bridge refuses such requests before they come.
    void openStudy(const velmaris::PacsOpenRequest &request);
    void onFileReceived(const QString &filePath);
    void onDownloadFinished(bool ok, const QString &errorMessage);

signals:
    void fileReceived(int totalReceivedSoFar);
    void finished(bool ok, const QString &errorMessage, int receivedFileCount);
    void viewerOpened(velmaris::ViewerWindow *viewer);
    // True when an open request starts waiting for the user, false once it
    // is dealt with.
    void waitingForUserChanged(bool waiting);

private:
    void onListenerReady();
    void onListenerStopped();
    void startRetrieve();
    void flushIndex();
    void endThreads();
    void complete(bool ok, const QString &message);
    velmaris::ViewerWindow *openViewer(const QString &studyInstanceUid);
    void present(velmaris::ViewerWindow *viewer);
    void removeWhenClosed(velmaris::ViewerWindow *viewer);
    void askUser(QMessageBox *box, std::function<void(int button)> onAnswer);
    void warn(const QString &text);

    db::Database *m_database;
    QPointer<QWidget> m_window;
    QString m_dataDirectory;
    std::function<void(velmaris::ViewerWindow *)> m_presenter;
    QPointer<QMessageBox> m_waitingBox; // deletes itself when closed

    // The download in progress.
    PacsServerConfig m_node;
    PacsConfig m_config;
    QThread *m_listenerThread = nullptr;
    QPointer<StorageListener> m_listener; // deletes itself on its thread
    QThread *m_retrieveThread = nullptr;
    PacsRetrieveWorker *m_worker = nullptr;
    bool m_running = false;
    bool m_waitingForPort = false;
    bool m_reportOutcome = false; // started by an open request: failures get a box here
    QString m_listenerError;
    int m_received = 0;
    int m_mode = SaveOnly;
    QString m_folder;
    QString m_uid;
    std::unique_ptr<db::IndexWriter> m_writer;
    QStringList m_pendingSeries; // series with files not yet shown
    QTimer *m_flushTimer = nullptr;
    bool m_viewerOpenedForDownload = false;
    QPointer<velmaris::ViewerWindow> m_viewer;
    // View-only downloads whose viewer closed before the files were all in:
    // the study goes once the retrieve ends.
    QSet<QString> m_discardWhenDone;
};

} // namespace pacs
