#include "ui/app/PortableSession.h"

#include "db/Database.h"
#include "db/IndexWriter.h"
#include "dicom/DicomImporter.h"
#include "ui/viewer/ViewerWindow.h"

#include <QDir>
#include <QMessageBox>
#include <QThread>

namespace velmaris {

PortableSession::PortableSession(const QString &imageFolder, QObject *parent)
    : QObject(parent), m_imageFolder(QDir(imageFolder).absolutePath())
{
}

PortableSession::~PortableSession()
{
    stopWorker();
    delete m_viewer;
}

bool PortableSession::openDatabase()
{
    m_database = new db::Database(this);
    return m_database->open(QStringLiteral(":memory:"));
}

void PortableSession::start()
{
    m_thread = new QThread(this);
    auto *importer = new dicom::DicomImporter;
    importer->moveToThread(m_thread);
    const QString folder = m_imageFolder;
    connect(m_thread, &QThread::started, importer, [importer, folder] { importer->importDirectory(folder); });
    connect(importer, &dicom::DicomImporter::fileFound, this, &PortableSession::onFileFound, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::finished, this, &PortableSession::onImportFinished, Qt::QueuedConnection);
    connect(importer, &dicom::DicomImporter::finished, m_thread, &QThread::quit);
    connect(m_thread, &QThread::finished, importer, &QObject::deleteLater);
    m_thread->start(QThread::InheritPriority);
}

void PortableSession::onFileFound(const dicom::DicomFileSummary &summary)
{
    // One at a time: the viewer shows each file as soon as it is indexed.
    db::IndexWriter writer(m_database, 1);
    writer.add(summary);
    if (writer.rejected() > 0)
        qWarning("PortableSession: %s", qUtf8Printable(writer.lastRefusal()));
    const QList<db::SliceRef> slices = m_database->listInstances(summary.series_instance_uid);
    if (!m_viewerCreated) {
        m_viewerCreated = true;
        m_viewer = new ViewerWindow(summary.study_instance_uid, true);
        m_viewer->setAttribute(Qt::WA_DeleteOnClose);
        m_viewer->setArchive(m_database); // the disc's other studies can be compared
        // Closing the only window of a portable session ends the program.
        connect(m_viewer, &QObject::destroyed, this, &PortableSession::ended);
        m_viewer->showSeries(summary.series_instance_uid, slices);
        m_viewer->showMaximized();
        qInfo("PortableSession: viewer shown for %s", qUtf8Printable(summary.study_instance_uid));
        emit viewerShown();
    } else if (m_viewer) {
        m_viewer->showSeries(summary.series_instance_uid, slices);
    }
}

void PortableSession::onImportFinished(int totalImported, int totalSkipped)
{
    Q_UNUSED(totalImported)
    Q_UNUSED(totalSkipped)
    stopWorker();
    emit importFinished(m_viewerCreated);
    if (!m_viewerCreated) {
        QMessageBox::warning(nullptr, QStringLiteral("Velmaris"),
                             QStringLiteral("Не найдено ни одного DICOM-файла в папке \"%1\".")
                                 .arg(QDir::toNativeSeparators(m_imageFolder)));
        emit ended();
    }
}

void PortableSession::stopWorker()
{
    if (m_thread == nullptr)
        return;
    m_thread->requestInterruption();
    m_thread->quit();
    m_thread->wait();
    m_thread->deleteLater();
    m_thread = nullptr;
}

} // namespace velmaris
