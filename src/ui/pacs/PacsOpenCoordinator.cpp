#include "ui/pacs/PacsOpenCoordinator.h"

#include "db/Database.h"

#include <QMessageBox>

namespace pacs {

PacsOpenCoordinator::PacsOpenCoordinator(db::Database *database, QWidget *window, QObject *parent)
    : QObject(parent), m_database(database), m_window(window)
{
}

bool PacsOpenCoordinator::isWaitingForUser() const
{
    return !m_waitingBox.isNull();
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
    emit requestReceived(request);
    const bool local = m_database != nullptr && m_database->studyExists(request.studyInstanceUID);
    // Not modal: the bridge keeps serving while the box is up.
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("Открытие исследования"),
                                QStringLiteral("Получен запрос на открытие исследования %1 (узел %2:%3, %4).%5")
                                    .arg(request.studyInstanceUID, request.serverHost)
                                    .arg(request.serverPort)
                                    .arg(request.serverAeTitle,
                                         local ? QStringLiteral("\nИсследование есть в локальном архиве.")
                                               : QString()),
                                QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Also when the window takes the box down with it.
    connect(box, &QObject::destroyed, this, [this] {
        m_waitingBox = nullptr; // a widget reports its end before guards see it
        emit waitingForUserChanged(false);
    });
    m_waitingBox = box;
    box->open();
    emit waitingForUserChanged(true);
}

} // namespace pacs
