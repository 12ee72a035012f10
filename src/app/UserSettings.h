#pragma once

#include <QHash>
#include <QList>
#include <QString>

// The user's settings that the windows keep between runs, behind typed
// accessors so that no window spells a settings key itself.
namespace velmaris::settings {

// "theme/dark", default true.
bool darkTheme();
void setDarkTheme(bool dark);

// "startup/action": what the workstation shows after start.
enum class StartupAction { Archive, Pacs, LastViewer };
// "archive", "pacs" or "lastViewer"; "archive" by default and for any other
// stored value.
StartupAction startupAction();
void setStartupAction(StartupAction action);

// "startup/lastStudyUid": the study the user opened last.
QString lastStudyUid();
void setLastStudyUid(const QString &studyUid);

// The browser's tables: "mainWindow/studyColumnWidths" and
// "mainWindow/seriesColumnWidths" (a key per column), and
// "mainWindow/studyColumnVisibility/hiddenColumns".
enum class BrowserTable { Studies, Series };
QHash<int, int> columnWidths(BrowserTable table);
void setColumnWidths(BrowserTable table, const QList<int> &widths);
QList<int> hiddenStudyColumns();
void setHiddenStudyColumns(const QList<int> &columns);

} // namespace velmaris::settings
