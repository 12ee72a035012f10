#pragma once

#include "db/CleanupSettings.h"

#include <QDate>
#include <QString>

namespace db {

class Database;

// Deletes the studies that the clean-up rules select, oldest first: by age
// (study date before today minus the age limit) and, while the files of all
// studies together exceed the size limit, the oldest remaining ones. Protected
// studies are never selected. Only files in managed storage below
// dataDirectory are removed (with their folders once empty); the records go in
// any case. Returns the number of studies whose records were deleted.
int runAutoCleanup(Database &database, const CleanupSettings &settings, const QString &dataDirectory,
                   const QDate &today);

} // namespace db
