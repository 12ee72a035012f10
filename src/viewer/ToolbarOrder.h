#pragma once

#include <QStringList>

// The order and visibility of the viewer toolbar's actions, persisted under
// "toolbar/order" and "toolbar/hidden" as lists of action identifiers.
namespace render {

// backToList, print, invert, selectAll, compare, clearMeasurements,
// syncSlices, wheelSeries, dicomTags, calculators, classifications.
QStringList defaultToolbarOrder();

// The stored order reduced to the available actions (unknown identifiers
// and repeats dropped), followed by the available actions it lacks in their
// own order, so that actions added by a newer version still show.
QStringList mergedToolbarOrder(const QStringList &stored, const QStringList &available);

struct ToolbarLayout
{
    QStringList order;  // every available action, in toolbar order
    QStringList hidden; // available actions the user hid
};

// On the first start of this version (toolbar/resetToDefaultDone_v3 not
// true) writes the default order, removes the hidden list and sets the flag;
// returns whether it did.
bool resetToolbarOnFirstStart();

// Runs the first-start reset, then reads the stored layout merged with the
// available actions.
ToolbarLayout loadToolbarLayout(const QStringList &available = defaultToolbarOrder());

void saveToolbarLayout(const ToolbarLayout &layout);

} // namespace render
