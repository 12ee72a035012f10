#pragma once

#include <QString>
#include <QStringList>

namespace velmaris {

// Optical drives as the system reports them: the block devices sr0, sr1 …
// that the kernel creates for every CD/DVD drive it sees. Cheap enough to be
// polled every few seconds.
class OpticalDrives
{
public:
    explicit OpticalDrives(const QString &deviceFolder = QStringLiteral("/dev"));

    QStringList devices() const; // full device paths, sorted
    bool present() const { return !devices().isEmpty(); }

private:
    QString m_deviceFolder;
};

} // namespace velmaris
