#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace velmaris {

// One running workstation per user: a lock file in the user's runtime
// directory, held for the life of the first instance. A lock left behind by a
// crashed instance is recognised by its dead owner and taken over.
class SingleInstanceGuard
{
public:
    enum class Outcome {
        FirstInstance,   // the lock is ours
        AlreadyRunning,  // another live instance holds it
        Unavailable,     // no lock could be made at all; run as the first instance
    };

    explicit SingleInstanceGuard(const QString &name);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    Outcome acquire();
    QString lockFilePath() const;

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace velmaris
