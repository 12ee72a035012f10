#pragma once

#include "pacs/PacsConfig.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

class QProgressDialog;
class QThread;
class QWidget;

// "Отправить на PACS-сервер…": the server pop-up, then C-STORE of a study's
// files on a thread of its own under a progress dialog that can only be
// hidden, and the result in a message box. Owns itself: it goes once the
// send has ended, whether or not the window is still there.
class PacsSendAction : public QObject
{
    Q_OBJECT
public:
    // Reads the configuration, lets the user pick a server from a pop-up at
    // the cursor and sends `files` there. Message boxes are parented to
    // `window`.
    static void chooseServerAndSend(QWidget *window, const QStringList &files);

    // Sends without asking; the object deletes itself when done.
    static PacsSendAction *start(QWidget *window, const pacs::PacsServerConfig &server, const QStringList &files);

    // "%1 (%2:%3)" with description, host and port, as in the pop-up.
    static QString serverLabel(const pacs::PacsServerConfig &server);

signals:
    // After the result box was closed.
    void finished(bool ok);

private:
    PacsSendAction(QWidget *window, const pacs::PacsServerConfig &server);
    void run(const QStringList &files);
    void onProgress(int done, int total);
    void onFinished(bool ok, const QString &error);

    QPointer<QWidget> m_window;
    pacs::PacsServerConfig m_server;
    QPointer<QProgressDialog> m_progress;
};
