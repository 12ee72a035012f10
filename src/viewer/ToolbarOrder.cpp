#include "viewer/ToolbarOrder.h"

#include <QSettings>

namespace render {

namespace {
const QString orderKey = QStringLiteral("toolbar/order");
const QString hiddenKey = QStringLiteral("toolbar/hidden");
const QString resetDoneKey = QStringLiteral("toolbar/resetToDefaultDone_v3");
} // namespace

QStringList defaultToolbarOrder()
{
    return {QStringLiteral("backToList"),  QStringLiteral("print"),
            QStringLiteral("invert"),      QStringLiteral("selectAll"),
            QStringLiteral("compare"),     QStringLiteral("clearMeasurements"),
            QStringLiteral("syncSlices"),  QStringLiteral("wheelSeries"),
            QStringLiteral("dicomTags"),   QStringLiteral("calculators"),
            QStringLiteral("classifications")};
}

QStringList mergedToolbarOrder(const QStringList &stored, const QStringList &available)
{
    QStringList order;
    for (const QString &id : stored) {
        if (available.contains(id) && !order.contains(id))
            order.append(id);
    }
    for (const QString &id : available) {
        if (!order.contains(id))
            order.append(id);
    }
    return order;
}

bool resetToolbarOnFirstStart()
{
    QSettings settings;
    if (settings.value(resetDoneKey).toBool())
        return false;
    settings.setValue(orderKey, defaultToolbarOrder());
    settings.remove(hiddenKey);
    settings.setValue(resetDoneKey, true);
    return true;
}

ToolbarLayout loadToolbarLayout(const QStringList &available)
{
    resetToolbarOnFirstStart();
    const QSettings settings;
    ToolbarLayout layout;
    layout.order = mergedToolbarOrder(settings.value(orderKey).toStringList(), available);
    for (const QString &id : settings.value(hiddenKey).toStringList()) {
        if (available.contains(id) && !layout.hidden.contains(id))
            layout.hidden.append(id);
    }
    return layout;
}

void saveToolbarLayout(const ToolbarLayout &layout)
{
    QSettings settings;
    settings.setValue(orderKey, layout.order);
    settings.setValue(hiddenKey, layout.hidden);
}

} // namespace render
