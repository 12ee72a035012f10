#include "platform/OpticalDrives.h"

#include <QDir>
#include <QRegularExpression>

namespace velmaris {

OpticalDrives::OpticalDrives(const QString &deviceFolder) : m_deviceFolder(deviceFolder) {}

QStringList OpticalDrives::devices() const
{
    static const QRegularExpression name(QStringLiteral("^sr[0-9]+$"));
    QStringList found;
    const QDir folder(m_deviceFolder);
    // Device nodes are "system" entries to QDir.
    for (const QString &entry : folder.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (name.match(entry).hasMatch())
            found << folder.filePath(entry);
    }
    return found;
}

} // namespace velmaris
