#pragma once

#include <QtGlobal>

namespace db {

// The rules of the automatic clean-up run at every start (settings group
// "cleanup"). Both rules are off until the user turns them on.
struct CleanupSettings
{
    bool byAgeEnabled = false;
    int maxAgeDays = 90;
    bool bySizeEnabled = false;
    qint64 maxSizeBytes = 10737418240LL; // 10 GiB

    bool operator==(const CleanupSettings &) const = default;
};

// Absent keys take the defaults above.
CleanupSettings loadCleanupSettings();
void saveCleanupSettings(const CleanupSettings &settings);

} // namespace db
