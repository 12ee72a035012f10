#include "ui/viewer/WindowPresetMenu.h"

#include "viewer/WindowPresets.h"

#include <QInputDialog>

namespace velmaris {

WindowPresetMenu::WindowPresetMenu(std::function<render::WindowLevel()> currentWindow, QWidget *parent)
    : QMenu(QStringLiteral("Window/Level presets"), parent), m_currentWindow(std::move(currentWindow))
{
    rebuild();
    // Another viewer window may have saved or deleted presets since.
    connect(this, &QMenu::aboutToShow, this, &WindowPresetMenu::rebuild);
}

void WindowPresetMenu::rebuild()
{
    // The rebuild may run from the triggered signal of one of these actions,
    // so they go later rather than under the emitting action's feet.
    const QList<QAction *> old = actions();
    for (QAction *action : old) {
        removeAction(action);
        action->deleteLater();
    }
    for (const render::WindowPreset &preset : render::builtInWindowPresets())
        addPresetAction(preset.name, preset.window);

    const QList<render::WindowPreset> userPresets = render::userWindowPresets();
    if (!userPresets.isEmpty()) {
        addSeparator();
        for (const render::WindowPreset &preset : userPresets)
            addPresetAction(preset.name, preset.window);
    }

    addSeparator();
    connect(addAction(QStringLiteral("Сохранить текущий как пресет…")), &QAction::triggered, this,
            &WindowPresetMenu::onSaveTriggered);
    if (!userPresets.isEmpty()) {
        connect(addAction(QStringLiteral("Удалить пользовательский пресет…")), &QAction::triggered, this,
                &WindowPresetMenu::onDeleteTriggered);
    }
}

void WindowPresetMenu::addPresetAction(const QString &name, const render::WindowLevel &window)
{
    connect(addAction(name), &QAction::triggered, this, [this, window] { emit presetChosen(window); });
}

void WindowPresetMenu::onSaveTriggered()
{
    bool ok = false;
    const QString name = QInputDialog::getText(parentWidget(), QStringLiteral("Новый пресет W/L"),
                                               QStringLiteral("Название:"), QLineEdit::Normal, QString(), &ok);
    // An empty name is refused by the store; the window is read only now so
    // that it is the one shown when the user confirmed.
    if (!ok || !render::addUserWindowPreset(name, m_currentWindow()))
        return;
    rebuild();
}

void WindowPresetMenu::onDeleteTriggered()
{
    QStringList names;
    for (const render::WindowPreset &preset : render::userWindowPresets())
        names.append(preset.name);
    // Deleting removes every preset of a name, so each name is offered once.
    names.removeDuplicates();
    if (names.isEmpty())
        return;
    bool ok = false;
    const QString name = QInputDialog::getItem(parentWidget(), QStringLiteral("Удалить пресет"),
                                               QStringLiteral("Выберите пресет для удаления:"), names, 0, false,
                                               &ok);
    if (!ok)
        return;
    render::removeUserWindowPresets(name);
    rebuild();
}

} // namespace velmaris
