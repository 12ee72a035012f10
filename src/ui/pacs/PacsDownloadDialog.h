#pragma once

#include "pacs/PacsClient.h"
#include "pacs/PacsConfig.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace db {
class Database;
}

namespace pacs {
class PacsOpenCoordinator;
}

namespace velmaris {
class ModalityFilterButton;
}

// "Поиск и загрузка исследований с PACS": study-level C-FIND over the checked
// nodes (all at once, off the GUI thread) and the download of a chosen study
// into the archive, with or without opening it, or only for viewing.
class PacsDownloadDialog : public QDialog
{
    Q_OBJECT
public:
    // One search answer: the study and the row of the node list it came from.
    struct SearchRow
    {
        pacs::StudyResult study;
        int serverIndex = -1;
    };

    enum Column { Patient, PatientId, DateTime, Description, Modalities, SeriesCount, ImageCount, Accession, Server,
                  ColumnCount };

    explicit PacsDownloadDialog(db::Database *database, QWidget *parent = nullptr);
    ~PacsDownloadDialog() override;

    pacs::PacsOpenCoordinator *coordinator() const { return m_coordinator; }

    // The query the search would send now.
    pacs::StudyQuery currentQuery() const;
    // "yyyyMMdd" bounds of a period index (0…6), from the date edits for 5 and 6.
    QPair<QString, QString> periodRange(int index) const;
    // The rows of the last search of this process, shared by every dialog.
    static QList<SearchRow> cachedResults();
    static void clearCachedResults();

    bool isBusy() const { return m_busy; }

    QListWidget *serverList() const { return m_servers; }
    QCheckBox *selectAllBox() const { return m_selectAll; }
    velmaris::ModalityFilterButton *modalityButton() const { return m_modalities; }
    QComboBox *periodBox() const { return m_period; }
    QDateEdit *fromEdit() const { return m_from; }
    QDateEdit *toEdit() const { return m_to; }
    QLineEdit *nameEdit() const { return m_name; }
    QLineEdit *idEdit() const { return m_patientId; }
    QPushButton *findButton() const { return m_find; }
    // 0 "Скачать", 1 "Скачать и открыть", 2 "Открыть".
    QPushButton *downloadButton(int mode) const { return m_download[mode]; }
    QTableWidget *resultsTable() const { return m_table; }
    QLabel *statusLabel() const { return m_status; }
    QProgressBar *busyIndicator() const { return m_busyIndicator; }
    // The context menu of a result row (the caller owns it); null without a
    // window to act for.
    QMenu *createRowMenu(int row);

signals:
    void studiesImported();
    // The search has ended and its rows are in the table.
    void searchFinished();

public slots:
    void onFindClicked();
    void onPeriodChanged(int index);
    void onCoordinatorFileReceived(int totalReceivedSoFar);
    void onCoordinatorFinished(bool ok, const QString &errorMessage, int receivedFileCount);
    // Downloads the study of the current row in the given mode.
    void startDownload(int mode);

private:
    void buildUi();
    void restoreState();
    void saveState() const;
    void setBusy(bool busy, const QString &status);
    void fillTable(const QList<SearchRow> &rows);
    void onSearchAnswered(const QList<int> &nodeIndices, const QList<QPair<QList<pacs::StudyResult>, QString>> &answers);
    void runForStudy(const QString &studyUid, std::function<void(const QString &)> action);
    QString serverName(int index) const;
    void onHeaderMenuRequested(const QPoint &position);

    db::Database *m_database;
    pacs::PacsOpenCoordinator *m_coordinator;
    QList<pacs::PacsServerConfig> m_nodes; // as configured when the dialog was built

    QListWidget *m_servers = nullptr;
    QCheckBox *m_selectAll = nullptr;
    velmaris::ModalityFilterButton *m_modalities = nullptr;
    QComboBox *m_period = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_patientId = nullptr;
    QPushButton *m_find = nullptr;
    QPushButton *m_download[3] = {};
    QTableWidget *m_table = nullptr;
    QLabel *m_status = nullptr;
    QProgressBar *m_busyIndicator = nullptr;

    QTimer *m_refreshTimer = nullptr; // coalesces studiesImported() while files arrive
    bool m_busy = false;
    int m_searchId = 0; // answers of an older search are dropped
    int m_mode = 0;
    QString m_downloadUid;
    std::function<void(const QString &)> m_pendingAction;
};
