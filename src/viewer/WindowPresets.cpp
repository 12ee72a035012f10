#include "viewer/WindowPresets.h"

#include <QSettings>

namespace render {

namespace {

const QString arrayKey = QStringLiteral("customWindowPresets");
const QString nameKey = QStringLiteral("name");
const QString centreKey = QStringLiteral("center");
const QString widthKey = QStringLiteral("width");

} // namespace

const QList<WindowPreset> &builtInWindowPresets()
{
    static const QList<WindowPreset> presets{
        {QStringLiteral("Лёгкие"), {-600.0, 1500.0}},
        {QStringLiteral("Кость"), {300.0, 1500.0}},
        {QStringLiteral("Мозг"), {40.0, 80.0}},
        {QStringLiteral("Средостение"), {50.0, 350.0}},
        {QStringLiteral("Брюшная пол."), {60.0, 400.0}},
        {QStringLiteral("Мягкие ткани"), {40.0, 400.0}},
    };
    return presets;
}

QList<WindowPreset> userWindowPresets()
{
    QSettings settings;
    const int count = settings.beginReadArray(arrayKey);
    QList<WindowPreset> presets;
    presets.reserve(count);
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        // QVariant::toDouble yields 0 for text that is not a number, which is
        // what a damaged entry should read as.
        presets.append({settings.value(nameKey).toString(),
                        {settings.value(centreKey).toDouble(), settings.value(widthKey).toDouble()}});
    }
    settings.endArray();
    return presets;
}

void storeUserWindowPresets(const QList<WindowPreset> &presets)
{
    QSettings settings;
    // Writing a shorter array leaves the old tail behind, so the array goes first.
    settings.remove(arrayKey);
    settings.beginWriteArray(arrayKey, static_cast<int>(presets.size()));
    for (int i = 0; i < presets.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(nameKey, presets[i].name);
        settings.setValue(centreKey, presets[i].window.centre);
        settings.setValue(widthKey, presets[i].window.width);
    }
    settings.endArray();
}

bool addUserWindowPreset(const QString &name, const WindowLevel &window)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return false;
    QList<WindowPreset> presets = userWindowPresets();
    presets.append({trimmed, window});
    storeUserWindowPresets(presets);
    return true;
}

int removeUserWindowPresets(const QString &name)
{
    QList<WindowPreset> presets = userWindowPresets();
    const auto removed = presets.removeIf([&name](const WindowPreset &preset) { return preset.name == name; });
    if (removed > 0)
        storeUserWindowPresets(presets);
    return static_cast<int>(removed);
}

} // namespace render
