#pragma once

#include "db/ImportOutcome.h"
#include "dicom/DicomFileSummary.h"

#include <QObject>
#include <QString>

#include <memory>

class QThread;

namespace db {

class Database;
class IndexWriter;

// The one way files come into the index: a folder walk or an archive's
// unpacking runs on a thread of its own, and their summaries are written here,
// on the service's thread, in batches (one transaction each). Windows start an
// import and show its progress; the command line runs the same walk in place.
class ImportService : public QObject
{
    Q_OBJECT
public:
    enum class Source { Folder, Archive };

    explicit ImportService(Database *database, QObject *parent = nullptr);
    ~ImportService() override; // interrupts a running import, writes nothing more

    // False when an import is already running: one at a time.
    bool startFolder(const QString &folder);
    // Copies the archive's DICOM files into storageRoot, then indexes them.
    bool startArchive(const QString &archive, const QString &storageRoot);

    bool isRunning() const { return m_thread != nullptr; }
    Source source() const { return m_source; }
    // Interrupts the walk and waits for its thread; what was found so far is
    // written, finished() is not sent.
    void stop();

    // The folder walk on the calling thread, writing batches of batchSize.
    // False only when the walk could not start (error says why); refusals by
    // the index are in the outcome.
    static bool importFolder(Database *database, const QString &folder, int batchSize, ImportOutcome *outcome,
                             QString *error);

signals:
    void scanProgressed(int filesScanned, int dicomFilesFound);
    void unpackProgressed(int filesProcessed);
    // After each batch is written: every series it added files to, once, in
    // the order they were met. A viewer shows files while they come.
    void seriesIndexed(const QString &studyUid, const QString &seriesUid);
    // A folder that could not be walked; finished() follows.
    void failed(const QString &message);
    void finished(const db::ImportOutcome &outcome);

private slots:
    void onFileFound(const dicom::DicomFileSummary &summary);
    void onScanProgress(int filesScanned, int dicomFilesFound);
    void onUnpackProgress(int filesProcessed);
    void onWalkFinished(int found, int skipped, const QString &error);

private:
    bool begin(Source source);
    void writeBatch();
    void endThread();

    Database *m_database;
    Source m_source = Source::Folder;
    QThread *m_thread = nullptr;
    // Summaries wait here until the next progress report, then go into the
    // index in one transaction instead of one commit each.
    std::unique_ptr<IndexWriter> m_writer;
    QList<QPair<QString, QString>> m_batchSeries; // study and series UIDs
};

} // namespace db
