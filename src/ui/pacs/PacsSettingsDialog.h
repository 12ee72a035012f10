#pragma once

#include "pacs/PacsConfig.h"

#include <QDialog>
#include <QList>
#include <QPointer>

class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QThread;

// "Конфигурация PACS": the local node, the table of servers and their C-ECHO
// checks. Save writes the whole configuration; Cancel writes nothing.
class PacsSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit PacsSettingsDialog(QWidget *parent = nullptr);
    ~PacsSettingsDialog() override;

    // The configuration as the dialog shows it now, unsaved edits included.
    pacs::PacsConfig collectConfig() const;
    // True while a C-ECHO run is going on.
    bool isChecking() const { return !m_echoThread.isNull(); }

signals:
    // After the last server of a run has been answered.
    void checkFinished();

private:
    void addRow(const pacs::PacsServerConfig &server);
    pacs::PacsServerConfig readRow(int row) const;
    void onAdd();
    void onRemove();
    void onCheckSelected();
    void onCheckAll();
    void startCheck(const QList<int> &rows);
    void onServerChecked(int index, bool ok, const QString &message, qint64 elapsedMs);
    void onCheckFinished();
    void onSave();

    QSpinBox *m_localPort;
    QLineEdit *m_localAe;
    QLineEdit *m_moveDestination;
    QTableWidget *m_table;
    QPushButton *m_checkSelected;
    QPushButton *m_checkAll;
    QLineEdit *m_newHost;
    QSpinBox *m_newPort;
    QLineEdit *m_newAe;
    QLineEdit *m_newDescription;
    QPointer<QThread> m_echoThread;
    QList<int> m_checkedRows; // worker index -> table row
};
