#include "app/HotkeyRegistry.h"

#include <QSettings>

#include <algorithm>
#include <iterator>

namespace velmaris {

namespace {

const QString settingsGroup = QStringLiteral("hotkeys");

QKeySequence portable(const QString &text)
{
    return QKeySequence::fromString(text, QKeySequence::PortableText);
}

} // namespace

const QList<HotkeyEntry> &HotkeyRegistry::entries()
{
    static const QList<HotkeyEntry> table{
        {QStringLiteral("mainwindow.openFolder"), QStringLiteral("Открыть каталог DICOM"),
         portable(QStringLiteral("Ctrl+Shift+O"))},
        {QStringLiteral("viewer.export"), QStringLiteral("Экспортировать изображения"),
         portable(QStringLiteral("Ctrl+E")), false},
        {QStringLiteral("viewer.copyOne"), QStringLiteral("Копировать в буфер обмена"),
         portable(QStringLiteral("Ctrl+C"))},
        {QStringLiteral("viewer.copyAll"), QStringLiteral("Копировать всё в буфер обмена"),
         portable(QStringLiteral("Shift+C"))},
        {QStringLiteral("viewer.rotateCcw"), QStringLiteral("Повернуть на 90° против часовой"),
         portable(QStringLiteral("Ctrl+["))},
        {QStringLiteral("viewer.rotateCw"), QStringLiteral("Повернуть на 90° по часовой"),
         portable(QStringLiteral("Ctrl+]"))},
        {QStringLiteral("viewer.flipH"), QStringLiteral("Отразить горизонтально"),
         portable(QStringLiteral("Ctrl+Shift+["))},
        {QStringLiteral("viewer.flipV"), QStringLiteral("Отразить вертикально"),
         portable(QStringLiteral("Ctrl+Shift+]"))},
        {QStringLiteral("viewer.clearTransform"), QStringLiteral("Очистить преобразования"),
         portable(QStringLiteral("Ctrl+Shift+\\"))},
        {QStringLiteral("viewer.mprWindow"), QStringLiteral("Открыть MPR"), portable(QStringLiteral("F2")), false},
    };
    return table;
}

QList<HotkeyEntry> HotkeyRegistry::availableEntries()
{
    QList<HotkeyEntry> out;
    std::copy_if(entries().cbegin(), entries().cend(), std::back_inserter(out),
                 [](const HotkeyEntry &entry) { return entry.available; });
    return out;
}

QKeySequence HotkeyRegistry::shortcut(const QString &id)
{
    const QList<HotkeyEntry> &table = entries();
    const auto entry = std::find_if(table.cbegin(), table.cend(),
                                    [&id](const HotkeyEntry &candidate) { return candidate.id == id; });
    if (entry == table.cend())
        return QKeySequence();
    QSettings settings;
    settings.beginGroup(settingsGroup);
    if (settings.contains(id))
        return portable(settings.value(id).toString());
    return entry->defaultSequence;
}

void HotkeyRegistry::store(const QString &id, const QKeySequence &sequence)
{
    QSettings settings;
    settings.beginGroup(settingsGroup);
    settings.setValue(id, sequence.toString(QKeySequence::PortableText));
}

void HotkeyRegistry::reset(const QString &id)
{
    QSettings settings;
    settings.beginGroup(settingsGroup);
    settings.remove(id);
}

} // namespace velmaris
