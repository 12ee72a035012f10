#pragma once

#include <QString>
#include <QVariant>

class QSqlDatabase;

namespace db {

// The shape of the index on disk: its tables, the columns earlier versions
// lacked, and the statements that write rows and keep their totals.
class IndexSchema
{
public:
    // Reads what a damaged file would fail on before anything is written to
    // it; a damaged index is refused with "Индекс архива повреждён: …".
    static bool checkIntegrity(QSqlDatabase &db, QString *error);
    // Lays the tables into a new index and brings one written by an earlier
    // version up to date (columns, totals, the studies' own patient data).
    static bool apply(QSqlDatabase &db, QString *error);
};

namespace sql {

// The upserts of one summary and the totals they keep exact.
extern const char kPatientUpsert[];
extern const char kStudyUpsert[];
extern const char kSeriesUpsert[];
extern const char kInstanceUpsert[];
extern const char kSeriesRecount[];
extern const char kStudyRecount[];

// A null QString would be bound as SQL NULL. Text columns get the empty string
// instead: NULL in the patients key would let every summary without a Patient ID
// create a patient row of its own, since NULL keys never conflict.
inline QVariant sqlText(const QString &value)
{
    if (!value.isNull())
        return value;
    return QStringLiteral("");
}

} // namespace sql

} // namespace db
