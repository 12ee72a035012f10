#include "app/UserSettings.h"

#include <QSettings>
#include <QVariant>

namespace velmaris::settings {

namespace {

const QString darkKey = QStringLiteral("theme/dark");
const QString startupActionKey = QStringLiteral("startup/action");
const QString lastStudyKey = QStringLiteral("startup/lastStudyUid");
const QString hiddenColumnsKey = QStringLiteral("mainWindow/studyColumnVisibility/hiddenColumns");

QString widthsGroup(BrowserTable table)
{
    return table == BrowserTable::Studies ? QStringLiteral("mainWindow/studyColumnWidths")
                                          : QStringLiteral("mainWindow/seriesColumnWidths");
}

} // namespace

bool darkTheme()
{
    return QSettings().value(darkKey, true).toBool();
}

void setDarkTheme(bool dark)
{
    QSettings().setValue(darkKey, dark);
}

StartupAction startupAction()
{
    const QString stored = QSettings().value(startupActionKey, QStringLiteral("archive")).toString();
    if (stored == QLatin1String("lastViewer"))
        return StartupAction::LastViewer;
    return stored == QLatin1String("pacs") ? StartupAction::Pacs : StartupAction::Archive;
}

void setStartupAction(StartupAction action)
{
    const QString stored = action == StartupAction::LastViewer ? QStringLiteral("lastViewer")
        : action == StartupAction::Pacs                        ? QStringLiteral("pacs")
                                                               : QStringLiteral("archive");
    QSettings().setValue(startupActionKey, stored);
}

QString lastStudyUid()
{
    return QSettings().value(lastStudyKey).toString();
}

void setLastStudyUid(const QString &studyUid)
{
    QSettings().setValue(lastStudyKey, studyUid);
}

QHash<int, int> columnWidths(BrowserTable table)
{
    QHash<int, int> widths;
    QSettings settings;
    settings.beginGroup(widthsGroup(table));
    for (const QString &key : settings.childKeys()) {
        bool ok = false;
        const int column = key.toInt(&ok);
        if (ok && column >= 0)
            widths.insert(column, settings.value(key).toInt());
    }
    return widths;
}

void setColumnWidths(BrowserTable table, const QList<int> &widths)
{
    QSettings settings;
    settings.remove(widthsGroup(table));
    settings.beginGroup(widthsGroup(table));
    for (int column = 0; column < widths.size(); ++column)
        settings.setValue(QString::number(column), widths.at(column));
}

QList<int> hiddenStudyColumns()
{
    QList<int> columns;
    for (const QVariant &column : QSettings().value(hiddenColumnsKey).toList())
        columns.append(column.toInt());
    return columns;
}

void setHiddenStudyColumns(const QList<int> &columns)
{
    QVariantList stored;
    for (int column : columns)
        stored.append(column);
    QSettings().setValue(hiddenColumnsKey, stored);
}

} // namespace velmaris::settings
