#include "volume/VrtPresetSettings.h"

#include <QSettings>
#include <QStringList>

namespace render::settings {

namespace {
const QString key = QStringLiteral("vrt/customPresets");
}

QList<TransferFunctionPreset> customPresets()
{
    QList<TransferFunctionPreset> presets;
    for (const QString &line : QSettings().value(key).toStringList()) {
        TransferFunctionPreset preset;
        if (TransferFunctionPreset::fromStoredText(line, preset))
            presets.append(preset);
    }
    return presets;
}

void saveCustomPreset(const TransferFunctionPreset &preset)
{
    QSettings settings;
    QStringList lines = settings.value(key).toStringList();
    const QString stored = preset.toStoredText();
    bool replaced = false;
    for (QString &line : lines) {
        TransferFunctionPreset existing;
        if (TransferFunctionPreset::fromStoredText(line, existing) && existing.name == preset.name.trimmed()) {
            line = stored;
            replaced = true;
            break;
        }
    }
    if (!replaced)
        lines.append(stored);
    settings.setValue(key, lines);
}

} // namespace render::settings
