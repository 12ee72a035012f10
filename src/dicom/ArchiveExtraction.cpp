#include "dicom/ArchiveExtraction.h"

#include "dicom/ExtractionBudget.h"

#include <QDir>
#include <QFile>

#include <archive.h>
#include <archive_entry.h>
#include <zip.h>

#include <limits>
#include <memory>
#include <vector>

namespace dicom {

namespace {

// Archive data is streamed; no entry is ever held in memory whole.
constexpr qint64 kBlockSize = 65536;

struct ZipDiscard
{
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
struct ZipFileClose
{
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};
struct ArchiveReadFree
{
    void operator()(struct archive *archive) const { archive_read_free(archive); }
};

using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipEntryFile = std::unique_ptr<zip_file_t, ZipFileClose>;
using ArchiveReader = std::unique_ptr<struct archive, ArchiveReadFree>;

enum class EntryOutcome {
    Written,
    LeftOut,    // output not created or not writable: the entry is dropped
    ReadFailed, // the archive's data broke off: the partial file is dropped
    OutOfSpace,
};

QString entryFilePath(const QString &folder, int index)
{
    return QDir(folder).filePath(QStringLiteral("e%1").arg(index, 8, 10, QLatin1Char('0')));
}

// A partial file is never kept: readSummary stops before Pixel Data, so a
// cut-off image would otherwise be imported as if it were whole.
template <typename ReadBlock>
EntryOutcome streamEntry(const QString &filePath, ReadBlock readBlock, ExtractionBudget &budget)
{
    QFile out(filePath);
    if (!out.open(QIODevice::WriteOnly))
        return EntryOutcome::LeftOut;
    std::vector<char> block(kBlockSize);
    for (;;) {
        const qint64 count = readBlock(block.data(), kBlockSize);
        if (count == 0)
            return EntryOutcome::Written;
        EntryOutcome failure = EntryOutcome::LeftOut;
        if (count < 0)
            failure = EntryOutcome::ReadFailed;
        else if (!budget.take(count))
            failure = EntryOutcome::OutOfSpace;
        else if (out.write(block.data(), count) == count)
            continue;
        out.remove();
        return failure;
    }
}

// Folders and nameless entries carry nothing to import.
bool isZipFileEntry(zip_t *archive, zip_uint64_t index)
{
    const char *name = zip_get_name(archive, index, 0);
    if (name == nullptr || *name == '\0')
        return false;
    return !QByteArray(name).endsWith('/');
}

quint64 saturatingAdd(quint64 a, quint64 b)
{
    return b > std::numeric_limits<quint64>::max() - a ? std::numeric_limits<quint64>::max() : a + b;
}

} // namespace

namespace {

void noteDamaged(ExtractionReport *report, const QString &name)
{
    if (report != nullptr)
        report->damagedEntries.append(name);
}

QString numberedEntry(int index)
{
    return QStringLiteral("элемент №%1").arg(index + 1);
}

// Streams the entries of an archive libarchive has opened. Entry by entry, so
// a damaged entry or an unreadable name costs that entry alone.
bool extractEntries(struct archive *reader, const QString &folder, ExtractionBudget &budget, QString *error,
                    ExtractionReport *report)
{
    int fileIndex = 0;
    int entryIndex = -1;
    struct archive_entry *entry = nullptr;
    for (;;) {
        const int header = archive_read_next_header(reader, &entry);
        if (header == ARCHIVE_EOF || header == ARCHIVE_FATAL)
            break;
        ++entryIndex;
        if (header != ARCHIVE_OK && header != ARCHIVE_WARN)
            continue; // ARCHIVE_RETRY/FAILED: this header only
        if (archive_entry_filetype(entry) != AE_IFREG)
            continue;
        const char *name = archive_entry_pathname_utf8(entry);
        if (name == nullptr)
            name = archive_entry_pathname(entry);
        if (name == nullptr) {
            noteDamaged(report, numberedEntry(entryIndex));
            archive_read_data_skip(reader);
            continue;
        }
        const QString filePath = entryFilePath(folder, fileIndex++);
        // Sizes come one entry at a time; a lie is caught while streaming.
        if (archive_entry_size_is_set(entry) != 0 && archive_entry_size(entry) > 0
            && !budget.admits(static_cast<quint64>(archive_entry_size(entry)))) {
            if (error != nullptr)
                *error = budget.exhaustedMessage();
            return false;
        }
        la_ssize_t failure = ARCHIVE_OK;
        const auto readBlock = [reader, &failure](char *buffer, qint64 size) {
            const la_ssize_t count = archive_read_data(reader, buffer, static_cast<size_t>(size));
            if (count < 0)
                failure = count;
            return static_cast<qint64>(count);
        };
        const EntryOutcome outcome = streamEntry(filePath, readBlock, budget);
        if (outcome == EntryOutcome::OutOfSpace) {
            if (error != nullptr)
                *error = budget.exhaustedMessage();
            return false;
        }
        if (outcome == EntryOutcome::ReadFailed) {
            noteDamaged(report, QString::fromUtf8(name));
            if (failure == ARCHIVE_FATAL)
                break;
        }
        if (outcome == EntryOutcome::LeftOut)
            archive_read_data_skip(reader);
    }
    return true;
}

} // namespace

bool extractZipArchive(const QString &archivePath, const QString &folder, ExtractionBudget &budget,
                       QString *error, ExtractionReport *report)
{
    int code = 0;
    ZipArchive archive(zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &code));
    if (!archive && code == ZIP_ER_INCONS) {
        // libzip refuses the whole central directory for one inconsistent
        // entry (a name flagged UTF-8 that is not); read entry by entry.
        ArchiveReader reader(archive_read_new());
        archive_read_support_format_zip(reader.get());
        if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), kBlockSize)
            == ARCHIVE_OK)
            return extractEntries(reader.get(), folder, budget, error, report);
    }
    if (!archive) {
        if (error != nullptr)
            *error = QStringLiteral("Не удалось открыть ZIP-архив (код ошибки libzip: %1)").arg(code);
        return false;
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);

    // The central directory states every size up front, so an honest bomb is
    // refused before a single byte is written.
    quint64 declared = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (isZipFileEntry(archive.get(), i) && zip_stat_index(archive.get(), i, 0, &stat) == 0
            && (stat.valid & ZIP_STAT_SIZE) != 0)
            declared = saturatingAdd(declared, stat.size);
    }
    if (!budget.admits(declared)) {
        if (error != nullptr)
            *error = budget.exhaustedMessage();
        return false;
    }

    for (zip_int64_t i = 0; i < count; ++i) {
        if (!isZipFileEntry(archive.get(), i))
            continue;
        const QString name = QString::fromUtf8(zip_get_name(archive.get(), i, ZIP_FL_ENC_GUESS));
        ZipEntryFile entry(zip_fopen_index(archive.get(), i, 0));
        if (!entry) {
            noteDamaged(report, name);
            continue;
        }
        const auto readBlock = [&entry](char *buffer, qint64 size) {
            return static_cast<qint64>(zip_fread(entry.get(), buffer, static_cast<zip_uint64_t>(size)));
        };
        const EntryOutcome outcome = streamEntry(entryFilePath(folder, static_cast<int>(i)), readBlock, budget);
        if (outcome == EntryOutcome::OutOfSpace) {
            if (error != nullptr)
                *error = budget.exhaustedMessage();
            return false;
        }
        if (outcome == EntryOutcome::ReadFailed)
            noteDamaged(report, name);
    }
    return true;
}

bool extract7zArchive(const QString &archivePath, const QString &folder, ExtractionBudget &budget,
                      QString *error, ExtractionReport *report)
{
    ArchiveReader reader(archive_read_new());
    archive_read_support_format_7zip(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), kBlockSize)
        != ARCHIVE_OK) {
        if (error != nullptr)
            *error = QStringLiteral("Не удалось открыть 7z-архив: %1")
                         .arg(QString::fromLocal8Bit(archive_error_string(reader.get())));
        return false;
    }
    return extractEntries(reader.get(), folder, budget, error, report);
}

} // namespace dicom
