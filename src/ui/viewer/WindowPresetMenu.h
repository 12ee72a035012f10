#pragma once

#include "viewer/WindowLevel.h"

#include <QMenu>

#include <functional>

namespace velmaris {

// The "Window/Level presets" menu: the built-in presets, the user's presets,
// and the entries that save the active panel's window as a preset or delete
// one. User presets are read from the settings whenever the menu is built, so
// a preset saved in another viewer shows up the next time this menu opens.
class WindowPresetMenu : public QMenu
{
    Q_OBJECT
public:
    // currentWindow gives the active panel's window when the user saves it.
    explicit WindowPresetMenu(std::function<render::WindowLevel()> currentWindow, QWidget *parent = nullptr);

    void rebuild();

signals:
    void presetChosen(const render::WindowLevel &window);

private slots:
    void onSaveTriggered();
    void onDeleteTriggered();

private:
    void addPresetAction(const QString &name, const render::WindowLevel &window);

    std::function<render::WindowLevel()> m_currentWindow;
};

} // namespace velmaris
