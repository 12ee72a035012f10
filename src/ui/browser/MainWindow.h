#pragma once

#include "dicom/DicomFileSummary.h"

#include <QMainWindow>
#include <QPointer>
#include <QVector>

class QLabel;
class QListWidget;
class QProgressBar;
class QThread;

namespace db {
class Database;
}
namespace dicom {
class DicomImporter;
}

namespace velmaris {

// The study browser. For now: the archive index, the study list and the
// folder import with its status-bar progress.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Opens "index.sqlite3" in dataDirectory, creating the folder first.
    explicit MainWindow(const QString &dataDirectory, QWidget *parent = nullptr);
    ~MainWindow() override;

    db::Database *database() const { return m_database; }
    bool isImportRunning() const { return m_importThread != nullptr; }
    QString statusText() const;
    QProgressBar *importProgressBar() const { return m_progressBar; }
    QListWidget *studyList() const { return m_studyList; }

    // The data directory of this user's workstation.
    static QString defaultDataDirectory();

public slots:
    void startFolderImport(const QString &folder);
    void reloadStudies();

signals:
    void importFinished(int added, int skipped);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onOpenFolderTriggered();
    void onImportFileFound(const dicom::DicomFileSummary &summary);
    void onImportProgress(int filesScanned, int dicomFilesFound);
    void onImportFinished(int added, int skipped);
    void onImportError(const QString &message);

private:
    void flushPendingSummaries();
    void stopImport();

    db::Database *m_database = nullptr;
    QListWidget *m_studyList = nullptr;
    QLabel *m_statusLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;

    QThread *m_importThread = nullptr;
    QPointer<dicom::DicomImporter> m_importer;
    // Summaries wait here until the next progress report, then go into the
    // index in one transaction instead of one commit each.
    QVector<dicom::DicomFileSummary> m_pending;
    int m_rejected = 0;
};

} // namespace velmaris
