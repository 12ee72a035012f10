// Writes small 7z archives of the given files for the archive fuzzer's seed
// corpus (Python has no 7z writer here): one per compression method that
// libarchive writes, each with a folder entry beside the files.
// Usage: make_7z_seeds OUT_DIR FILE...

#include <archive.h>
#include <archive_entry.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace {

using Writer = std::unique_ptr<struct archive, int (*)(struct archive *)>;
using Entry = std::unique_ptr<struct archive_entry, void (*)(struct archive_entry *)>;

bool writeEntry(struct archive *out, const QByteArray &name, const QByteArray &data, bool folder)
{
    Entry entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname(entry.get(), name.constData());
    archive_entry_set_filetype(entry.get(), folder ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(entry.get(), folder ? 0755 : 0644);
    archive_entry_set_size(entry.get(), folder ? 0 : data.size());
    if (archive_write_header(out, entry.get()) != ARCHIVE_OK)
        return false;
    return folder || archive_write_data(out, data.constData(), size_t(data.size())) == data.size();
}

bool write7z(const QString &path, const char *compression, const QStringList &files)
{
    Writer out(archive_write_new(), archive_write_free);
    archive_write_set_format_7zip(out.get());
    archive_write_set_format_option(out.get(), "7zip", "compression", compression);
    if (archive_write_open_filename(out.get(), QFile::encodeName(path).constData()) != ARCHIVE_OK)
        return false;
    if (!writeEntry(out.get(), "series", {}, true))
        return false;
    for (const QString &file : files) {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        if (!writeEntry(out.get(), "series/" + QFileInfo(file).fileName().toUtf8(), in.readAll(), false))
            return false;
    }
    return archive_write_close(out.get()) == ARCHIVE_OK;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_7z_seeds OUT_DIR FILE...\n");
        return 2;
    }
    const QDir outDir(QString::fromLocal8Bit(argv[1]));
    QStringList files;
    for (int i = 2; i < argc; ++i)
        files.append(QString::fromLocal8Bit(argv[i]));
    for (const char *compression : {"store", "deflate", "bzip2", "lzma1", "lzma2", "ppmd"}) {
        const QString path = outDir.filePath(QStringLiteral("seed-%1.7z").arg(QLatin1String(compression)));
        if (!write7z(path, compression, files)) {
            std::fprintf(stderr, "cannot write %s\n", QFile::encodeName(path).constData());
            return 1;
        }
    }
    return 0;
}
