#pragma once

#include "db/SliceRef.h"

#include <QList>
#include <QString>

namespace db {
class Database;
}

namespace velmaris {

// The viewer's volume windows for one series: `archive` (may be null) names
// the study's patient, whose other 3D windows a window may synchronise with.
void openVrt3DWindow(const QString &seriesDescription, const QList<db::SliceRef> &slices, const QString &studyUid,
                     db::Database *archive);
// "Виртуальная эндоскопия/колоноскопия" on the same series.
void openEndoscopyWindow(const QString &seriesDescription, const QList<db::SliceRef> &slices, const QString &studyUid,
                         db::Database *archive);

} // namespace velmaris
