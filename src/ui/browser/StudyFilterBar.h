#pragma once

#include "db/StudyFilter.h"

#include <QWidget>

class QComboBox;
class QDateEdit;
class QLineEdit;
class QToolButton;

namespace velmaris {

// The row above the study table: text, modality codes, date range.
class StudyFilterBar : public QWidget
{
    Q_OBJECT
public:
    explicit StudyFilterBar(QWidget *parent = nullptr);

    db::StudyFilter filter() const;

    QLineEdit *textField() const { return m_text; }
    QToolButton *modalityButton() const { return m_modalities; }
    QComboBox *rangeBox() const { return m_range; }
    QDateEdit *firstDate() const { return m_first; }
    QDateEdit *secondDate() const { return m_second; }

    // The codes offered by the modality button.
    static QStringList modalityCodes();

signals:
    void filterChanged();

private:
    void updateDateFields();

    QLineEdit *m_text = nullptr;
    QToolButton *m_modalities = nullptr;
    QComboBox *m_range = nullptr;
    QDateEdit *m_first = nullptr;
    QDateEdit *m_second = nullptr;
};

} // namespace velmaris
