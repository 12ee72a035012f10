#include "pacs/MiniPacsService.h"

#include "db/Database.h"
#include "dicom/DcmtkAccess.h"
#include "dicom/DicomSummaryReader.h"
#include "MiniPacsScp.h"

#include <dcmtk/dcmnet/cond.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QSet>
#include <QSettings>
#include <QThread>

namespace pacs {

namespace {

const QString group = QStringLiteral("miniPacs");

// A burst of objects is indexed in batches of at most this many per turn of
// the event loop, so that the window keeps answering meanwhile.
constexpr int maxIndexBatch = 200;

// Files below the storage folder that the index does not know: received
// while indexing failed (or the program ended first). Read on the server
// thread, which has its own connection.
QStringList unindexedFiles(db::Database &database, const QString &storageFolder)
{
    const QStringList known = database.allFilePaths();
    const QSet<QString> indexed(known.cbegin(), known.cend());
    QStringList missing;
    QDirIterator it(storageFolder, {QStringLiteral("*.dcm")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!indexed.contains(path))
            missing.append(path);
    }
    return missing;
}

} // namespace

MiniPacsService::Settings MiniPacsService::loadSettings()
{
    QSettings settings;
    settings.beginGroup(group);
    Settings s;
    s.enabled = settings.value(QStringLiteral("enabled"), s.enabled).toBool();
    s.aeTitle = settings.value(QStringLiteral("aeTitle"), s.aeTitle).toString();
    s.port = settings.value(QStringLiteral("port"), s.port).toInt();
    return s;
}

void MiniPacsService::saveSettings(const Settings &s)
{
    QSettings settings;
    settings.beginGroup(group);
    settings.setValue(QStringLiteral("enabled"), s.enabled);
    settings.setValue(QStringLiteral("aeTitle"), s.aeTitle);
    settings.setValue(QStringLiteral("port"), s.port);
}

MiniPacsService::MiniPacsService(db::Database *database, const QString &databasePath, const QString &storageFolder,
                                 QObject *parent)
    : QObject(parent), m_database(database), m_databasePath(databasePath),
      m_storageFolder(QDir::cleanPath(QDir(storageFolder).absolutePath()))
{
    // DCMTK leaves Nagle's algorithm on unless TCP_NODELAY says otherwise; a
    // C-STORE response then waits for the peer's delayed acknowledgement,
    // some 40 ms per object whoever sends. Set once, early, before the server
    // thread reads it; a value the user chose is kept.
    if (!qEnvironmentVariableIsSet("TCP_NODELAY"))
        qputenv("TCP_NODELAY", "1");
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(archiveQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &MiniPacsService::archiveChanged);
}

MiniPacsService::~MiniPacsService()
{
    stop();
}

void MiniPacsService::setConfigSource(std::function<PacsConfig()> source)
{
    m_configSource = std::move(source);
}

void MiniPacsService::appendLog(const QString &text)
{
    const QString line = QStringLiteral("%1  %2").arg(QDateTime::currentDateTime().toString(QStringLiteral("dd.MM HH:mm:ss")), text);
    m_log.append(line);
    while (m_log.size() > maxLogLines)
        m_log.removeFirst();
    emit logAppended(line);
}

void MiniPacsService::start(const Settings &settings)
{
    stop();
    auto stopFlag = std::make_shared<std::atomic_bool>(false);
    m_stop = stopFlag;
    const QString databasePath = m_databasePath;
    const QString storage = m_storageFolder;
    const std::function<PacsConfig()> configSource = m_configSource;
    // Both callbacks run on the server thread and queue their work here; the
    // service outlives the thread (stop() waits for it).
    MiniPacsScp::Hooks hooks;
    hooks.log = [this](const QString &text) {
        QMetaObject::invokeMethod(this, [this, text] { appendLog(text); }, Qt::QueuedConnection);
    };
    hooks.stored = [this](const QString &path) {
        QMetaObject::invokeMethod(this, [this, path] { onFileStored(path); }, Qt::QueuedConnection);
    };
    hooks.config = configSource;

    m_thread = QThread::create([settings, databasePath, storage, hooks, stopFlag] {
        dicom::prepareDcmtkLibrary();
        db::Database database(nullptr);
        if (!database.open(databasePath)) {
            hooks.log(QStringLiteral("Мини-PACS: не удалось открыть базу: %1").arg(database.lastError()));
            return;
        }
        MiniPacsScp scp(&database, settings.aeTitle, storage, hooks, stopFlag.get());
        scp.setPort(Uint16(settings.port));
        scp.setAETitle(settings.aeTitle.toLatin1().constData());
        hooks.log(QStringLiteral("Мини-PACS запущен: AE «%1», порт %2").arg(settings.aeTitle).arg(settings.port));

        // What an earlier run received but could not index goes in again.
        const QStringList missing = unindexedFiles(database, storage);
        if (!missing.isEmpty()) {
            hooks.log(QStringLiteral("Мини-PACS: %1 принятых файлов нет в архиве — добавляю снова").arg(missing.size()));
            for (const QString &path : missing)
                hooks.stored(path);
        }

        bool reported = false;
        while (!stopFlag->load()) {
            const OFCondition cond = scp.listen();
            if (stopFlag->load())
                break;
            if (cond.good() || cond == NET_EC_StopAfterConnectionTimeout || cond == DUL_NOASSOCIATIONREQUEST)
                continue;
            if (!reported) {
                hooks.log(QStringLiteral("Ошибка сервера: %1 (порт %2 занят или заблокирован?)")
                              .arg(QString::fromLocal8Bit(cond.text()))
                              .arg(settings.port));
                reported = true;
            }
            QThread::msleep(2000);
        }
        hooks.log(QStringLiteral("Мини-PACS остановлен"));
    });
    const quint64 generation = ++m_generation;
    connect(m_thread, &QThread::finished, this, [this, generation] { onThreadFinished(generation); });
    m_thread->start();
    emit runningChanged(true);
}

void MiniPacsService::onThreadFinished(quint64 generation)
{
    // The thread ended by itself (its database would not open).
    if (generation != m_generation || m_thread == nullptr)
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    emit runningChanged(false);
}

void MiniPacsService::stop()
{
    if (m_thread == nullptr)
        return;
    m_stop->store(true);
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    ++m_generation;
    emit runningChanged(false);
}

void MiniPacsService::restart()
{
    stop();
    const Settings settings = loadSettings();
    if (settings.enabled)
        start(settings);
}

void MiniPacsService::onFileStored(const QString &path)
{
    m_pending.append(path);
    if (!m_indexQueued) {
        m_indexQueued = true;
        QMetaObject::invokeMethod(this, &MiniPacsService::indexPending, Qt::QueuedConnection);
    }
}

void MiniPacsService::indexPending()
{
    m_indexQueued = false;
    const QStringList paths = m_pending.mid(0, maxIndexBatch);
    m_pending.remove(0, paths.size());
    if (!m_pending.isEmpty()) {
        m_indexQueued = true;
        QMetaObject::invokeMethod(this, &MiniPacsService::indexPending, Qt::QueuedConnection);
    }

    QVector<dicom::DicomFileSummary> summaries;
    QStringList summaryPaths;
    QHash<QString, QString> studyOfSop; // within this batch
    for (const QString &path : paths) {
        const std::optional<dicom::DicomFileSummary> summary = dicom::readSummary(path);
        if (!summary) {
            appendLog(QStringLiteral("Принятый файл не удалось добавить в архив: %1").arg(path));
            continue;
        }
        // An instance row belongs to one study: an object that claims the UID
        // of another study's instance is kept on disk but must not take over
        // that study's row and file.
        QString owner = studyOfSop.value(summary->sop_instance_uid);
        if (owner.isEmpty())
            owner = m_database->studyOfInstance(summary->sop_instance_uid);
        if (!owner.isEmpty() && owner != summary->study_instance_uid) {
            appendLog(QStringLiteral("Конфликт SOP Instance UID %1: он уже есть в исследовании %2 — файл %3 сохранён, "
                                     "но в архив не добавлен")
                          .arg(summary->sop_instance_uid, owner, path));
            continue;
        }
        studyOfSop.insert(summary->sop_instance_uid, summary->study_instance_uid);
        summaries.append(*summary);
        summaryPaths.append(path);
    }
    if (summaries.isEmpty())
        return;
    QVector<bool> results;
    const int stored = m_database->insertSummaries(summaries, &results);
    for (qsizetype i = 0; i < results.size(); ++i) {
        if (!results.at(i))
            appendLog(QStringLiteral("Принятый файл не удалось добавить в архив: %1").arg(summaryPaths.at(i)));
    }
    if (stored > 0)
        m_quiet.start();
}

} // namespace pacs
