#pragma once

#include "db/StudyRecord.h"

#include <QDialog>
#include <QList>
#include <QString>

class QDialogButtonBox;
class QLineEdit;

namespace velmaris {

class StudyTable;

// Lets the user pick the study to open beside the current one for comparison,
// from the studies given (those of the same patient, or the whole archive when
// the patient ID did not find the right one). A filter narrows the rows.
class StudyPickerDialog : public QDialog
{
    Q_OBJECT
public:
    explicit StudyPickerDialog(const QList<db::StudyRecord> &studies, QWidget *parent = nullptr);

    // The chosen study's UID; empty when no row is selected.
    QString selectedStudyUid() const;

private:
    void applyFilter(const QString &text);
    void updateAcceptButton();

    QLineEdit *m_filter = nullptr;
    StudyTable *m_table = nullptr;
    QDialogButtonBox *m_buttons = nullptr;
};

} // namespace velmaris
