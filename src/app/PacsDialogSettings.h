#pragma once

#include <QDate>
#include <QHash>
#include <QList>
#include <QStringList>

#include <optional>

// What the PACS search dialog keeps between runs: group "pacsDialog" and the
// results table's hidden columns, behind typed accessors like the browser's.
namespace velmaris::settings {

// Written on each search; a key that was never written stays unset, so the
// dialog keeps its widget's default for it.
struct PacsSearchState
{
    std::optional<QList<int>> checkedServerIndices;
    std::optional<QStringList> checkedModalities;
    std::optional<int> periodIndex;
    std::optional<QDate> dateFrom;
    std::optional<QDate> dateTo;
};
PacsSearchState pacsSearchState();
void setPacsSearchState(const QList<int> &checkedServerIndices, const QStringList &checkedModalities,
                        int periodIndex, const QDate &dateFrom, const QDate &dateTo);

// "pacsDialog/columnWidths": a key per column number.
QHash<int, int> pacsResultColumnWidths();
void setPacsResultColumnWidths(const QList<int> &widths);

// "pacsDownloadDialog/resultsColumnVisibility/hiddenColumns", the browser's
// way of keeping hidden columns.
QList<int> hiddenPacsResultColumns();
void setHiddenPacsResultColumns(const QList<int> &columns);

} // namespace velmaris::settings
