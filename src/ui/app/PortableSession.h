#pragma once

#include "db/ImportOutcome.h"
#include "ui/viewer/ViewerWindow.h"

#include <QObject>
#include <QPointer>

namespace db {
class Database;
class ImportService;
}

namespace velmaris {

// Portable mode: the images beside the executable are indexed into an
// in-memory archive and shown in the viewer as they arrive. No data
// directory, no single-instance lock, no bridge.
class PortableSession : public QObject
{
    Q_OBJECT
public:
    PortableSession(const QString &imageFolder, QObject *parent = nullptr);
    ~PortableSession() override;

    // Opens the in-memory index; false when even that is impossible.
    bool openDatabase();
    // Starts indexing the image folder on a worker thread.
    void start();

    db::Database *database() const { return m_database; }
    ViewerWindow *viewer() const { return m_viewer; }
    QString imageFolder() const { return m_imageFolder; }

signals:
    void viewerShown();
    // The walk is over; foundImages says whether any image was shown.
    void importFinished(bool foundImages);
    // Nothing left to do: no images were found (after the warning), or the
    // user closed the viewer.
    void ended();

private slots:
    void onSeriesIndexed(const QString &studyUid, const QString &seriesUid);
    void onImportFinished(const db::ImportOutcome &outcome);

private:

    QString m_imageFolder;
    db::Database *m_database = nullptr;
    db::ImportService *m_import = nullptr;
    QPointer<ViewerWindow> m_viewer;
    bool m_viewerCreated = false;
};

} // namespace velmaris
