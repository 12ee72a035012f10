#include "db/CleanupSettings.h"

#include <QSettings>

namespace db {

namespace {

const QString kGroup = QStringLiteral("cleanup");
const QString kByAgeEnabled = QStringLiteral("byAgeEnabled");
const QString kMaxAgeDays = QStringLiteral("maxAgeDays");
const QString kBySizeEnabled = QStringLiteral("bySizeEnabled");
const QString kMaxSizeBytes = QStringLiteral("maxSizeBytes");

} // namespace

CleanupSettings loadCleanupSettings()
{
    const CleanupSettings defaults;
    CleanupSettings settings;
    QSettings store;
    store.beginGroup(kGroup);
    settings.byAgeEnabled = store.value(kByAgeEnabled, defaults.byAgeEnabled).toBool();
    settings.maxAgeDays = store.value(kMaxAgeDays, defaults.maxAgeDays).toInt();
    settings.bySizeEnabled = store.value(kBySizeEnabled, defaults.bySizeEnabled).toBool();
    settings.maxSizeBytes = store.value(kMaxSizeBytes, defaults.maxSizeBytes).toLongLong();
    return settings;
}

void saveCleanupSettings(const CleanupSettings &settings)
{
    QSettings store;
    store.beginGroup(kGroup);
    store.setValue(kByAgeEnabled, settings.byAgeEnabled);
    store.setValue(kMaxAgeDays, settings.maxAgeDays);
    store.setValue(kBySizeEnabled, settings.bySizeEnabled);
    store.setValue(kMaxSizeBytes, settings.maxSizeBytes);
}

} // namespace db
