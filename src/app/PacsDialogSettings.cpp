#include "app/PacsDialogSettings.h"

#include <QSettings>
#include <QVariant>

namespace velmaris::settings {

namespace {

const QString group = QStringLiteral("pacsDialog");
const QString widthsGroup = QStringLiteral("pacsDialog/columnWidths");
const QString hiddenKey = QStringLiteral("pacsDownloadDialog/resultsColumnVisibility/hiddenColumns");

QList<int> toIntList(const QVariant &value)
{
    QList<int> out;
    for (const QVariant &item : value.toList())
        out << item.toInt();
    return out;
}

QVariantList toVariantList(const QList<int> &values)
{
    QVariantList out;
    for (int value : values)
        out << value;
    return out;
}

} // namespace

PacsSearchState pacsSearchState()
{
    QSettings settings;
    settings.beginGroup(group);
    PacsSearchState state;
    if (settings.contains(QStringLiteral("checkedServerIndices")))
        state.checkedServerIndices = toIntList(settings.value(QStringLiteral("checkedServerIndices")));
    if (settings.contains(QStringLiteral("checkedModalities")))
        state.checkedModalities = settings.value(QStringLiteral("checkedModalities")).toStringList();
    if (settings.contains(QStringLiteral("periodIndex")))
        state.periodIndex = settings.value(QStringLiteral("periodIndex")).toInt();
    if (settings.contains(QStringLiteral("dateFrom")))
        state.dateFrom = settings.value(QStringLiteral("dateFrom")).toDate();
    if (settings.contains(QStringLiteral("dateTo")))
        state.dateTo = settings.value(QStringLiteral("dateTo")).toDate();
    return state;
}

void setPacsSearchState(const QList<int> &checkedServerIndices, const QStringList &checkedModalities,
                        int periodIndex, const QDate &dateFrom, const QDate &dateTo)
{
    QSettings settings;
    settings.beginGroup(group);
    settings.setValue(QStringLiteral("checkedServerIndices"), toVariantList(checkedServerIndices));
    settings.setValue(QStringLiteral("checkedModalities"), checkedModalities);
    settings.setValue(QStringLiteral("periodIndex"), periodIndex);
    settings.setValue(QStringLiteral("dateFrom"), dateFrom);
    settings.setValue(QStringLiteral("dateTo"), dateTo);
}

QHash<int, int> pacsResultColumnWidths()
{
    QSettings settings;
    settings.beginGroup(widthsGroup);
    QHash<int, int> widths;
    for (const QString &key : settings.childKeys()) {
        bool ok = false;
        const int column = key.toInt(&ok);
        const int width = settings.value(key).toInt();
        if (ok && width > 0)
            widths.insert(column, width);
    }
    return widths;
}

void setPacsResultColumnWidths(const QList<int> &widths)
{
    QSettings settings;
    settings.beginGroup(widthsGroup);
    for (int column = 0; column < widths.size(); ++column)
        settings.setValue(QString::number(column), widths.at(column));
}

QList<int> hiddenPacsResultColumns()
{
    return toIntList(QSettings().value(hiddenKey));
}

void setHiddenPacsResultColumns(const QList<int> &columns)
{
    QSettings().setValue(hiddenKey, toVariantList(columns));
}

} // namespace velmaris::settings
