#include "ui/pacs/PacsOpenCoordinator.h"

#include "db/Database.h"

#include <QMessageBox>

namespace pacs {

PacsOpenCoordinator::PacsOpenCoordinator(db::Database *database, QWidget *window, QObject *parent)
    : QObject(parent), m_database(database), m_window(window)
{
}

void PacsOpenCoordinator::openStudy(const velmaris::PacsOpenRequest &request)
{
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
    box->open();
}

} // namespace pacs
