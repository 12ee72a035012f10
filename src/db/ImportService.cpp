#include "db/ImportService.h"

#include "db/Database.h"
#include "db/IndexWriter.h"
#include "dicom/DicomImporter.h"
#include "dicom/FolderScan.h"
#include "dicom/ZipImportWorker.h"

#include <QThread>

#include <utility>

namespace db {

namespace {

// An archive reports every file; its summaries are written in groups of this size.
constexpr int archiveBatch = 25;

ImportOutcome outcomeOf(int found, int skipped, const IndexWriter &writer)
{
    ImportOutcome outcome;
    outcome.refused = writer.rejected();
    outcome.added = found - outcome.refused;
    outcome.skipped = skipped + outcome.refused;
    outcome.refusal = writer.lastRefusal();
    return outcome;
}

} // namespace

ImportService::ImportService(Database *database, QObject *parent) : QObject(parent), m_database(database)
{
    dicom::registerSummaryMetaType();
    qRegisterMetaType<db::ImportOutcome>();
}

ImportService::~ImportService()
{
    // The index may already be gone: only the thread is wound down here.
    if (m_thread != nullptr)
        m_thread->requestInterruption();
    endThread();
}

bool ImportService::begin(Source source)
{
    if (m_thread != nullptr)
        return false;
    m_source = source;
    m_writer = std::make_unique<IndexWriter>(m_database);
    m_batchSeries.clear();
    m_thread = new QThread(this);
    return true;
}

bool ImportService::startFolder(const QString &folder)
{
    if (!begin(Source::Folder))
        return false;
    auto *importer = new dicom::DicomImporter;
    importer->moveToThread(m_thread);
    connect(m_thread, &QThread::started, importer, [importer, folder] { importer->importDirectory(folder); });
    connect(importer, &dicom::DicomImporter::fileFound, this, &ImportService::onFileFound, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::progress, this, &ImportService::onScanProgress, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::errorOccurred, this, &ImportService::failed, Qt::QueuedConnection);
    connect(
        importer, &dicom::DicomImporter::finished, this,
        [this](int found, int skipped) { onWalkFinished(found, skipped, QString()); }, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::finished, m_thread, &QThread::quit);
    connect(m_thread, &QThread::finished, importer, &QObject::deleteLater);
    m_thread->start(QThread::InheritPriority);
    return true;
}

bool ImportService::startArchive(const QString &archive, const QString &storageRoot)
{
    if (!begin(Source::Archive))
        return false;
    auto *worker = new dicom::ZipImportWorker(archive, storageRoot, nullptr);
    worker->moveToThread(m_thread);
    connect(m_thread, &QThread::started, worker, &dicom::ZipImportWorker::run);
    connect(worker, &dicom::ZipImportWorker::fileFound, this, &ImportService::onFileFound, Qt::QueuedConnection);
    connect(worker, &dicom::ZipImportWorker::progress, this, &ImportService::onUnpackProgress, Qt::QueuedConnection);
    connect(worker, &dicom::ZipImportWorker::finished, this, &ImportService::onWalkFinished, Qt::QueuedConnection);
    connect(worker, &dicom::ZipImportWorker::finished, m_thread, &QThread::quit);
    connect(m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread->start(QThread::InheritPriority);
    return true;
}

void ImportService::onFileFound(const dicom::DicomFileSummary &summary)
{
    if (!m_writer)
        return;
    m_writer->add(summary);
    const QPair<QString, QString> series(summary.study_instance_uid, summary.series_instance_uid);
    if (!m_batchSeries.contains(series))
        m_batchSeries.append(series);
}

void ImportService::writeBatch()
{
    if (!m_writer)
        return;
    const int storedBefore = m_writer->stored();
    m_writer->flush();
    const bool wrote = m_writer->stored() > storedBefore;
    const QList<QPair<QString, QString>> series = std::exchange(m_batchSeries, {});
    if (!wrote)
        return;
    for (const auto &[study, seriesUid] : series)
        emit seriesIndexed(study, seriesUid);
}

void ImportService::onScanProgress(int filesScanned, int dicomFilesFound)
{
    writeBatch();
    emit scanProgressed(filesScanned, dicomFilesFound);
}

void ImportService::onUnpackProgress(int filesProcessed)
{
    if (m_writer && m_writer->pending() >= archiveBatch)
        writeBatch();
    emit unpackProgressed(filesProcessed);
}

void ImportService::onWalkFinished(int found, int skipped, const QString &error)
{
    if (!m_writer)
        return;
    writeBatch();
    ImportOutcome outcome = outcomeOf(found, skipped, *m_writer);
    outcome.error = error;
    m_writer.reset();
    endThread();
    emit finished(outcome);
}

void ImportService::endThread()
{
    if (m_thread == nullptr)
        return;
    // The worker has sent its last signal, or was asked to stop; let the
    // thread end before it is scheduled for deletion.
    m_thread->quit();
    m_thread->wait();
    m_thread->deleteLater();
    m_thread = nullptr;
}

void ImportService::stop()
{
    if (m_thread == nullptr)
        return;
    m_thread->requestInterruption();
    endThread();
    // Summaries already found are kept: they are real files on disk.
    writeBatch();
    m_writer.reset();
}

bool ImportService::importFolder(Database *database, const QString &folder, int batchSize, ImportOutcome *outcome,
                                 QString *error)
{
    IndexWriter writer(database, batchSize);
    dicom::FolderScanHandlers handlers;
    handlers.fileFound = [&writer](const dicom::DicomFileSummary &s) { writer.add(s); };
    dicom::FolderScanResult result;
    if (!dicom::scanFolder(folder, handlers, &result, error))
        return false;
    writer.flush();
    *outcome = outcomeOf(result.found, result.skipped, writer);
    return true;
}

} // namespace db
