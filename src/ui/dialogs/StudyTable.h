#pragma once

#include "db/StudyTableRow.h"

#include <QHash>
#include <QList>
#include <QTableWidget>

#include <functional>

namespace velmaris {

// The archive's studies as the user knows them from the browser: the same six
// columns and texts wherever studies are listed. Each row keeps its study's
// UID, whatever order the user sorts it into.
class StudyTable : public QTableWidget
{
    Q_OBJECT
public:
    explicit StudyTable(QWidget *parent = nullptr);

    // Replaces the rows; the user's sort order stays.
    void setRows(const QList<db::StudyTableRow> &rows);
    // The row data of a study; nullptr when it is not listed.
    const db::StudyTableRow *rowData(const QString &studyUid) const;
    QString studyUidAt(int row) const;
    // The table row showing the study; -1 when it is not listed.
    int rowOfStudy(const QString &studyUid) const;
    // UIDs of the selected rows that are shown, top to bottom.
    QStringList selectedStudyUids() const;
    // Hides every row the predicate turns down.
    void showOnly(const std::function<bool(const db::StudyTableRow &)> &accepts);

private:
    QList<db::StudyTableRow> m_rows;
    QHash<QString, qsizetype> m_indexOfStudy;
};

} // namespace velmaris
