#include "ui/pacs/PacsSendAction.h"

#include "pacs/PacsClient.h"

#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>

namespace {

const QString boxTitle = QStringLiteral("Отправка на PACS");

QString serverName(const pacs::PacsServerConfig &server)
{
    return server.description.isEmpty() ? QStringLiteral("%1:%2").arg(server.host).arg(server.port)
                                        : server.description;
}

} // namespace

QString PacsSendAction::serverLabel(const pacs::PacsServerConfig &server)
{
    return QStringLiteral("%1 (%2:%3)").arg(server.description, server.host).arg(server.port);
}

void PacsSendAction::chooseServerAndSend(QWidget *window, const QStringList &files)
{
    const pacs::PacsConfig config = pacs::loadPacsConfig();
    if (config.servers.isEmpty()) {
        QMessageBox::information(window, boxTitle,
                                 QStringLiteral("Нет настроенных PACS-серверов — добавьте сервер в настройках PACS."));
        return;
    }
    QMenu menu(window);
    for (int i = 0; i < config.servers.size(); ++i)
        menu.addAction(serverLabel(config.servers.at(i)))->setData(i);
    const QAction *chosen = menu.exec(QCursor::pos());
    if (chosen == nullptr)
        return;
    const pacs::PacsServerConfig server = config.servers.at(chosen->data().toInt());
    if (files.isEmpty()) {
        QMessageBox::information(window, boxTitle, QStringLiteral("В исследовании не найдено файлов."));
        return;
    }
    start(window, server, files);
}

PacsSendAction *PacsSendAction::start(QWidget *window, const pacs::PacsServerConfig &server, const QStringList &files)
{
    auto *action = new PacsSendAction(window, server);
    action->run(files);
    return action;
}

PacsSendAction::PacsSendAction(QWidget *window, const pacs::PacsServerConfig &server)
    : m_window(window), m_server(server)
{
}

void PacsSendAction::run(const QStringList &files)
{
    auto *progress = new QProgressDialog(QStringLiteral("Отправка на %1…").arg(serverName(m_server)),
                                         QStringLiteral("Скрыть"), 0, int(files.size()), m_window);
    progress->setWindowTitle(boxTitle);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    // The button only hides the dialog: the send goes on.
    disconnect(progress, &QProgressDialog::canceled, progress, &QProgressDialog::cancel);
    connect(progress, &QProgressDialog::canceled, progress, &QWidget::hide);
    m_progress = progress;
    progress->show();

    const pacs::PacsConfig local = pacs::loadPacsConfig();
    const pacs::PacsServerConfig server = m_server;
    QThread *thread = QThread::create([this, server, local, files] {
        QString error;
        const bool ok = pacs::storeFiles(server, local, files, &error, [this](int done, int total) {
            QMetaObject::invokeMethod(this, [this, done, total] { onProgress(done, total); }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this, ok, error] { onFinished(ok, error); }, Qt::QueuedConnection);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void PacsSendAction::onProgress(int done, int total)
{
    if (m_progress) {
        m_progress->setMaximum(total);
        m_progress->setValue(done);
    }
}

void PacsSendAction::onFinished(bool ok, const QString &error)
{
    if (m_progress)
        m_progress->close();
    if (!ok)
        qWarning("PacsSendAction: %s", qUtf8Printable(error));
    const QString name = serverName(m_server);
    if (ok)
        QMessageBox::information(m_window, boxTitle, QStringLiteral("Исследование успешно отправлено на %1.").arg(name));
    else
        QMessageBox::warning(m_window, boxTitle,
                             QStringLiteral("Не удалось полностью отправить исследование на %1 — проверьте настройки "
                                            "сервера и соединение.")
                                 .arg(name));
    emit finished(ok);
    deleteLater();
}
