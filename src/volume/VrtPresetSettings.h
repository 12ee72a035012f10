#pragma once

#include "volume/TransferFunctionPreset.h"

#include <QList>

// The user's transfer-function presets in "vrt/customPresets".
namespace render::settings {

// The stored presets in their order; unreadable lines are skipped.
QList<TransferFunctionPreset> customPresets();
// Stores `preset`, replacing one of the same name in its place, else
// appending it.
void saveCustomPreset(const TransferFunctionPreset &preset);

} // namespace render::settings
