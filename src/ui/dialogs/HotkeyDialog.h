#pragma once

#include <QDialog>

class QTableWidget;

namespace velmaris {

// Edits the rebindable shortcuts: one row per registry entry with a key
// editor that takes a single key combination. Saving stores every row, so the
// bindings stay fixed even if a later version changes a default.
class HotkeyDialog : public QDialog
{
    Q_OBJECT
public:
    explicit HotkeyDialog(QWidget *parent = nullptr);

private slots:
    void onResetAllClicked();
    void onSaveClicked();

private:
    QTableWidget *m_table = nullptr;
};

} // namespace velmaris
