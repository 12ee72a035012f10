#include "db/IndexWriter.h"

#include "db/Database.h"

namespace db {

IndexWriter::IndexWriter(Database *database, int batchSize) : m_database(database), m_batchSize(batchSize)
{
    if (batchSize > 0)
        m_batch.reserve(batchSize);
}

IndexWriter::~IndexWriter() = default;

void IndexWriter::add(const dicom::DicomFileSummary &summary)
{
    m_batch.append(summary);
    if (m_batchSize > 0 && m_batch.size() >= m_batchSize)
        flush();
}

void IndexWriter::flush()
{
    if (m_batch.isEmpty())
        return;
    const int stored = m_database->insertSummaries(m_batch);
    m_stored += stored;
    m_rejected += int(m_batch.size()) - stored;
    if (stored < m_batch.size())
        m_lastRefusal = m_database->lastError();
    m_batch.clear();
}

} // namespace db
