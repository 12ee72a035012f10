#pragma once

#include "db/ImportOutcome.h"

#include <QMainWindow>

#include <QPointer>
#include <QVector>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTableWidget;

namespace db {
class Database;
class ImportService;
}
namespace pacs {
class MiniPacsService;
}

namespace velmaris {

class StudyFilterBar;
class StudyTable;
class ViewerWindow;

// The study browser: the archive's studies and series, filters, imports and
// the study context menu. It owns the archive index for the whole process.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Opens "index.sqlite3" in dataDirectory, creating the folder first.
    explicit MainWindow(const QString &dataDirectory, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The one browser of the process, for windows that need the archive.
    static MainWindow *instance();
    // The data directory of this user's workstation.
    static QString defaultDataDirectory();

    db::Database *database() const { return m_database; }
    // Started by the program (when enabled), not by the window.
    pacs::MiniPacsService *miniPacs() const { return m_miniPacs; }
    QString dataDirectory() const { return m_dataDirectory; }
    bool isImportRunning() const;
    QString statusText() const;
    QString currentStudyUid() const { return m_currentStudyUid; }

    QProgressBar *importProgressBar() const { return m_progressBar; }
    StudyTable *studyTable() const { return m_studies; }
    QTableWidget *seriesTable() const { return m_series; }
    StudyFilterBar *filterBar() const { return m_filterBar; }
    QAction *opticalDriveAction() const { return m_opticalDriveAction; }

    // The context menu for the current selection (the caller owns it).
    QMenu *createStudyContextMenu();
    // Study UIDs of the selected rows, in table order.
    QStringList selectedStudyUids() const;
    // A viewer that asked to be replaced by the next one opened.
    void setViewerToReplace(ViewerWindow *viewer);

public slots:
    void startFolderImport(const QString &folder);
    void startArchiveImport(const QString &archive);
    void reloadStudies();
    void applyFilters();
    void selectStudy(const QString &studyUid);
    void openViewer(const QString &studyUid, const QString &seriesUid = QString());
    // Shows a viewer made elsewhere (a PACS download) as this window's own.
    void presentViewer(velmaris::ViewerWindow *viewer);
    // "Загрузить с PACS…": the search-and-download window, one at a time.
    void openPacsDialog();
    void toggleProtectionOfSelection();
    void deleteSelectionFromList();
    void deleteSelectionCompletely();
    // Runs the clean-up rules once; shows what it removed in the status bar.
    void runAutoCleanup();
    void runStartupAction();

signals:
    void importFinished(int added, int skipped);
    void viewerOpened(velmaris::ViewerWindow *viewer);
    void themeChangeRequested(bool dark);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onOpenFolderTriggered();
    void onOpenArchiveTriggered();
    void onStudyClicked(int row);
    void onStudyDoubleClicked(int row);
    void onSeriesDoubleClicked(int row);
    void onStudyContextMenuRequested(const QPoint &position);
    void onStudyHeaderMenuRequested(const QPoint &position);
    void onImportProgress(int filesScanned, int dicomFilesFound);
    void onArchiveProgress(int filesProcessed);
    void onImportFinished(const db::ImportOutcome &outcome);
    void onImportError(const QString &message);
    void onOpticalDriveCheck();

private:
    void buildToolBar();
    void buildTables();
    void restoreColumns();
    void saveColumns() const;
    void showSeriesOf(const QString &studyUid);
    void reportReadFailure(const QString &reason);
    bool anyProtectedIn(const QStringList &studyUids) const;
    bool beginImport();
    bool deleteStudyCompletely(const QString &studyUid, bool ask, QString *error);

    QString m_dataDirectory;
    db::Database *m_database = nullptr;
    bool m_databaseOpen = false;
    StudyFilterBar *m_filterBar = nullptr;
    StudyTable *m_studies = nullptr;
    QTableWidget *m_series = nullptr;
    QLabel *m_statusLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QAction *m_opticalDriveAction = nullptr;

    QString m_currentStudyUid;
    QPointer<ViewerWindow> m_viewerToReplace;

    db::ImportService *m_import = nullptr;
    pacs::MiniPacsService *m_miniPacs = nullptr;
};

} // namespace velmaris
