#include "app/LocalApiServer.h"

#include "app/PacsOpenRequest.h"

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

#ifndef VELMARIS_WEB_ORIGIN
#error "VELMARIS_WEB_ORIGIN must be defined by the build"
#endif

namespace velmaris {

namespace {

constexpr int kDefaultPacsPort = 104;

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
    case 429: return QByteArrayLiteral("Too Many Requests");
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

QByteArray invalidFieldReason(PacsOpenRequest::Field field)
{
    switch (field) {
    case PacsOpenRequest::Field::StudyInstanceUID: return QByteArrayLiteral("invalid study uid");
    case PacsOpenRequest::Field::ServerHost: return QByteArrayLiteral("invalid server host");
    case PacsOpenRequest::Field::ServerPort: return QByteArrayLiteral("invalid server port");
    case PacsOpenRequest::Field::ServerAeTitle: return QByteArrayLiteral("invalid server ae title");
    case PacsOpenRequest::Field::None: break;
    }
    return QByteArrayLiteral("bad request");
}

} // namespace

struct LocalApiServer::Connection
{
    QByteArray buffer;
    // Bytes the parser can still use; only as many are taken from the socket,
    // so a buffer never grows past the header and body caps.
    qint64 bytesWanted = kMaxHeaderBytes;
    QTimer *timer = nullptr; // child of the socket, so it never outlives it
    bool done = false;       // answered or being closed; later data is ignored
    quint64 acceptedAs = 0;  // order of acceptance: the oldest gives way first
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

bool LocalApiServer::openRequestWaiting() const
{
    return m_openRequestWaiting;
}

void LocalApiServer::setOpenRequestWaiting(bool waiting)
{
    m_openRequestWaiting = waiting;
}

void LocalApiServer::onNewConnection()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            break;

        // Without a cap any local process (or a page making many fetches)
        // could exhaust descriptors and memory. At the cap a newcomer takes
        // the place of the connection that has waited longest for its
        // request: loopback clients send theirs at once, so that one is the
        // likeliest to be idle, and a full house of idle connections cannot
        // lock everyone out until the request time-out reaps them.
        if (int(m_connections.size()) >= kMaxConnections && !closeOldestUnanswered()) {
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
        connection->acceptedAs = m_acceptedCount++;
        m_connections.emplace(socket, std::move(connection));

        if (socket->bytesAvailable() > 0)
            processIncoming(socket);
    }
}

bool LocalApiServer::closeOldestUnanswered()
{
    QTcpSocket *oldest = nullptr;
    quint64 oldestAcceptedAs = 0;
    for (const auto &[socket, connection] : m_connections) {
        if (!connection->done && (!oldest || connection->acceptedAs < oldestAcceptedAs)) {
            oldest = socket;
            oldestAcceptedAs = connection->acceptedAs;
        }
    }
    // Connections being answered leave by themselves in a moment.
    if (!oldest)
        return false;
    closeWithoutAnswer(oldest);
    return true;
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

    while (socket->bytesAvailable() > 0) {
        c.buffer += socket->read(c.bytesWanted);
        const BridgeParseResult result = parseBridgeRequest(c.buffer);
        switch (result.outcome) {
        case BridgeParseResult::Outcome::NeedMore:
            c.bytesWanted = result.bytesWanted;
            continue;
        case BridgeParseResult::Outcome::Drop:
            closeWithoutAnswer(socket);
            return;
        case BridgeParseResult::Outcome::Refuse:
            sendAndClose(socket, buildResponse(result.status, result.reason));
            return;
        case BridgeParseResult::Outcome::Complete:
            handleRequest(socket, result.request);
            return;
        }
    }
}

void LocalApiServer::handleRequest(QTcpSocket *socket, const BridgeRequest &request)
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
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
            sendAndClose(socket, buildResponse(400, QByteArrayLiteral("invalid json"), echo));
            return;
        }
        const QJsonObject object = document.object();
        PacsOpenRequest open;
        open.studyInstanceUID = object.value(QLatin1String("studyInstanceUID")).toString();
        open.serverHost = object.value(QLatin1String("serverHost")).toString();
        open.serverPort = object.value(QLatin1String("serverPort")).toInt(kDefaultPacsPort);
        open.serverAeTitle = object.value(QLatin1String("serverAeTitle")).toString();
        // Checked before anything else sees the request: a page must not be
        // able to put megabytes of UID into a message box, or an AE title
        // that no node can have into an association.
        if (const PacsOpenRequest::Field field = open.invalidField(); field != PacsOpenRequest::Field::None) {
            sendAndClose(socket, buildResponse(400, invalidFieldReason(field), echo));
            return;
        }
        if (m_openRequestWaiting) {
            sendAndClose(socket, buildResponse(429, QByteArrayLiteral("open request pending"), echo));
            return;
        }
        m_openRequestWaiting = true;
        // Answer first: the socket state may be gone once this returns, and
        // receivers should find the client already served.
        sendAndClose(socket, buildResponse(202, QByteArrayLiteral("accepted"), echo));
        emit openStudyRequested(open.studyInstanceUID, open.serverHost, open.serverPort, open.serverAeTitle);
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
