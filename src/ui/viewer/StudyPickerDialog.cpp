#include "ui/viewer/StudyPickerDialog.h"

#include "db/StudyTableRow.h"
#include "dicom/DicomText.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace velmaris {

namespace {

constexpr int kStudyUidRole = Qt::UserRole;

} // namespace

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
    const QList<db::StudyTableRow> rows = db::buildStudyRows(studies);
    m_table = new QTableWidget(int(rows.size()), db::StudyTableRow::ColumnCount, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Пациент"), QStringLiteral("ID пациента"),
                                        QStringLiteral("Дата и время"), QStringLiteral("Описание исследования"),
                                        QStringLiteral("Модальность"), QStringLiteral("Серий/срезов")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Bold captions over the selected row would not fit their columns.
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setWordWrap(false);
    for (int row = 0; row < rows.size(); ++row) {
        for (int column = 0; column < db::StudyTableRow::ColumnCount; ++column) {
            auto *cell = new QTableWidgetItem(rows.at(row).text[column]);
            cell->setData(kStudyUidRole, rows.at(row).studyUid);
            m_table->setItem(row, column, cell);
        }
    }
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
    const QList<QTableWidgetItem *> selected = m_table->selectedItems();
    for (const QTableWidgetItem *cell : selected) {
        if (!m_table->isRowHidden(cell->row()))
            return cell->data(kStudyUidRole).toString();
    }
    return {};
}

void StudyPickerDialog::applyFilter(const QString &text)
{
    const QString needle = text.trimmed();
    // Names are shown with blanks; one typed with the DICOM "^" finds them too.
    const QString shownNeedle = dicom::displayPersonName(needle);
    for (int row = 0; row < m_table->rowCount(); ++row) {
        bool match = needle.isEmpty();
        for (int column = 0; !match && column < m_table->columnCount(); ++column) {
            const QTableWidgetItem *cell = m_table->item(row, column);
            match = cell
                    && (cell->text().contains(needle, Qt::CaseInsensitive)
                        || (!shownNeedle.isEmpty() && cell->text().contains(shownNeedle, Qt::CaseInsensitive)));
        }
        m_table->setRowHidden(row, !match);
    }
    updateAcceptButton();
}

void StudyPickerDialog::updateAcceptButton()
{
    // Accepting without a visible chosen row would open nothing.
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!selectedStudyUid().isEmpty());
}

} // namespace velmaris
