#pragma once

#include <QMetaType>
#include <QString>

namespace db {

// What one import did to the index. A file the walk found but the index
// refused is counted as skipped, never as added.
struct ImportOutcome
{
    int added = 0;
    int skipped = 0;
    int refused = 0;     // of `skipped`: summaries the index did not take
    QString refusal;     // the index's own words for the last refusal
    QString error;       // what stopped the import, empty when it ran through
};

} // namespace db

Q_DECLARE_METATYPE(db::ImportOutcome)
