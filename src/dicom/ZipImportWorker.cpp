#include "dicom/ZipImportWorker.h"

#include "dicom/ArchiveExtraction.h"
#include "dicom/DicomSummaryReader.h"
#include "dicom/ExtractionBudget.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QCoreApplication>

#include <cerrno>
#include <csignal>

namespace dicom {

namespace {

// Content-derived names make a second import of the same object land on the
// same file, whatever the archive called it.
QString md5Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

const QString temporaryPrefix = QStringLiteral("velmaris-archive-");

// Unpacking folders left behind by imports whose process died before it
// could remove them ("velmaris-archive-<pid>-XXXXXX"): a process that no
// longer exists cannot be using its folder.
void removeAbandonedFolders()
{
    const QDir temp(QDir::tempPath());
    const QStringList folders =
        temp.entryList({temporaryPrefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : folders) {
        const QString pidText = name.mid(temporaryPrefix.size()).section(QLatin1Char('-'), 0, 0);
        bool ok = false;
        const qint64 pid = pidText.toLongLong(&ok);
        if (!ok || pid <= 0 || pid == QCoreApplication::applicationPid())
            continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        QDir(temp.filePath(name)).removeRecursively();
    }
}

QString damagedEntriesMessage(const QStringList &names)
{
    constexpr int shown = 10;
    QString list = names.mid(0, shown).join(QStringLiteral(", "));
    if (names.size() > shown)
        list += QStringLiteral(" …");
    return QStringLiteral("Повреждённые элементы архива пропущены (%1): %2").arg(names.size()).arg(list);
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    // Extraction order, so the same archive is always processed the same way.
    files.sort();
    return files;
}

} // namespace

struct ZipImportWorker::Outcome
{
    int imported = 0;
    int skipped = 0;
    QString message;
};

ZipImportWorker::ZipImportWorker(const QString &archivePath, const QString &storageRoot, QObject *parent)
    : QObject(parent), m_archivePath(archivePath), m_storageRoot(storageRoot)
{
}

void ZipImportWorker::setDiskReserveBytes(qint64 bytes)
{
    m_diskReserveBytes = bytes;
}

qint64 ZipImportWorker::diskReserveBytes() const
{
    return m_diskReserveBytes;
}

void ZipImportWorker::run()
{
    // The temporary folder lives only inside importArchive, so it is gone by
    // the time anyone hears that the import finished.
    const Outcome outcome = importArchive();
    emit finished(outcome.imported, outcome.skipped, outcome.message);
}

ZipImportWorker::Outcome ZipImportWorker::importArchive()
{
    Outcome outcome;
    removeAbandonedFolders();
    // The process id in the name lets a later import clean up after this one
    // should the process die before its folder is removed.
    QTemporaryDir temporary(QDir(QDir::tempPath())
                                .filePath(temporaryPrefix + QString::number(QCoreApplication::applicationPid())
                                          + QStringLiteral("-XXXXXX")));
    if (!temporary.isValid()) {
        outcome.message = QStringLiteral("Не удалось создать временную папку для распаковки");
        return outcome;
    }

    // Nothing reaches storage before the extraction has finished, so an
    // archive stopped for lack of space leaves nothing behind once the
    // temporary folder is gone.
    ExtractionBudget budget(temporary.path(), m_storageRoot, m_diskReserveBytes);
    const bool is7z = m_archivePath.endsWith(QLatin1String(".7z"), Qt::CaseInsensitive);
    QString error;
    ExtractionReport report;
    const bool extracted = is7z ? extract7zArchive(m_archivePath, temporary.path(), budget, &error, &report)
                                : extractZipArchive(m_archivePath, temporary.path(), budget, &error, &report);
    if (!extracted) {
        outcome.message = error;
        return outcome;
    }

    const QDir storage(QFileInfo(m_storageRoot).absoluteFilePath());
    QDir().mkpath(storage.path());
    int copyFailures = 0;
    for (const QString &file : filesBelow(temporary.path())) {
        if (!isDicomFile(file)) {
            ++outcome.skipped;
            continue;
        }
        std::optional<DicomFileSummary> summary = readSummary(file);
        if (!summary) {
            ++outcome.skipped;
            continue;
        }
        const QString seriesFolder = storage.filePath(md5Hex(summary->series_instance_uid));
        QDir().mkpath(seriesFolder);
        const QString target = QDir(seriesFolder).filePath(md5Hex(summary->sop_instance_uid) + QStringLiteral(".dcm"));
        if (!QFileInfo::exists(target) && !QFile::copy(file, target)) {
            ++outcome.skipped;
            ++copyFailures;
            continue;
        }
        summary->file_path = target;
        emit fileFound(*summary);
        ++outcome.imported;
        emit progress(outcome.imported + outcome.skipped);
    }

    QStringList messages;
    if (!report.damagedEntries.isEmpty()) {
        outcome.skipped += int(report.damagedEntries.size());
        messages.append(damagedEntriesMessage(report.damagedEntries));
    }
    if (copyFailures > 0) {
        messages.append(QStringLiteral("Не удалось скопировать файлов в постоянное хранилище: %1 (пропущены, "
                                         "не импортированы). Возможная причина — слишком длинный путь к папке "
                                         "данных пользователя.")
                              .arg(copyFailures));
    }
    outcome.message = messages.join(QLatin1Char('\n'));
    return outcome;
}

} // namespace dicom
