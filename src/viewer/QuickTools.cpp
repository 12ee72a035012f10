#include "viewer/QuickTools.h"

#include "viewer/MeasurementMode.h"
#include "viewer/QuickToolsNotifier.h"

#include <QSettings>
#include <QVariant>

namespace quicktools {

namespace {
const QString settingsKey = QStringLiteral("viewer/quickTools");
} // namespace

QList<int> defaultQuickTools()
{
    return {3, 4, 5, 13, 10, 9};
}

QList<int> normalizedQuickTools(const QList<int> &tools)
{
    if (tools.size() != slotCount)
        return defaultQuickTools();
    QList<int> result;
    result.reserve(slotCount);
    for (int tool : tools)
        result.append(render::isSelectableMode(tool) ? tool : emptySlot);
    return result;
}

QList<int> loadQuickTools()
{
    const QSettings settings;
    if (!settings.contains(settingsKey))
        return defaultQuickTools();
    // The native store hands the list back as strings; anything else that
    // converts to a list is read the same way.
    const QVariantList stored = settings.value(settingsKey).toList();
    QList<int> tools;
    tools.reserve(stored.size());
    for (const QVariant &value : stored) {
        bool ok = false;
        const int tool = value.toInt(&ok);
        tools.append(ok ? tool : emptySlot);
    }
    return normalizedQuickTools(tools);
}

void saveQuickTools(const QList<int> &tools)
{
    QVariantList stored;
    for (int tool : normalizedQuickTools(tools))
        stored.append(tool);
    QSettings settings;
    settings.setValue(settingsKey, stored);
    emit Notifier::instance()->changed();
}

} // namespace quicktools
