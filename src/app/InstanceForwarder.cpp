#include "app/InstanceForwarder.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace velmaris {

void forwardToRunningInstance(const PacsOpenRequest &request, quint16 port, int timeoutMs)
{
    QString path = QStringLiteral("/focus");
    QJsonObject body;
    if (request.valid) {
        path = QStringLiteral("/pacs/open");
        body = QJsonObject{
            {QStringLiteral("studyInstanceUID"), request.studyInstanceUID},
            {QStringLiteral("serverHost"), request.serverHost},
            {QStringLiteral("serverPort"), request.serverPort},
            {QStringLiteral("serverAeTitle"), request.serverAeTitle},
        };
    }
    QNetworkRequest post(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
    post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // The bridge is on this machine; a system proxy must not come between.
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkReply *reply = manager.post(post, QJsonDocument(body).toJson(QJsonDocument::Compact));

    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the running instance gets its
    // full time to answer.
    timeout.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timeout.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    reply->abort();
    reply->deleteLater();
}

} // namespace velmaris
