#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

namespace velmaris {

// Edits the rules of the start-up clean-up. The size limit is shown in ГБ when
// it is a whole number of gibibytes and in МБ otherwise, so a stored value
// reads back the way it was meant.
class CleanupSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CleanupSettingsDialog(QWidget *parent = nullptr);

private slots:
    void onSaveClicked();

private:
    QCheckBox *m_byAge = nullptr;
    QSpinBox *m_maxAgeDays = nullptr;
    QCheckBox *m_bySize = nullptr;
    QDoubleSpinBox *m_maxSize = nullptr;
    QComboBox *m_sizeUnit = nullptr;
};

} // namespace velmaris
