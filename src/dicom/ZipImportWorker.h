#pragma once

#include "dicom/DicomFileSummary.h"

#include <QObject>
#include <QString>

namespace dicom {

// Imports the DICOM files of a ZIP or 7z archive: unpacks it into a temporary
// folder, copies each readable DICOM file into managed storage under a name
// derived from its UIDs (series folder, then SOP instance file) and reports its
// summary. Lives on a thread of its own; one instance serves one archive.
class ZipImportWorker : public QObject
{
    Q_OBJECT
public:
    // Free space an import leaves on the disks it writes to by default.
    static constexpr qint64 defaultDiskReserveBytes = 512LL * 1024 * 1024;

    ZipImportWorker(const QString &archivePath, const QString &storageRoot, QObject *parent = nullptr);

    // Bytes that must stay free on the disk of the temporary folder and on the
    // disk of the storage root. An archive that would expand into them is
    // refused, or stopped while unpacking, before any file reaches storage.
    void setDiskReserveBytes(qint64 bytes);
    qint64 diskReserveBytes() const;

public slots:
    void run();

signals:
    void fileFound(const dicom::DicomFileSummary &summary);
    void progress(int filesProcessed);
    void finished(int imported, int skipped, const QString &errorMessage);

private:
    struct Outcome;
    Outcome importArchive();

    QString m_archivePath;
    QString m_storageRoot;
    qint64 m_diskReserveBytes = defaultDiskReserveBytes;
};

} // namespace dicom
