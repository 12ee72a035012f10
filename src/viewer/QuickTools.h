#pragma once

#include <QList>

// The six quick tool buttons of every image panel, stored under
// "viewer/quickTools" as MeasurementMode values (−1 for an empty slot).
namespace quicktools {

inline constexpr int slotCount = 6;
inline constexpr int emptySlot = -1;

// 3, 4, 5, 13, 10, 9: ruler, angle, ellipse ROI, ellipse area, arrow, text.
QList<int> defaultQuickTools();

// A list without exactly six entries becomes the default; a value that names
// no selectable tool becomes −1.
QList<int> normalizedQuickTools(const QList<int> &tools);

// The stored list, normalised; entries that are not integers count as −1.
QList<int> loadQuickTools();

// Stores the normalised list and emits Notifier::changed so that open panels
// rebuild their buttons.
void saveQuickTools(const QList<int> &tools);

} // namespace quicktools
