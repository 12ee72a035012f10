#include "platform/SingleInstanceGuard.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace velmaris {

SingleInstanceGuard::SingleInstanceGuard(const QString &name)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    m_path = QDir(folder).filePath(name + QStringLiteral(".lock"));
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

SingleInstanceGuard::Outcome SingleInstanceGuard::acquire()
{
    m_lock = std::make_unique<QLockFile>(m_path);
    // Age alone never makes the lock stale: a long-running workstation keeps
    // it for days. Qt still removes a lock whose owning process is gone.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Outcome::FirstInstance;
    if (m_lock->error() == QLockFile::LockFailedError)
        return Outcome::AlreadyRunning;
    return Outcome::Unavailable;
}

QString SingleInstanceGuard::lockFilePath() const
{
    return m_path;
}

} // namespace velmaris
