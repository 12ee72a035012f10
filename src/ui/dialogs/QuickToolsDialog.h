#pragma once

#include <QDialog>
#include <QList>

class QComboBox;

namespace velmaris {

// Chooses the tools of the six quick buttons on the edge of every image
// panel: three above the side label and three below it. Only OK stores the
// list, so "По умолчанию" can be tried and then cancelled.
class QuickToolsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit QuickToolsDialog(QWidget *parent = nullptr);

    // The tool of each slot as shown, top to bottom; −1 for an empty slot.
    QList<int> chosenTools() const;

    // The combo of slot 0 … 5; nullptr outside that range.
    QComboBox *toolCombo(int slot) const;

private slots:
    void onDefaultsClicked();
    void onAccepted();

private:
    void showTools(const QList<int> &tools);

    QList<QComboBox *> m_combos;
};

} // namespace velmaris
