#include "ui/browser/MainWindow.h"

#include "app/HotkeyRegistry.h"
#include "db/Database.h"
#include "dicom/DicomImporter.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QThread>

namespace velmaris {

namespace {

const QString readyText = QStringLiteral("Готово — двойной клик по пациенту или серии открывает просмотр");

QStringList droppedFolders(const QMimeData *mime)
{
    QStringList folders;
    if (mime == nullptr)
        return folders;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir())
            folders << url.toLocalFile();
    }
    return folders;
}

QString studyLine(const db::StudyRecord &study)
{
    const QString name = study.patient_name.isEmpty() ? QStringLiteral("No Name") : study.patient_name;
    return QStringLiteral("%1 — %2 — %3 — %4 / %5")
        .arg(name, study.study_date, study.study_description)
        .arg(study.series_count)
        .arg(study.instance_count);
}

} // namespace

QString MainWindow::defaultDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

MainWindow::MainWindow(const QString &dataDirectory, QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Velmaris — исследования"));
    resize(1000, 700);
    setAcceptDrops(true);

    QDir().mkpath(dataDirectory);
    m_database = new db::Database(this);
    if (!m_database->open(QDir(dataDirectory).filePath(QStringLiteral("index.sqlite3")))) {
        QMessageBox::critical(this, QStringLiteral("Ошибка базы данных"),
                              QStringLiteral("Не удалось открыть локальную базу исследований:\n%1")
                                  .arg(m_database->lastError()));
    }

    QMenu *open = menuBar()->addMenu(QStringLiteral("Открыть"));
    QAction *openFolder = open->addAction(QStringLiteral("Открыть каталог DICOM"));
    openFolder->setShortcut(HotkeyRegistry::shortcut(QStringLiteral("mainwindow.openFolder")));
    connect(openFolder, &QAction::triggered, this, &MainWindow::onOpenFolderTriggered);

    m_studyList = new QListWidget(this);
    setCentralWidget(m_studyList);

    m_statusLabel = new QLabel(readyText, this);
    statusBar()->addWidget(m_statusLabel, 1);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setFixedWidth(160);
    m_progressBar->setRange(0, 0);
    m_progressBar->setVisible(false);
    statusBar()->addPermanentWidget(m_progressBar);

    reloadStudies();
}

MainWindow::~MainWindow()
{
    stopImport();
}

QString MainWindow::statusText() const
{
    return m_statusLabel->text();
}

void MainWindow::reloadStudies()
{
    m_studyList->clear();
    for (const db::StudyRecord &study : m_database->listStudies()) {
        auto *item = new QListWidgetItem(studyLine(study), m_studyList);
        item->setData(Qt::UserRole, study.study_instance_uid);
    }
}

void MainWindow::onOpenFolderTriggered()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Выберите папку с DICOM-исследованиями"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        startFolderImport(folder);
}

void MainWindow::startFolderImport(const QString &folder)
{
    if (m_importThread != nullptr) {
        QMessageBox::information(this, QStringLiteral("Импорт уже выполняется"),
                                 QStringLiteral("Дождитесь завершения текущего импорта."));
        return;
    }
    m_progressBar->setVisible(true);
    m_statusLabel->setText(QStringLiteral("Сканирование: %1").arg(folder));
    m_pending.clear();
    m_rejected = 0;

    m_importThread = new QThread(this);
    auto *importer = new dicom::DicomImporter;
    importer->moveToThread(m_importThread);
    m_importer = importer;

    connect(m_importThread, &QThread::started, importer, [importer, folder] { importer->importDirectory(folder); });
    connect(importer, &dicom::DicomImporter::fileFound, this, &MainWindow::onImportFileFound, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::progress, this, &MainWindow::onImportProgress, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::finished, this, &MainWindow::onImportFinished, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::errorOccurred, this, &MainWindow::onImportError, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::finished, m_importThread, &QThread::quit);
    connect(m_importThread, &QThread::finished, importer, &QObject::deleteLater);
    m_importThread->start(QThread::InheritPriority);
}

void MainWindow::onImportFileFound(const dicom::DicomFileSummary &summary)
{
    m_pending.append(summary);
}

void MainWindow::flushPendingSummaries()
{
    if (m_pending.isEmpty())
        return;
    const int stored = m_database->insertSummaries(m_pending);
    m_rejected += static_cast<int>(m_pending.size()) - stored;
    m_pending.clear();
}

void MainWindow::onImportProgress(int filesScanned, int dicomFilesFound)
{
    flushPendingSummaries();
    m_statusLabel->setText(QStringLiteral("Просканировано файлов: %1, найдено DICOM: %2")
                               .arg(filesScanned)
                               .arg(dicomFilesFound));
}

void MainWindow::onImportFinished(int added, int skipped)
{
    flushPendingSummaries();
    // A summary the index refused was not added, whatever the walk found.
    added -= m_rejected;
    skipped += m_rejected;
    m_progressBar->setVisible(false);
    m_statusLabel->setText(QStringLiteral("Импорт завершён: добавлено %1, пропущено %2").arg(added).arg(skipped));
    reloadStudies();
    if (m_importThread != nullptr) {
        // The worker has emitted its last signal and is returning; let the
        // thread end before it is scheduled for deletion.
        m_importThread->quit();
        m_importThread->wait();
        m_importThread->deleteLater();
        m_importThread = nullptr;
        m_importer = nullptr;
    }
    emit importFinished(added, skipped);
}

void MainWindow::onImportError(const QString &message)
{
    QMessageBox::warning(this, QStringLiteral("Ошибка импорта"), message);
}

void MainWindow::stopImport()
{
    if (m_importThread == nullptr)
        return;
    m_importThread->requestInterruption();
    m_importThread->quit();
    m_importThread->wait();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    stopImport();
    event->accept();
    QCoreApplication::quit();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFolders(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QStringList folders = droppedFolders(event->mimeData());
    for (const QString &folder : folders)
        startFolderImport(folder);
    if (!folders.isEmpty())
        event->acceptProposedAction();
}

} // namespace velmaris
