#pragma once

#include "viewer/WindowLevel.h"

#include <QList>
#include <QString>

namespace render {

struct WindowPreset
{
    QString name;
    WindowLevel window;
};

// The fixed presets, in menu order.
const QList<WindowPreset> &builtInWindowPresets();

// The user's presets, read from the settings on every call so that a change
// made in another window is seen; a non-numeric centre or width reads as 0.
QList<WindowPreset> userWindowPresets();

// Replaces the stored user presets with the given list.
void storeUserWindowPresets(const QList<WindowPreset> &presets);

// Appends a preset under the trimmed name; names may repeat. Returns false,
// storing nothing, when the name is empty after trimming.
bool addUserWindowPreset(const QString &name, const WindowLevel &window);

// Removes every user preset with that name; returns how many were removed.
int removeUserWindowPresets(const QString &name);

} // namespace render
