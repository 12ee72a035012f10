#include "app/LocalApiServer.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QList>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <limits>

#ifndef VELMARIS_WEB_ORIGIN
#error "VELMARIS_WEB_ORIGIN must be defined by the build"
#endif

namespace velmaris {

namespace {

constexpr int kDefaultPacsPort = 104;
const QByteArray kHeaderTerminator = QByteArrayLiteral("\r\n\r\n");

// Compared byte for byte with the request's Origin header. The web version's
// HTTPS origin depends on where it is deployed, so the build supplies it; the
// rest are the local development servers of the web front end.
const QSet<QByteArray> &allowedOrigins()
{
    static const QSet<QByteArray> origins = {
        QByteArrayLiteral(VELMARIS_WEB_ORIGIN),
        QByteArrayLiteral("http://localhost:5173"),
        QByteArrayLiteral("http://localhost:4173"),
        QByteArrayLiteral("http://127.0.0.1:5173"),
        QByteArrayLiteral("http://127.0.0.1:4173"),
    };
    return origins;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return QByteArrayLiteral("OK");
    case 202: return QByteArrayLiteral("Accepted");
    case 204: return QByteArrayLiteral("No Content");
    case 400: return QByteArrayLiteral("Bad Request");
    case 403: return QByteArrayLiteral("Forbidden");
    case 404: return QByteArrayLiteral("Not Found");
    case 413: return QByteArrayLiteral("Payload Too Large");
    default: return QByteArrayLiteral("Unknown");
    }
}

// allowOrigin is echoed only when non-empty; callers pass it only for an
// allowed origin.
QByteArray buildResponse(int status, const QByteArray &body, const QByteArray &allowOrigin = {})
{
    QByteArray out;
    out += "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    out += "Content-Type: text/plain; charset=utf-8\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Connection: close\r\n";
    if (!allowOrigin.isEmpty())
        out += "Access-Control-Allow-Origin: " + allowOrigin + "\r\n";
    out += "\r\n";
    out += body;
    return out;
}

QByteArray buildPreflightResponse(const QByteArray &allowOrigin)
{
    QByteArray out = QByteArrayLiteral("HTTP/1.1 204 No Content\r\n");
    if (!allowOrigin.isEmpty())
        out += "Access-Control-Allow-Origin: " + allowOrigin + "\r\n";
    out += "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
           "Access-Control-Allow-Headers: Content-Type\r\n"
           "Content-Length: 0\r\n"
           "Connection: close\r\n"
           "\r\n";
    return out;
}

// Negative or non-numeric values count as no body. A run of digits too long
// for 64 bits is still a (huge) length, so it must not slip through as 0.
qint64 declaredBodyLength(const QByteArray &value)
{
    bool ok = false;
    const qlonglong length = value.toLongLong(&ok);
    if (ok)
        return std::max<qlonglong>(length, 0);
    const bool allDigits = !value.isEmpty()
        && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    return allDigits ? std::numeric_limits<qint64>::max() : 0;
}

} // namespace

struct LocalApiServer::Connection
{
    QByteArray buffer;
    QTimer *timer = nullptr; // child of the socket, so it never outlives it
    bool done = false;       // answered or being closed; later data is ignored

    // Filled in once the header block is complete.
    qsizetype headerEnd = -1; // index of "\r\n\r\n"
    qint64 bodyLength = 0;
    QByteArray method;
    QByteArray path;
    QByteArray origin;
    bool hasOrigin = false;
};

LocalApiServer::LocalApiServer(quint16 port, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &LocalApiServer::onNewConnection);
}

LocalApiServer::~LocalApiServer()
{
    // The sockets are children and are destroyed after this body has run;
    // closing them then must not call back into a half-destroyed server.
    for (const auto &entry : m_connections) {
        entry.second->timer->stop();
        entry.first->disconnect(this);
    }
    m_connections.clear();
}

bool LocalApiServer::listen(QString *error)
{
    if (m_server->isListening())
        return true;
    if (m_server->listen(QHostAddress(QHostAddress::LocalHost), m_port))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

quint16 LocalApiServer::serverPort() const
{
    return m_server->isListening() ? m_server->serverPort() : m_port;
}

void LocalApiServer::setRequestTimeout(int ms)
{
    m_requestTimeoutMs = std::max(ms, 1);
}

int LocalApiServer::requestTimeout() const
{
    return m_requestTimeoutMs;
}

int LocalApiServer::connectionCount() const
{
    return int(m_connections.size());
}

void LocalApiServer::onNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            break;

        // Without a cap any local process (or a page making many fetches)
        // could exhaust descriptors and memory. The connections already held
        // keep their place; a newcomer beyond the cap is closed unanswered
        // and may retry once the request timeout has reaped idle ones.
        if (int(m_connections.size()) >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }

        socket->setParent(this);
        auto connection = std::make_unique<Connection>();
        // A client that never finishes its request would otherwise hold its
        // slot and buffer forever. The clock runs from acceptance and is not
        // restarted by incoming data, so trickling bytes does not extend it.
        connection->timer = new QTimer(socket);
        connection->timer->setSingleShot(true);
        connection->timer->setInterval(m_requestTimeoutMs);
        connect(connection->timer, &QTimer::timeout, this,
                [this, socket] { onRequestTimedOut(socket); });
        connect(socket, &QTcpSocket::readyRead, this, &LocalApiServer::onSocketReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &LocalApiServer::onSocketDisconnected);
        connection->timer->start();
        m_connections.emplace(socket, std::move(connection));

        if (socket->bytesAvailable() > 0)
            processIncoming(socket);
    }
}

void LocalApiServer::onSocketReadyRead()
{
    if (auto *socket = qobject_cast<QTcpSocket *>(sender()))
        processIncoming(socket);
}

void LocalApiServer::onSocketDisconnected()
{
    if (auto *socket = qobject_cast<QTcpSocket *>(sender()))
        releaseConnection(socket);
}

void LocalApiServer::onRequestTimedOut(QTcpSocket *socket)
{
    if (m_connections.count(socket))
        closeWithoutAnswer(socket);
}

void LocalApiServer::processIncoming(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    Connection &c = *it->second;
    if (c.done) {
        socket->skip(socket->bytesAvailable());
        return;
    }

    // Only as many bytes are taken from the socket as the request may still
    // need, so a buffer never grows past the header and body caps.
    if (c.headerEnd < 0) {
        c.buffer += socket->read(kMaxHeaderBytes - c.buffer.size());
        const qsizetype end = c.buffer.indexOf(kHeaderTerminator);
        if (end < 0 || end + kHeaderTerminator.size() > kMaxHeaderBytes) {
            if (c.buffer.size() >= kMaxHeaderBytes)
                sendAndClose(socket, buildResponse(413, QByteArrayLiteral("payload too large")));
            return;
        }

        const QList<QByteArray> lines = c.buffer.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.first().simplified().split(' ');
        if (requestLine.size() < 2) {
            closeWithoutAnswer(socket);
            return;
        }
        c.method = requestLine.at(0);
        c.path = requestLine.at(1);

        QByteArray contentLength;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length") {
                contentLength = value;
            } else if (name == "origin") {
                c.origin = value;
                c.hasOrigin = true;
            }
        }
        c.bodyLength = declaredBodyLength(contentLength);
        if (c.bodyLength > kMaxBodyBytes) {
            // Refused up front; waiting for (or buffering) such a body would
            // defeat the point of the cap.
            sendAndClose(socket, buildResponse(413, QByteArrayLiteral("payload too large")));
            return;
        }
        c.headerEnd = end;
    }

    const qint64 bodyStart = c.headerEnd + kHeaderTerminator.size();
    const qint64 needed = bodyStart + c.bodyLength;
    if (c.buffer.size() < needed)
        c.buffer += socket->read(needed - c.buffer.size());
    if (c.buffer.size() < needed)
        return;

    const QByteArray body = c.buffer.mid(bodyStart, c.bodyLength);
    handleRequest(socket, c, body);
}

void LocalApiServer::handleRequest(QTcpSocket *socket, const Connection &request,
                                   const QByteArray &body)
{
    const bool originAllowed = request.hasOrigin && allowedOrigins().contains(request.origin);
    // Local programs (the second start of this program among them) send no
    // Origin, and browsers always send one on the cross-origin requests that
    // matter, so only a present Origin is held against the allow-list. A
    // present but empty one is not on the list either.
    const bool refused = request.hasOrigin && !originAllowed;
    const QByteArray echo = originAllowed ? request.origin : QByteArray();

    if (request.method == "OPTIONS") {
        sendAndClose(socket, refused ? buildResponse(403, QByteArray()) : buildPreflightResponse(echo));
        return;
    }
    if (refused) {
        sendAndClose(socket, buildResponse(403, QByteArrayLiteral("forbidden")));
        return;
    }

    if (request.method == "GET" && request.path == "/health") {
        sendAndClose(socket, buildResponse(200, QByteArrayLiteral("ok"), echo));
        return;
    }

    if (request.method == "POST" && request.path == "/pacs/open") {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
            sendAndClose(socket, buildResponse(400, QByteArrayLiteral("invalid json"), echo));
            return;
        }
        // Deliberately not validated here: the receiver checks the UID and
        // asks before contacting a node that is not configured.
        const QJsonObject object = document.object();
        const QString studyInstanceUID = object.value(QLatin1String("studyInstanceUID")).toString();
        const QString serverHost = object.value(QLatin1String("serverHost")).toString();
        const int serverPort = object.value(QLatin1String("serverPort")).toInt(kDefaultPacsPort);
        const QString serverAeTitle = object.value(QLatin1String("serverAeTitle")).toString();
        // Answer first: the socket state may be gone once this returns, and
        // receivers should find the client already served.
        sendAndClose(socket, buildResponse(202, QByteArrayLiteral("accepted"), echo));
        emit openStudyRequested(studyInstanceUID, serverHost, serverPort, serverAeTitle);
        return;
    }

    if (request.method == "POST" && request.path == "/focus") {
        sendAndClose(socket, buildResponse(202, QByteArrayLiteral("accepted"), echo));
        emit focusRequested();
        return;
    }

    sendAndClose(socket, buildResponse(404, QByteArrayLiteral("not found"), echo));
}

// May release the connection's state (the socket can report its disconnection
// synchronously), so callers must not touch it afterwards.
void LocalApiServer::sendAndClose(QTcpSocket *socket, const QByteArray &response)
{
    const auto it = m_connections.find(socket);
    if (it != m_connections.end())
        it->second->done = true;
    socket->write(response);
    socket->flush();
    socket->disconnectFromHost();
}

void LocalApiServer::closeWithoutAnswer(QTcpSocket *socket)
{
    socket->abort();
    // abort() normally reports the disconnection itself; a socket that was
    // never fully connected does not, so release explicitly (idempotent).
    releaseConnection(socket);
}

void LocalApiServer::releaseConnection(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->second->timer->stop();
    socket->disconnect(this);
    m_connections.erase(it);
    socket->deleteLater();
}

} // namespace velmaris
