#pragma once

#include "app/PacsOpenRequest.h"

#include <QObject>
#include <QPointer>

class QMessageBox;
class QWidget;

namespace db {
class Database;
}

namespace pacs {

// Opens a study asked for by a second start or a web page. For now it only
// tells the user which request arrived; the search-and-download path takes
// over from here. One request at a time waits for the user.
class PacsOpenCoordinator : public QObject
{
    Q_OBJECT
public:
    PacsOpenCoordinator(db::Database *database, QWidget *window, QObject *parent = nullptr);

    // True while the message box of a request is up.
    bool isWaitingForUser() const;

public slots:
    // Ignored (with a warning in the debug log) while an earlier request
    // waits for the user; the bridge refuses such requests before they come.
    void openStudy(const velmaris::PacsOpenRequest &request);

signals:
    void requestReceived(const velmaris::PacsOpenRequest &request);
    // True when a request starts waiting for the user, false once the user
    // has closed its box.
    void waitingForUserChanged(bool waiting);

private:
    db::Database *m_database;
    QPointer<QWidget> m_window;
    QPointer<QMessageBox> m_waitingBox; // deletes itself when closed
};

} // namespace pacs
