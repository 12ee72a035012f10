#include "ui/dialogs/StudyPickerDialog.h"

#include "db/StudyTableRow.h"
#include "dicom/DicomText.h"
#include "ui/dialogs/StudyTable.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmaris {

StudyPickerDialog::StudyPickerDialog(const QList<db::StudyRecord> &studies, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Выбор исследования для сравнения"));
    resize(820, 460);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Выберите исследование, которое нужно открыть рядом:"), this));

    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("Фильтр: пациент, ID, дата, описание"));
    m_filter->setClearButtonEnabled(true);
    layout->addWidget(m_filter);

    // The same columns and texts as the browser's study table, so the user
    // recognises the studies.
    m_table = new StudyTable(this);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setRows(db::buildStudyRows(studies));
    m_table->resizeColumnsToContents();
    layout->addWidget(m_table);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Открыть для сравнения"));
    m_buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    layout->addWidget(m_buttons);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_filter, &QLineEdit::textChanged, this, &StudyPickerDialog::applyFilter);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &StudyPickerDialog::updateAcceptButton);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int, int) {
        if (!selectedStudyUid().isEmpty())
            accept();
    });
    updateAcceptButton();
}

QString StudyPickerDialog::selectedStudyUid() const
{
    const QStringList selected = m_table->selectedStudyUids();
    return selected.isEmpty() ? QString() : selected.first();
}

void StudyPickerDialog::applyFilter(const QString &text)
{
    const QString needle = text.trimmed();
    // Names are shown with blanks; one typed with the DICOM "^" finds them too.
    const QString shownNeedle = dicom::displayPersonName(needle);
    m_table->showOnly([&](const db::StudyTableRow &row) {
        if (needle.isEmpty())
            return true;
        for (const QString &cell : row.text) {
            if (cell.contains(needle, Qt::CaseInsensitive)
                || (!shownNeedle.isEmpty() && cell.contains(shownNeedle, Qt::CaseInsensitive)))
                return true;
        }
        return false;
    });
    updateAcceptButton();
}

void StudyPickerDialog::updateAcceptButton()
{
    // Accepting without a visible chosen row would open nothing.
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!selectedStudyUid().isEmpty());
}

} // namespace velmaris
