#include "ui/pacs/PacsOpenCoordinator.h"

#include "db/Database.h"
#include "db/IndexWriter.h"
#include "db/StudyCatalog.h"
#include "dicom/DicomSummaryReader.h"
#include "pacs/PacsRetrieveWorker.h"
#include "pacs/StorageListener.h"
#include "ui/viewer/ViewerWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace pacs {

namespace {

// Files arriving within this time go into the index together: one
// transaction instead of one per file keeps the window responsive.
constexpr int flushIntervalMs = 100;
constexpr int portRetryMs = 50;

const QString autoNodeDescription = QStringLiteral("(добавлен автоматически из веб-версии)");

bool isInside(const QString &path, const QString &folder)
{
    const QString root = QDir::cleanPath(QDir(folder).absolutePath()) + QLatin1Char('/');
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).startsWith(root);
}

// What a view-only download added goes again: the study's rows when every
// file of it lies in the temporary folder, and the folder's files that no
// row refers to. Rows whose files live elsewhere (the same study saved
// meanwhile) stay, and so do their files.
void discardViewOnly(db::Database *database, const QString &studyUid, const QString &folder)
{
    const db::StudyCatalog catalog(database);
    const QStringList paths = catalog.filesOf(studyUid);
    const bool allOurs = std::all_of(paths.begin(), paths.end(), [&](const QString &p) { return isInside(p, folder); });
    if (allOurs) {
        QString error;
        if (!catalog.removeFromList({studyUid}, &error))
            qWarning("PacsOpenCoordinator: study %s not removed: %s", qUtf8Printable(studyUid),
                     qUtf8Printable(error));
        QDir(folder).removeRecursively();
        return;
    }
    const QSet<QString> kept(paths.begin(), paths.end());
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files)) {
        if (!kept.contains(info.absoluteFilePath()))
            QFile::remove(info.absoluteFilePath());
    }
}

// The thread of the storage listener that has (or last had) the configured
// port: one at a time in the process.
QPointer<QThread> &portHolder()
{
    static QPointer<QThread> thread;
    return thread;
}

} // namespace

PacsOpenCoordinator::PacsOpenCoordinator(db::Database *database, QWidget *window, QObject *parent)
    : QObject(parent),
      m_database(database),
      m_window(window),
      m_dataDirectory(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)),
      m_flushTimer(new QTimer(this))
{
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(flushIntervalMs);
    connect(m_flushTimer, &QTimer::timeout, this, &PacsOpenCoordinator::flushIndex);
}

PacsOpenCoordinator::~PacsOpenCoordinator()
{
    // A retrieve cannot be interrupted: its thread ends on its own and then
    // deletes itself with the worker.
    if (m_listener)
        m_listener->stop();
    if (m_writer)
        m_writer->flush();
}

void PacsOpenCoordinator::setDataDirectory(const QString &dataDirectory)
{
    m_dataDirectory = dataDirectory;
}

QString PacsOpenCoordinator::downloadFolder(const QString &studyInstanceUid) const
{
    return QDir(m_dataDirectory).filePath(QStringLiteral("pacs_downloads/%1").arg(studyInstanceUid));
}

QString PacsOpenCoordinator::viewOnlyFolder(const QString &studyInstanceUid)
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("norvane_temp/%1").arg(studyInstanceUid));
}

void PacsOpenCoordinator::setViewerPresenter(std::function<void(velmaris::ViewerWindow *)> presenter)
{
    m_presenter = std::move(presenter);
}

bool PacsOpenCoordinator::isWaitingForUser() const
{
    return !m_waitingBox.isNull();
}

bool PacsOpenCoordinator::isBusy() const
{
    return m_running || m_waitingForPort || m_retrieveThread != nullptr;
}

void PacsOpenCoordinator::start(const PacsServerConfig &node, const PacsConfig &config,
                                const QString &studyInstanceUid, const QString &destinationFolder, int mode)
{
    if (isBusy()) {
        emit finished(false, QStringLiteral("Предыдущая загрузка ещё не закончена — дождитесь её окончания."), 0);
        return;
    }
    if (node.retrieveMode == RetrieveMode::Move && portHolder() && portHolder()->isRunning()) {
        // The last download's listener, this coordinator's or another's,
        // holds the port until it notices its stop (within its connection
        // time-out): the download begins once the port is free.
        // The thread ends on its own: looked at again shortly rather than
        // waited for on this thread.
        m_waitingForPort = true;
        QTimer::singleShot(portRetryMs, this, [=, this] {
            m_waitingForPort = false;
            start(node, config, studyInstanceUid, destinationFolder, mode);
        });
        return;
    }
    // Viewing a study the archive already has needs no network, and must not
    // put temporary copies in place of the archive's own files.
    const db::StudyCatalog catalog(m_database);
    if (mode == ViewOnly && catalog.studyExists(studyInstanceUid)) {
        const int files = int(catalog.filesOf(studyInstanceUid).size());
        present(openViewer(studyInstanceUid));
        emit finished(true, QString(), files);
        return;
    }
    m_node = node;
    m_config = config;
    m_received = 0;
    m_mode = mode;
    m_folder = destinationFolder;
    m_uid = studyInstanceUid;
    m_listenerError.clear();
    m_pendingSeries.clear();
    m_viewerOpenedForDownload = false;
    m_viewer = nullptr;
    m_writer = std::make_unique<db::IndexWriter>(m_database);
    m_running = true;
    QDir().mkpath(m_folder);

    if (node.retrieveMode != RetrieveMode::Move) {
        startRetrieve();
        return;
    }
    // The C-MOVE goes out only once the listener has its port: the peer
    // connects back at once, and a port that cannot be had makes the whole
    // retrieve pointless.
    m_listenerThread = new QThread;
    portHolder() = m_listenerThread;
    m_listener = new StorageListener(quint16(config.localPort), config.localAeTitle, m_folder);
    m_listener->moveToThread(m_listenerThread);
    connect(m_listenerThread, &QThread::started, m_listener, &StorageListener::run);
    connect(m_listener, &StorageListener::listening, this, &PacsOpenCoordinator::onListenerReady);
    connect(m_listener, &StorageListener::fileReceived, this, &PacsOpenCoordinator::onFileReceived);
    connect(m_listener, &StorageListener::errorOccurred, this, [this](const QString &message) {
        qWarning("StorageListener: %s", qUtf8Printable(message));
        m_listenerError = message;
    });
    // Direct: the thread object lives here, and this thread may be waiting for it.
    connect(m_listener, &StorageListener::stopped, m_listenerThread, &QThread::quit, Qt::DirectConnection);
    connect(m_listener, &StorageListener::stopped, this, &PacsOpenCoordinator::onListenerStopped);
    connect(m_listenerThread, &QThread::finished, m_listener, &QObject::deleteLater);
    connect(m_listenerThread, &QThread::finished, m_listenerThread, &QObject::deleteLater);
    m_listenerThread->start();
}

void PacsOpenCoordinator::onListenerReady()
{
    if (m_running && m_retrieveThread == nullptr)
        startRetrieve();
}

void PacsOpenCoordinator::onListenerStopped()
{
    m_listener = nullptr;
    m_listenerThread = nullptr;
    // Stopped by itself, before the retrieve ended: it could not listen, and
    // nothing the peer sends can reach us.
    if (m_running) {
        complete(false, QStringLiteral("Не удалось скачать исследование:\n%1")
                            .arg(m_listenerError.isEmpty() ? QStringLiteral("приём файлов остановлен")
                                                           : m_listenerError));
    }
}

void PacsOpenCoordinator::startRetrieve()
{
    m_retrieveThread = new QThread;
    m_worker = new PacsRetrieveWorker(m_node, m_config, m_uid, m_folder);
    m_worker->moveToThread(m_retrieveThread);
    connect(m_retrieveThread, &QThread::started, m_worker, &PacsRetrieveWorker::run);
    connect(m_worker, &PacsRetrieveWorker::fileReceived, this, &PacsOpenCoordinator::onFileReceived);
    connect(m_worker, &PacsRetrieveWorker::finished, this, &PacsOpenCoordinator::onDownloadFinished);
    connect(m_worker, &PacsRetrieveWorker::finished, m_retrieveThread, &QThread::quit, Qt::DirectConnection);
    connect(m_retrieveThread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_retrieveThread, &QThread::finished, m_retrieveThread, &QObject::deleteLater);
    m_retrieveThread->start();
}

void PacsOpenCoordinator::onFileReceived(const QString &filePath)
{
    if (!m_running)
        return;
    ++m_received;
    emit fileReceived(m_received);
    const std::optional<dicom::DicomFileSummary> summary = dicom::readSummary(filePath);
    if (!summary)
        return;
    m_writer->add(*summary);
    if (!m_pendingSeries.contains(summary->series_instance_uid))
        m_pendingSeries << summary->series_instance_uid;
    // The first image is shown at once; later ones in batches.
    if (m_mode != SaveOnly && !m_viewerOpenedForDownload)
        flushIndex();
    else if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void PacsOpenCoordinator::flushIndex()
{
    m_flushTimer->stop();
    if (!m_writer || m_writer->pending() == 0)
        return;
    m_writer->flush();
    const QStringList series = std::exchange(m_pendingSeries, {});
    if (m_mode == SaveOnly)
        return;
    if (!m_viewerOpenedForDownload) {
        m_viewerOpenedForDownload = true;
        m_viewer = openViewer(m_uid);
        if (m_mode == ViewOnly)
            removeWhenClosed(m_viewer);
        present(m_viewer);
        return;
    }
    if (m_viewer.isNull())
        return; // closed by the user: not opened again for the same download
    const db::StudyCatalog catalog(m_database);
    for (const db::SeriesRecord &record : catalog.seriesOf(m_uid)) {
        if (series.contains(record.series_instance_uid))
            m_viewer->showSeries(record, catalog.slicesOf(record.series_instance_uid));
    }
}

void PacsOpenCoordinator::onDownloadFinished(bool ok, const QString &errorMessage)
{
    m_worker = nullptr;
    m_retrieveThread = nullptr; // quits and deletes itself
    if (!m_running)
        return; // already ended because the listener gave up
    const QString noFiles = QStringLiteral(
        "Сервер подтвердил запрос, но ни одного файла принято не было.\n\n"
        "Для C-MOVE это обычно значит, что PACS не смог открыть встречное соединение к нашему AE (firewall/NAT) — "
        "попробуйте переключить этот сервер на C-GET в настройках PACS.");
    // Many PACS (dcmqrscp among them) do not report success when they cannot
    // reach us but refuse the move for lack of sub-operations: the same
    // situation for the user, who is told what to try, with the peer's words.
    const bool refusedWithoutFiles = !ok && m_received == 0 && m_node.retrieveMode == RetrieveMode::Move
        && errorMessage.startsWith(QStringLiteral("Сервер отклонил C-MOVE"));
    if (ok && m_received == 0)
        complete(false, noFiles);
    else if (ok)
        complete(true, QString());
    else if (refusedWithoutFiles)
        complete(false, noFiles + QStringLiteral("\n\nОтвет сервера: %1").arg(errorMessage));
    else
        complete(false, QStringLiteral("Не удалось скачать исследование:\n%1").arg(errorMessage));
}

void PacsOpenCoordinator::endThreads()
{
    // No waiting here: the listener notices within its connection time-out
    // and its thread then ends and deletes itself; a download started
    // meanwhile waits for the port to be free (see start()).
    if (m_listener)
        m_listener->stop();
}

void PacsOpenCoordinator::complete(bool ok, const QString &message)
{
    m_running = false;
    flushIndex();
    m_writer.reset();
    endThreads();
    const QString uid = m_uid;
    if (m_discardWhenDone.remove(uid))
        discardViewOnly(m_database, uid, m_folder);
    emit finished(ok, message, m_received);
    // Nobody else watches a download asked for from outside.
    if (std::exchange(m_reportOutcome, false) && !ok && !isWaitingForUser())
        askUser(new QMessageBox(QMessageBox::Warning, QStringLiteral("Скачивание"), message, QMessageBox::Ok, m_window),
                {});
}

velmaris::ViewerWindow *PacsOpenCoordinator::openViewer(const QString &studyInstanceUid)
{
    // Top-level: closing it never touches the window that asked for it.
    auto *viewer = new velmaris::ViewerWindow(studyInstanceUid, false);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setArchive(m_database);
    for (const db::SeriesSlices &series : db::StudyCatalog(m_database).seriesWithSlices(studyInstanceUid))
        viewer->showSeries(series.record, series.slices);
    return viewer;
}

void PacsOpenCoordinator::present(velmaris::ViewerWindow *viewer)
{
    if (m_presenter)
        m_presenter(viewer);
    else
        viewer->showMaximized();
    emit viewerOpened(viewer);
}

void PacsOpenCoordinator::removeWhenClosed(velmaris::ViewerWindow *viewer)
{
    // Bound to the archive, not to this coordinator: the dialog that started
    // the download may be gone by the time the viewer closes.
    db::Database *database = m_database;
    const QString uid = m_uid;
    const QString folder = m_folder;
    QPointer<PacsOpenCoordinator> self(this);
    connect(viewer, &QObject::destroyed, database, [database, uid, folder, self] {
        if (self && self->m_running && self->m_uid == uid) {
            self->m_discardWhenDone.insert(uid);
            return;
        }
        discardViewOnly(database, uid, folder);
    });
}

void PacsOpenCoordinator::askUser(QMessageBox *box, std::function<void(int)> onAnswer)
{
    // Not modal to the application: the bridge keeps serving (and refusing)
    // while the box is up.
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [onAnswer = std::move(onAnswer), box](int) {
        if (onAnswer)
            onAnswer(box->standardButton(box->clickedButton()));
    });
    // Also when the window takes the box down with it.
    connect(box, &QObject::destroyed, this, [this] {
        m_waitingBox = nullptr; // a widget reports its end before guards see it
        emit waitingForUserChanged(false);
    });
    m_waitingBox = box;
    box->open();
    emit waitingForUserChanged(true);
}

void PacsOpenCoordinator::warn(const QString &text)
{
    askUser(new QMessageBox(QMessageBox::Warning, QStringLiteral("Velmaris"), text, QMessageBox::Ok, m_window), {});
}

void PacsOpenCoordinator::openStudy(const velmaris::PacsOpenRequest &request)
{
    // A box per request would let any page stack up boxes without end (and
    // memory with them); the first one keeps the user's attention.
    if (isWaitingForUser()) {
        qWarning("PacsOpenCoordinator: запрос на открытие исследования %s пропущен — предыдущий ещё ждёт ответа",
                 qUtf8Printable(request.studyInstanceUID));
        return;
    }
    qInfo("PacsOpenCoordinator: study=%s host=%s port=%d aet=%s", qUtf8Printable(request.studyInstanceUID),
          qUtf8Printable(request.serverHost), request.serverPort, qUtf8Printable(request.serverAeTitle));
    const QString uid = request.studyInstanceUID.trimmed();
    if (uid.isEmpty()) {
        warn(QStringLiteral("Некорректный запрос на открытие исследования — не передан UID."));
        return;
    }
    if (db::StudyCatalog(m_database).studyExists(uid)) {
        present(openViewer(uid));
        emit waitingForUserChanged(false);
        return;
    }
    if (request.serverHost.trimmed().isEmpty()) {
        warn(QStringLiteral("Исследование %1 не найдено в локальном архиве, а адрес PACS-сервера не передан — "
                            "нечего скачивать.")
                 .arg(uid));
        return;
    }
    // Host and AE title come from whatever page posted the request; the bridge
    // refuses what breaks the limits, and so does this, whoever calls it.
    using Field = velmaris::PacsOpenRequest::Field;
    const Field invalid = request.invalidField();
    if (invalid == Field::ServerHost || invalid == Field::ServerPort || invalid == Field::ServerAeTitle) {
        warn(QStringLiteral("Некорректный запрос на открытие исследования — недопустимый адрес или AE-заголовок "
                            "PACS-сервера."));
        return;
    }
    const PacsConfig config = loadPacsConfig();
    for (const PacsServerConfig &node : config.servers) {
        if (node.host.compare(request.serverHost, Qt::CaseInsensitive) == 0 && node.port == request.serverPort
            && node.aeTitle.compare(request.serverAeTitle, Qt::CaseInsensitive) == 0) {
            m_reportOutcome = true;
            start(node, config, uid, downloadFolder(uid), SaveAndOpen);
            emit waitingForUserChanged(false);
            return;
        }
    }
    auto *box = new QMessageBox(QMessageBox::Question, QStringLiteral("Velmaris"),
                                QStringLiteral("Внешняя страница запрашивает подключение Velmaris к серверу\n%1:%2 "
                                               "(AE: %3)\nи получение исследования %4.\n\nРазрешить?")
                                    .arg(request.serverHost)
                                    .arg(request.serverPort)
                                    .arg(request.serverAeTitle, uid),
                                QMessageBox::Yes | QMessageBox::No, m_window);
    box->setDefaultButton(QMessageBox::No);
    askUser(box, [this, request, uid, config](int button) {
        if (button != QMessageBox::Yes)
            return;
        PacsServerConfig node; // used for this download only, never saved
        node.host = request.serverHost;
        node.port = request.serverPort;
        node.aeTitle = request.serverAeTitle;
        node.description = autoNodeDescription;
        node.retrieveMode = RetrieveMode::Move;
        m_reportOutcome = true;
        start(node, config, uid, downloadFolder(uid), SaveAndOpen);
    });
}

} // namespace pacs
