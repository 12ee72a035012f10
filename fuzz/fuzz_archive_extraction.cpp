// ZIP and 7z extraction on arbitrary bytes. Every input goes through both
// extractors: each must refuse the other's format (and anything else)
// cleanly, and a fuzzer that mutates a ZIP into a 7z finds both paths.

#include "FuzzSupport.h"

#include "dicom/ArchiveExtraction.h"
#include "dicom/ExtractionBudget.h"

#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// The budget grants half the room above the reserve on a shared disk: a
// reserve of all but 32 MiB lets one input expand to 16 MiB, enough for the
// seeds and small enough that a bomb hits the budget, not the memory limit.
constexpr qint64 kRoomBytes = 32LL * 1024 * 1024;

void extractInto(bool zip, const QString &archivePath)
{
    QTemporaryDir folder(QStringLiteral("/dev/shm/velmaris-fuzz-extract-XXXXXX"));
    if (!folder.isValid())
        return;
    const QStorageInfo disk(folder.path());
    const qint64 reserve = std::max<qint64>(0, disk.bytesAvailable() - kRoomBytes);
    dicom::ExtractionBudget budget(folder.path(), folder.filePath(QStringLiteral("storage")), reserve);
    QString error;
    dicom::ExtractionReport report;
    if (zip)
        (void)dicom::extractZipArchive(archivePath, folder.path(), budget, &error, &report);
    else
        (void)dicom::extract7zArchive(archivePath, folder.path(), budget, &error, &report);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    velmaris::fuzz::prepareProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const velmaris::fuzz::TmpfsFile file(data, size, ".archive");
    if (!file.ok())
        return 0;
    extractInto(true, file.path());
    extractInto(false, file.path());
    return 0;
}
