#include "dicom/ExtractionBudget.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace dicom {

namespace {

// Asking the file system for every 64 KiB block would cost more than the
// write; once per 16 MiB still notices another program filling the disk.
constexpr qint64 kDiskCheckInterval = 16LL * 1024 * 1024;
constexpr qint64 kMebibyte = 1024LL * 1024;

// QStorageInfo needs a path that exists, and the storage folder is created
// only after a successful extraction: its nearest existing ancestor sits on
// the same disk.
QStorageInfo diskOf(const QString &path)
{
    QString probe = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    while (!QFileInfo::exists(probe)) {
        const QString parent = QFileInfo(probe).path();
        if (parent == probe)
            break;
        probe = parent;
    }
    return QStorageInfo(probe);
}

// Free bytes above the reserve; an unreadable disk offers no room at all.
qint64 roomAbove(const QStorageInfo &disk, qint64 reserveBytes)
{
    if (!disk.isValid() || !disk.isReady())
        return 0;
    return std::max<qint64>(0, disk.bytesAvailable() - reserveBytes);
}

} // namespace

ExtractionBudget::ExtractionBudget(const QString &extractionFolder, const QString &storageFolder,
                                   qint64 reserveBytes)
    : m_extractionFolder(extractionFolder), m_reserve(std::max<qint64>(0, reserveBytes))
{
    const QStorageInfo extractionDisk = diskOf(extractionFolder);
    const QStorageInfo storageDisk = diskOf(storageFolder);
    m_sameDisk = extractionDisk.device() == storageDisk.device()
                 && extractionDisk.rootPath() == storageDisk.rootPath();
    const qint64 extractionRoom = roomAbove(extractionDisk, m_reserve);
    m_granted = m_sameDisk ? extractionRoom / 2 : std::min(extractionRoom, roomAbove(storageDisk, m_reserve));
}

bool ExtractionBudget::admits(quint64 bytes) const
{
    return bytes <= static_cast<quint64>(m_granted - m_written);
}

bool ExtractionBudget::take(qint64 bytes)
{
    if (bytes < 0 || !admits(static_cast<quint64>(bytes)))
        return false;
    m_written += bytes;
    if (m_written < m_nextDiskCheck)
        return true;
    m_nextDiskCheck = m_written + kDiskCheckInterval;
    // The block is not on disk yet, and on a shared disk everything written so
    // far still needs room for its copy.
    const qint64 needed = m_reserve + bytes + (m_sameDisk ? m_written : 0);
    const QStorageInfo disk = diskOf(m_extractionFolder);
    return disk.isValid() && disk.bytesAvailable() >= needed;
}

QString ExtractionBudget::exhaustedMessage() const
{
    return QStringLiteral("Архив не помещается на диск: распакованные данные заняли бы больше %1 МБ, "
                          "доступных для импорта. Импорт остановлен, распакованные файлы удалены. "
                          "Освободите место на диске и повторите импорт.")
        .arg(m_granted / kMebibyte);
}

} // namespace dicom
