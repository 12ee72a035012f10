#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace pacs {
class MiniPacsService;
}

// "Velmaris как PACS-сервер": the Mini-PACS settings, its state and live log.
// Apply saves the settings and restarts the service from them.
class MiniPacsDialog : public QDialog
{
    Q_OBJECT
public:
    MiniPacsDialog(pacs::MiniPacsService *service, QWidget *parent = nullptr);

    // False, with the warning shown, when the server would take the storage
    // listener's port.
    bool apply();

private:
    void refreshStatus();

    pacs::MiniPacsService *m_service;
    QCheckBox *m_enabled = nullptr;
    QLineEdit *m_aeTitle = nullptr;
    QSpinBox *m_port = nullptr;
    QLabel *m_status = nullptr;
    QPlainTextEdit *m_log = nullptr;
    QPushButton *m_apply = nullptr;
};
