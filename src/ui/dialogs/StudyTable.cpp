#include "ui/dialogs/StudyTable.h"

#include "ui/dialogs/SortHeaderView.h"

#include <QHeaderView>

#include <algorithm>

namespace velmaris {

StudyTable::StudyTable(QWidget *parent) : QTableWidget(0, db::StudyTableRow::ColumnCount, parent)
{
    setHorizontalHeader(new SortHeaderView(Qt::Horizontal, this));
    setHorizontalHeaderLabels({QStringLiteral("Пациент"), QStringLiteral("ID пациента"),
                               QStringLiteral("Дата и время"), QStringLiteral("Описание исследования"),
                               QStringLiteral("Модальность"), QStringLiteral("Серий/срезов")});
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setVisible(false);
    horizontalHeader()->setStretchLastSection(true);
    // Bold captions over the selected row would not fit their columns.
    horizontalHeader()->setHighlightSections(false);
    setWordWrap(false);
}

void StudyTable::setRows(const QList<db::StudyTableRow> &rows)
{
    m_rows = rows;
    m_indexOfStudy.clear();
    const bool sorting = isSortingEnabled();
    setSortingEnabled(false);
    clearContents();
    setRowCount(int(m_rows.size()));
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const db::StudyTableRow &row = m_rows.at(i);
        m_indexOfStudy.insert(row.studyUid, i);
        for (int column = 0; column < db::StudyTableRow::ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(row.text[column]);
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            item->setData(Qt::UserRole, row.studyUid);
            if (column == db::StudyTableRow::PatientId)
                item->setToolTip(row.patientIdToolTip);
            setItem(int(i), column, item);
        }
    }
    setSortingEnabled(sorting);
}

const db::StudyTableRow *StudyTable::rowData(const QString &studyUid) const
{
    const auto found = m_indexOfStudy.constFind(studyUid);
    return found == m_indexOfStudy.cend() ? nullptr : &m_rows.at(*found);
}

QString StudyTable::studyUidAt(int row) const
{
    const QTableWidgetItem *cell = item(row, 0);
    return cell ? cell->data(Qt::UserRole).toString() : QString();
}

int StudyTable::rowOfStudy(const QString &studyUid) const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (studyUidAt(row) == studyUid)
            return row;
    }
    return -1;
}

QStringList StudyTable::selectedStudyUids() const
{
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedRows()) {
        if (!isRowHidden(index.row()))
            rows << index.row();
    }
    std::sort(rows.begin(), rows.end());
    QStringList uids;
    for (int row : rows)
        uids << studyUidAt(row);
    return uids;
}

void StudyTable::showOnly(const std::function<bool(const db::StudyTableRow &)> &accepts)
{
    for (int row = 0; row < rowCount(); ++row) {
        const db::StudyTableRow *data = rowData(studyUidAt(row));
        setRowHidden(row, data == nullptr || !accepts(*data));
    }
}

} // namespace velmaris
