#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

namespace velmaris {

// One rebindable shortcut: its identifier (shared with the toolbar order), the
// label the hotkey dialog shows and the binding used until the user changes it.
struct HotkeyEntry
{
    QString id;
    QString label;
    QKeySequence defaultSequence;
    // False while the window or action it belongs to does not exist yet; such
    // entries keep their identifier and binding but are not offered.
    bool available = true;
};

// The rebindable shortcuts of the program. User bindings live in the settings
// group "hotkeys", one key per identifier, as portable text; an empty value
// disables the shortcut. Windows read the bindings when they build their
// actions, so a change reaches only windows opened afterwards.
class HotkeyRegistry
{
public:
    // Every entry, in the order the dialog lists them.
    static const QList<HotkeyEntry> &entries();
    // The entries whose action exists, as the hotkey dialog offers them.
    static QList<HotkeyEntry> availableEntries();

    // The user's binding when one is stored, else the default; an unknown
    // identifier has no shortcut.
    static QKeySequence shortcut(const QString &id);

    // Stores a binding, also when it equals the default or is empty.
    static void store(const QString &id, const QKeySequence &sequence);

    // Forgets the user's binding, so the default applies again.
    static void reset(const QString &id);
};

} // namespace velmaris
