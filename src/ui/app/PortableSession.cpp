#include "ui/app/PortableSession.h"

#include "db/Database.h"
#include "db/ImportService.h"
#include "db/StudyCatalog.h"
#include "ui/cpr/CprViewerEntries.h"
#include "ui/mpr/ViewerVolumeEntries.h"
#include "ui/viewer/ViewerWindow.h"

#include <QDir>
#include <QMessageBox>

namespace velmaris {

PortableSession::PortableSession(const QString &imageFolder, QObject *parent)
    : QObject(parent), m_imageFolder(QDir(imageFolder).absolutePath())
{
}

PortableSession::~PortableSession()
{
    if (m_import)
        m_import->stop();
    delete m_viewer;
}

bool PortableSession::openDatabase()
{
    m_database = new db::Database(this);
    return m_database->open(QStringLiteral(":memory:"));
}

void PortableSession::start()
{
    m_import = new db::ImportService(m_database, this);
    // The viewer shows each batch of files as soon as it is indexed.
    connect(m_import, &db::ImportService::seriesIndexed, this, &PortableSession::onSeriesIndexed);
    connect(m_import, &db::ImportService::finished, this, &PortableSession::onImportFinished);
    m_import->startFolder(m_imageFolder);
}

void PortableSession::onSeriesIndexed(const QString &studyUid, const QString &seriesUid)
{
    const QList<db::SliceRef> slices = db::StudyCatalog(m_database).slicesOf(seriesUid);
    if (!m_viewerCreated) {
        m_viewerCreated = true;
        m_viewer = new ViewerWindow(studyUid, true);
        m_viewer->setAttribute(Qt::WA_DeleteOnClose);
        new ViewerVolumeEntries(m_viewer);
        new CprViewerEntries(m_viewer);
        m_viewer->setArchive(m_database); // the disc's other studies can be compared
        // Closing the only window of a portable session ends the program.
        connect(m_viewer, &QObject::destroyed, this, &PortableSession::ended);
        m_viewer->showSeries(seriesUid, slices);
        m_viewer->showMaximized();
        qInfo("PortableSession: viewer shown for %s", qUtf8Printable(studyUid));
        emit viewerShown();
    } else if (m_viewer) {
        m_viewer->showSeries(seriesUid, slices);
    }
}

void PortableSession::onImportFinished(const db::ImportOutcome &outcome)
{
    if (outcome.refused > 0)
        qWarning("PortableSession: %s", qUtf8Printable(outcome.refusal));
    emit importFinished(m_viewerCreated);
    if (!m_viewerCreated) {
        QMessageBox::warning(nullptr, QStringLiteral("Velmaris"),
                             QStringLiteral("Не найдено ни одного DICOM-файла в папке \"%1\".")
                                 .arg(QDir::toNativeSeparators(m_imageFolder)));
        emit ended();
    }
}

} // namespace velmaris
