#pragma once

#include <QString>
#include <QtGlobal>

namespace dicom {

// How many bytes an archive may expand to before the disk gets too full. An
// archive's declared sizes can lie (a "zip bomb" announces a few bytes and
// inflates to gigabytes), so the extractors ask twice: once for what the
// archive declares, and again for every block they are about to write.
class ExtractionBudget
{
public:
    // Measures the free space where the archive is unpacked and where its
    // files will be copied afterwards, keeping reserveBytes free on both. When
    // both folders share a disk, every extracted byte needs a second byte for
    // its copy, so only half of the room is granted to the extraction.
    ExtractionBudget(const QString &extractionFolder, const QString &storageFolder, qint64 reserveBytes);

    // Whether `bytes` more bytes still fit, without taking them.
    bool admits(quint64 bytes) const;
    // Takes room for one block about to be written; false when it does not fit,
    // either by the count kept so far or because the disk filled up meanwhile.
    bool take(qint64 bytes);

    qint64 grantedBytes() const { return m_granted; }
    qint64 writtenBytes() const { return m_written; }

    // The message that ends an import refused or stopped for lack of space.
    QString exhaustedMessage() const;

private:
    QString m_extractionFolder;
    qint64 m_reserve = 0;
    bool m_sameDisk = true;
    qint64 m_granted = 0;
    qint64 m_written = 0;
    qint64 m_nextDiskCheck = 0;
};

} // namespace dicom
