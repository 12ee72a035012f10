#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

namespace db {

// Keeps a batch of upserts in one transaction. Rolls back on destruction unless
// committed, so an early return can never leave the connection inside BEGIN.
class TransactionGuard
{
public:
    explicit TransactionGuard(QSqlDatabase &db) : m_db(db), m_active(m_db.transaction()) {}
    ~TransactionGuard()
    {
        if (m_active)
            m_db.rollback();
    }
    TransactionGuard(const TransactionGuard &) = delete;
    TransactionGuard &operator=(const TransactionGuard &) = delete;

    bool active() const { return m_active; }

    // SQLite rolls a transaction back by itself on some errors (disk full, I/O
    // error); there is nothing left for the guard to undo then.
    void forget() { m_active = false; }

    bool commit(QString *error)
    {
        if (!m_active)
            return true;
        if (m_db.commit()) {
            m_active = false;
            return true;
        }
        if (error)
            *error = m_db.lastError().text();
        return false;
    }

private:
    QSqlDatabase &m_db;
    bool m_active;
};


} // namespace db
