#pragma once

#include "dicom/DicomFileSummary.h"

#include <QString>
#include <QVector>

namespace db {

class Database;

// How every import stores what it found: summaries gathered and written to
// the index in batches (one transaction each), with the counts the import
// reports. A summary the index refuses is counted as rejected, never as
// added, and the index's own words for the last refusal are kept.
class IndexWriter
{
public:
    // `batchSize` summaries are written as soon as they are gathered; 0
    // leaves every write to flush(). What is still gathered when the writer
    // goes is not written: the owner flushes at the end of its import.
    explicit IndexWriter(Database *database, int batchSize = 0);
    ~IndexWriter();
    IndexWriter(const IndexWriter &) = delete;
    IndexWriter &operator=(const IndexWriter &) = delete;

    void add(const dicom::DicomFileSummary &summary);
    void flush();

    int pending() const { return int(m_batch.size()); }
    int stored() const { return m_stored; }
    int rejected() const { return m_rejected; }
    QString lastRefusal() const { return m_lastRefusal; }

private:
    Database *m_database;
    int m_batchSize;
    QVector<dicom::DicomFileSummary> m_batch;
    int m_stored = 0;
    int m_rejected = 0;
    QString m_lastRefusal;
};

} // namespace db
