#pragma once

#include "app/PacsOpenRequest.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace db {
class Database;
}

namespace pacs {

// Opens a study asked for by a second start or a web page. For now it only
// tells the user which request arrived; the search-and-download path takes
// over from here.
class PacsOpenCoordinator : public QObject
{
    Q_OBJECT
public:
    PacsOpenCoordinator(db::Database *database, QWidget *window, QObject *parent = nullptr);

public slots:
    void openStudy(const velmaris::PacsOpenRequest &request);

signals:
    void requestReceived(const velmaris::PacsOpenRequest &request);

private:
    db::Database *m_database;
    QPointer<QWidget> m_window;
};

} // namespace pacs
