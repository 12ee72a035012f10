#pragma once

#include "db/SeriesRecord.h"
#include "db/SliceRef.h"
#include "db/StudyDeletion.h"
#include "db/StudyRecord.h"
#include "db/StudyTableRow.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace db {

class Database;

struct SeriesSlices
{
    SeriesRecord record;
    QList<SliceRef> slices;
};

// What a study can be compared with: the same person's other studies, and
// every other study of the archive for a choice by hand.
struct ComparisonChoices
{
    std::optional<StudyRecord> current;
    QList<StudyRecord> samePatient;
    QList<StudyRecord> others;
};

// What the windows ask of the archive, in their terms. Each read that fails
// says why; an empty list is an empty archive, never a failed query.
class StudyCatalog
{
public:
    explicit StudyCatalog(Database *database) : m_database(database) {}

    bool studyRows(QList<StudyTableRow> *rows, QString *error) const;
    bool seriesOf(const QString &studyUid, QList<SeriesRecord> *series, QString *error) const;
    // The same list where a failed read may simply show nothing.
    QList<SeriesRecord> seriesOf(const QString &studyUid) const;
    // Every series of the study with its slices, in the index's series order.
    QList<SeriesSlices> seriesWithSlices(const QString &studyUid) const;
    QList<SliceRef> slicesOf(const QString &seriesUid) const;
    // Every file of the study, as indexed.
    QStringList filesOf(const QString &studyUid) const;
    std::optional<StudyRecord> study(const QString &studyUid) const;
    bool studyExists(const QString &studyUid) const;
    ComparisonChoices comparisonChoices(const QString &studyUid) const;

    // Stops at the first study the index refuses; error says which and why.
    bool setProtected(const QStringList &studyUids, bool isProtected, QString *error) const;
    bool removeFromList(const QStringList &studyUids, QString *error) const;
    // Which of the study's files the program may delete: those in managed
    // storage below dataDirectory. Files of folder imports stay the user's.
    StudyFilePlan filePlan(const QString &studyUid, const QString &dataDirectory) const;
    // The plan's files, then the study's rows.
    bool removeCompletely(const QString &studyUid, const StudyFilePlan &plan, QString *error) const;

private:
    Database *m_database;
};

} // namespace db
