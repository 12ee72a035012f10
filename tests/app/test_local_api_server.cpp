#include "app/LocalApiServer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

using velmaris::LocalApiServer;

namespace {

const QByteArray kWebOrigin = QByteArrayLiteral(VELMARIS_WEB_ORIGIN);
const QByteArray kDevOrigin = QByteArrayLiteral("http://localhost:5173");

// A raw HTTP client on a real socket; it collects everything the server sends
// until the server closes the connection.
class RawClient
{
public:
    RawClient()
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket,
                         [this] { m_received += m_socket.readAll(); });
    }

    // Starts connecting without waiting.
    void start(quint16 port)
    {
        m_connectedSpy = std::make_unique<QSignalSpy>(&m_socket, &QTcpSocket::connected);
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    }

    bool connectTo(quint16 port)
    {
        start(port);
        return m_connectedSpy->count() > 0 || m_connectedSpy->wait(5000);
    }

    // No longer on its way to a connection: connected, or already closed.
    bool settled() const
    {
        return m_socket.state() != QAbstractSocket::HostLookupState
            && m_socket.state() != QAbstractSocket::ConnectingState;
    }

    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }

    // True once the server has closed the connection (within 5 s).
    bool waitClosed()
    {
        if (m_socket.state() != QAbstractSocket::UnconnectedState
            && !QSignalSpy(&m_socket, &QTcpSocket::disconnected).wait(5000))
            return false;
        if (m_socket.isOpen())
            m_received += m_socket.readAll();
        return true;
    }

    // True when the connection is still open after timeoutMs (nothing closed it).
    bool staysOpen(int timeoutMs)
    {
        return isOpen() && !QSignalSpy(&m_socket, &QTcpSocket::disconnected).wait(timeoutMs);
    }

    void abort() { m_socket.abort(); }
    QByteArray received() const { return m_received; }

private:
    QTcpSocket m_socket;
    std::unique_ptr<QSignalSpy> m_connectedSpy;
    QByteArray m_received;
};

// One request on a fresh connection; everything answered before the server
// closed it, or a marker when the connection failed or was never closed.
QByteArray exchange(quint16 port, const QByteArray &request)
{
    RawClient client;
    if (!client.connectTo(port))
        return "<connection failed>";
    client.send(request);
    return client.waitClosed() ? client.received() : QByteArray("<connection never closed>");
}

QByteArray buildRequest(const QByteArray &method, const QByteArray &path, bool sendOrigin = false,
                        const QByteArray &origin = {}, const QByteArray &body = {})
{
    QByteArray out = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (sendOrigin)
        out += "Origin: " + origin + "\r\n";
    if (!body.isEmpty())
        out += "Content-Type: application/json\r\n";
    return out + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// The bytes the server must send for an ordinary (non pre-flight) answer.
QByteArray expectedResponse(const QByteArray &status, const QByteArray &body, const QByteArray &allowOrigin = {})
{
    QByteArray out = "HTTP/1.1 " + status + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n";
    if (!allowOrigin.isEmpty())
        out += "Access-Control-Allow-Origin: " + allowOrigin + "\r\n";
    return out + "\r\n" + body;
}

const QByteArray kPayloadTooLarge = expectedResponse("413 Payload Too Large", "payload too large");
const QByteArray kHealthy = expectedResponse("200 OK", "ok");
const QByteArray kAccepted = expectedResponse("202 Accepted", "accepted");

} // namespace

class LocalApiServerTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_server.reset(); }

    void listenReportsBoundPort();
    void listenFailsOnBusyPort();

    void routes_data();
    void routes();
    void preflight_data();
    void preflight();
    void pacsOpen_data();
    void pacsOpen();
    void secondStartForwards_data();
    void secondStartForwards();

    void splitRequestHandledOnceComplete();
    void oneResponsePerConnection();
    void malformedRequestRefused_data();
    void malformedRequestRefused();
    void oddContentLengthCountsAsZero_data();
    void oddContentLengthCountsAsZero();

    void headerBlockCap_data();
    void headerBlockCap();
    void bodyCapRefusedImmediately_data();
    void bodyCapRefusedImmediately();
    void bodyAtCapAccepted();
    void connectionCapGivesWayToNewcomers_data();
    void connectionCapGivesWayToNewcomers();
    void slowClientDropped();
    void floodOfUnfinishedConnectionsReaped();
    void clientVanishesMidRequest_data();
    void clientVanishesMidRequest();
    void destroyedWithOpenConnections();

private:
    bool serverIsEmpty() const
    {
        return m_server->connectionCount() == 0 && m_server->findChildren<QTcpSocket *>().isEmpty();
    }
    QByteArray health() const { return exchange(m_port, buildRequest("GET", "/health")); }

    std::unique_ptr<LocalApiServer> m_server;
    quint16 m_port = 0;
};

void LocalApiServerTest::init()
{
    m_server = std::make_unique<LocalApiServer>(quint16(0), nullptr);
    QString error;
    QVERIFY2(m_server->listen(&error), qPrintable(error));
    m_port = m_server->serverPort();
    QVERIFY(m_port != 0);
}

void LocalApiServerTest::listenReportsBoundPort()
{
    LocalApiServer unbound(0, nullptr);
    QCOMPARE(unbound.serverPort(), quint16(0));
    QCOMPARE(health(), kHealthy);
}

void LocalApiServerTest::listenFailsOnBusyPort()
{
    LocalApiServer second(m_port, nullptr);
    QString error;
    QVERIFY(!second.listen(&error));
    QVERIFY(!error.isEmpty());
}

void LocalApiServerTest::routes_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected"); // the exact bytes of the answer
    QTest::addColumn<int>("focusSignals");
    QTest::addColumn<int>("openSignals");

    struct Route
    {
        const char *label;
        QByteArray method;
        QByteArray path;
        QByteArray body;
        QByteArray status;
        QByteArray responseBody;
        int focus;
        int open;
    };
    const Route routes[] = {
        {"health", "GET", "/health", {}, "200 OK", "ok", 0, 0},
        {"focus", "POST", "/focus", "{}", "202 Accepted", "accepted", 1, 0},
        {"focus without body", "POST", "/focus", {}, "202 Accepted", "accepted", 1, 0},
        {"pacs open", "POST", "/pacs/open", R"({"studyInstanceUID":"1.2.3"})", "202 Accepted", "accepted", 0, 1},
        {"pacs open array", "POST", "/pacs/open", "[]", "400 Bad Request", "invalid json", 0, 0},
        {"health with query", "GET", "/health?x=1", {}, "404 Not Found", "not found", 0, 0},
        {"GET focus", "GET", "/focus", {}, "404 Not Found", "not found", 0, 0},
        {"POST health", "POST", "/health", {}, "404 Not Found", "not found", 0, 0},
        {"GET pacs open", "GET", "/pacs/open", {}, "404 Not Found", "not found", 0, 0},
        {"unknown path", "GET", "/nope", {}, "404 Not Found", "not found", 0, 0},
        {"lower-case method", "get", "/health", {}, "404 Not Found", "not found", 0, 0},
    };

    struct Origin
    {
        const char *label;
        bool send;
        QByteArray value;
        bool allowed;
    };
    const Origin origins[] = {
        {"no Origin", false, {}, false},
        {"web origin", true, kWebOrigin, true},
        {"localhost:5173", true, "http://localhost:5173", true},
        {"localhost:4173", true, "http://localhost:4173", true},
        {"127.0.0.1:5173", true, "http://127.0.0.1:5173", true},
        {"127.0.0.1:4173", true, "http://127.0.0.1:4173", true},
        {"empty Origin", true, {}, false},
        {"foreign", true, "https://evil.example", false},
        {"trailing slash", true, "http://localhost:5173/", false},
        {"other case", true, "HTTP://LOCALHOST:5173", false},
        {"other port", true, "http://localhost:5174", false},
        {"web origin over http", true, "http://" + kWebOrigin.mid(kWebOrigin.indexOf("://") + 3), false},
        {"null", true, "null", false},
    };

    for (const Route &route : routes)
        for (const Origin &origin : origins) {
            const bool refused = origin.send && !origin.allowed;
            QTest::addRow("%s, %s", route.label, origin.label)
                << buildRequest(route.method, route.path, origin.send, origin.value, route.body)
                << (refused ? expectedResponse("403 Forbidden", "forbidden")
                            : expectedResponse(route.status, route.responseBody,
                                               origin.allowed ? origin.value : QByteArray()))
                << (refused ? 0 : route.focus) << (refused ? 0 : route.open);
        }
}

void LocalApiServerTest::routes()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    QFETCH(int, focusSignals);
    QFETCH(int, openSignals);

    QSignalSpy focus(m_server.get(), &LocalApiServer::focusRequested);
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    QCOMPARE(exchange(m_port, request), expected);
    QCOMPARE(focus.count(), focusSignals);
    QCOMPARE(open.count(), openSignals);
    QTRY_VERIFY(serverIsEmpty());
}

void LocalApiServerTest::preflight_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("sendOrigin");
    QTest::addColumn<QByteArray>("origin");
    QTest::addColumn<QByteArray>("expected"); // the exact bytes of the answer

    const QByteArray allowHeaders = "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
                                    "Access-Control-Allow-Headers: Content-Type\r\n"
                                    "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const auto allowedAnswer = [&](const QByteArray &origin) -> QByteArray {
        return "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: " + origin + "\r\n" + allowHeaders;
    };
    const QByteArray refused = "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\n"
                               "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const QByteArray open = "/pacs/open";

    for (const QByteArray &origin : {kWebOrigin, kDevOrigin, QByteArray("http://localhost:4173"),
                                     QByteArray("http://127.0.0.1:5173"), QByteArray("http://127.0.0.1:4173")})
        QTest::addRow("%s /pacs/open", origin.constData()) << open << true << origin << allowedAnswer(origin);
    QTest::newRow("allowed, any path") << QByteArray("/whatever?x=1") << true << kDevOrigin
                                       << allowedAnswer(kDevOrigin);
    QTest::newRow("foreign") << open << true << QByteArray("https://evil.example") << refused;
    QTest::newRow("trailing slash") << open << true << QByteArray("http://localhost:5173/") << refused;
    QTest::newRow("empty Origin") << open << true << QByteArray() << refused;
    // A local program has no use for a pre-flight, but it does no harm; it
    // just gets no origin echoed.
    QTest::newRow("no Origin") << open << false << QByteArray()
                               << QByteArray("HTTP/1.1 204 No Content\r\n" + allowHeaders);
}

void LocalApiServerTest::preflight()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, sendOrigin);
    QFETCH(QByteArray, origin);
    QFETCH(QByteArray, expected);

    QSignalSpy focus(m_server.get(), &LocalApiServer::focusRequested);
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    QByteArray request = "OPTIONS " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (sendOrigin)
        request += "Origin: " + origin + "\r\n";
    request += "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: content-type\r\n\r\n";
    QCOMPARE(exchange(m_port, request), expected);
    QCOMPARE(focus.count(), 0);
    QCOMPARE(open.count(), 0);
}

void LocalApiServerTest::pacsOpen_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("refusal"); // the 400 body; empty: accepted and reported
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("aeTitle");

    struct Case
    {
        const char *label;
        QByteArray body;
        QByteArray refusal;
        QString uid, host;
        int port;
        QString aeTitle;
    };
    const auto object = [](const QString &uid, const QString &host, int port, const QString &aeTitle) {
        return QJsonDocument(QJsonObject{{"studyInstanceUID", uid}, {"serverHost", host}, {"serverPort", port},
                                         {"serverAeTitle", aeTitle}})
            .toJson(QJsonDocument::Compact);
    };
    const QString uid64 = "1." + QString(62, '7');
    const QString host255 = QString(251, 'h') + ".lan";
    const QString ae16 = QString(16, 'A');
    const QByteArray badUid = "invalid study uid";
    const QByteArray badHost = "invalid server host";
    const QByteArray badPort = "invalid server port";
    const QByteArray badAeTitle = "invalid server ae title";
    const Case cases[] = {
        {"full object, port 11112",
         R"({"studyInstanceUID":"1.2.840.1","serverHost":"pacs.local","serverPort":11112,"serverAeTitle":"ORTHANC"})",
         {}, "1.2.840.1", "pacs.local", 11112, "ORTHANC"},
        {"port missing", R"({"studyInstanceUID":"1.2","serverHost":"h","serverAeTitle":"AE"})", {}, "1.2", "h", 104,
         "AE"},
        {"port as string", R"({"studyInstanceUID":"1.2","serverPort":"11112"})", {}, "1.2", {}, 104, {}},
        {"port null", R"({"studyInstanceUID":"1.2","serverPort":null})", {}, "1.2", {}, 104, {}},
        {"non-ASCII text", R"({"studyInstanceUID":"1.2","serverAeTitle":"\u041f\u0410\u041a\u0421"})", {}, "1.2",
         {}, 104, QString::fromUtf8("ПАКС")},
        {"every field at its limit", object(uid64, host255, 65535, ae16), {}, uid64, host255, 65535, ae16},
        {"empty object", "{}", badUid, {}, {}, 0, {}},
        {"uid not a string", R"({"studyInstanceUID":12,"serverHost":"h"})", badUid, {}, {}, 0, {}},
        {"uid of 1,040,000 digits", object(QString(1040000, '1'), "h", 104, "A"), badUid, {}, {}, 0, {}},
        {"uid of 65 characters", object(uid64 + '7', "h", 104, "A"), badUid, {}, {}, 0, {}},
        {"uid with a letter", object("1.2.3a", "h", 104, "A"), badUid, {}, {}, 0, {}},
        {"host of 256 characters", object("1.2", 'x' + host255, 104, "A"), badHost, {}, {}, 0, {}},
        {"port 0", object("1.2", "h", 0, "A"), badPort, {}, {}, 0, {}},
        {"port 65536", object("1.2", "h", 65536, "A"), badPort, {}, {}, 0, {}},
        {"ae title of 17 characters", object("1.2", "h", 104, ae16 + 'A'), badAeTitle, {}, {}, 0, {}},
        {"ae title of 5,000 characters", object("1.2", "h", 104, QString(5000, 'A')), badAeTitle, {}, {}, 0, {}},
        {"ae title with a line feed", object("1.2", "h", 104, "PACS\nX"), badAeTitle, {}, {}, 0, {}},
        {"array", R"([{"studyInstanceUID":"1.2"}])", "invalid json", {}, {}, 0, {}},
        {"invalid json", R"({"studyInstanceUID":)", "invalid json", {}, {}, 0, {}},
        {"json string", R"("1.2")", "invalid json", {}, {}, 0, {}},
        {"empty body", {}, "invalid json", {}, {}, 0, {}},
    };
    for (const Case &c : cases)
        QTest::newRow(c.label) << c.body << c.refusal << c.uid << c.host << c.port << c.aeTitle;
}

void LocalApiServerTest::pacsOpen()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, refusal);
    QFETCH(QString, uid);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, aeTitle);

    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    QCOMPARE(exchange(m_port, buildRequest("POST", "/pacs/open", true, kDevOrigin, body)),
             refusal.isEmpty() ? expectedResponse("202 Accepted", "accepted", kDevOrigin)
                               : expectedResponse("400 Bad Request", refusal, kDevOrigin));
    QCOMPARE(open.count(), refusal.isEmpty() ? 1 : 0);
    if (refusal.isEmpty())
        QCOMPARE(open.takeFirst(), (QList<QVariant>{uid, host, port, aeTitle}));
}

// The second start posts with an ordinary HTTP client, a JSON Content-Type
// and no Origin at all; both posts must reach their routes.
void LocalApiServerTest::secondStartForwards_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<int>("focusSignals");
    QTest::addColumn<int>("openSignals");

    QTest::newRow("focus") << "/focus" << QJsonObject() << 1 << 0;
    QTest::newRow("pacs open") << "/pacs/open"
                               << QJsonObject{{"studyInstanceUID", "1.2.3"}, {"serverHost", "10.0.0.5"},
                                              {"serverPort", 11112}, {"serverAeTitle", "PACS"}}
                               << 0 << 1;
}

void LocalApiServerTest::secondStartForwards()
{
    QFETCH(QString, path);
    QFETCH(QJsonObject, body);
    QFETCH(int, focusSignals);
    QFETCH(int, openSignals);

    QSignalSpy focus(m_server.get(), &LocalApiServer::focusRequested);
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    std::unique_ptr<QNetworkReply> reply(manager.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact)));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    QVERIFY(reply->isFinished() || finished.wait(5000));

    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 202);
    QCOMPARE(reply->readAll(), QByteArray("accepted"));
    QVERIFY(!reply->hasRawHeader("Access-Control-Allow-Origin"));
    QCOMPARE(focus.count(), focusSignals);
    QCOMPARE(open.count(), openSignals);
    if (openSignals)
        QCOMPARE(open.takeFirst(), (QList<QVariant>{QStringLiteral("1.2.3"), QStringLiteral("10.0.0.5"), 11112,
                                                    QStringLiteral("PACS")}));
}

void LocalApiServerTest::splitRequestHandledOnceComplete()
{
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    const QByteArray body = R"({"studyInstanceUID":"1.2.3.4","serverPort":4242})";
    const QByteArray request = buildRequest("POST", "/pacs/open", true, kDevOrigin, body);
    const qsizetype headerEnd = request.indexOf("\r\n\r\n");
    const QList<QByteArray> segments = {
        request.left(12),                                      // inside the request line
        request.mid(12, headerEnd + 3 - 12),                   // up to "\r\n\r" of the terminator
        request.mid(headerEnd + 3, 1 + 10),                    // last "\n" and the start of the body
        request.mid(headerEnd + 3 + 11, body.size() - 10 - 1), // all but the last body byte
        request.right(1),
    };
    QCOMPARE(segments.join(), request);

    RawClient client;
    QVERIFY(client.connectTo(m_port));
    for (qsizetype i = 0; i + 1 < segments.size(); ++i) {
        client.send(segments.at(i));
        // Incomplete: nothing is answered or reported, and the connection stays.
        QVERIFY2(client.staysOpen(100), qPrintable(QStringLiteral("segment %1").arg(i)));
        QVERIFY(client.received().isEmpty());
        QCOMPARE(open.count(), 0);
    }
    client.send(segments.last());
    QVERIFY(client.waitClosed());
    QCOMPARE(client.received(), expectedResponse("202 Accepted", "accepted", kDevOrigin));
    QCOMPARE(open.count(), 1);
    QCOMPARE(open.at(0).at(0).toString(), QStringLiteral("1.2.3.4"));
    QCOMPARE(open.at(0).at(2).toInt(), 4242);
    QTRY_VERIFY(serverIsEmpty());
    QCOMPARE(open.count(), 1);
}

void LocalApiServerTest::oneResponsePerConnection()
{
    QSignalSpy focus(m_server.get(), &LocalApiServer::focusRequested);
    const QByteArray first = buildRequest("POST", "/focus", false, {}, "{}");
    QCOMPARE(exchange(m_port, first + buildRequest("GET", "/health") + first), kAccepted);
    QCOMPARE(focus.count(), 1);
}

void LocalApiServerTest::malformedRequestRefused_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected"); // empty: closed without an answer

    // Without a request line there is nothing to answer.
    QTest::newRow("blank line alone") << QByteArray("\r\n\r\n") << QByteArray();
    QTest::newRow("one word") << QByteArray("GET\r\n\r\n") << QByteArray();
    QTest::newRow("one word with headers") << QByteArray("GET\r\nOrigin: http://localhost:5173\r\n\r\n")
                                           << QByteArray();
    QTest::newRow("blanks only") << QByteArray("   \t \r\n\r\n") << QByteArray();
    QTest::newRow("leading blank line") << QByteArray("\r\n\r\nGET /health HTTP/1.1\r\n\r\n") << QByteArray();

    // Each of these would be served (or awaited) if read leniently.
    const QByteArray lineEnding = expectedResponse("400 Bad Request", "malformed line ending");
    QTest::newRow("bare LF throughout") << QByteArray("POST /focus HTTP/1.1\nContent-Length: 0\n\n") << lineEnding;
    QTest::newRow("bare LF, block never ends") << QByteArray("POST /focus HTTP/1.1\n") << lineEnding;
    QTest::newRow("bare LF inside a CR LF block")
        << QByteArray("POST /focus HTTP/1.1\r\nHost: x\nContent-Length: 0\r\n\r\n") << lineEnding;
    QTest::newRow("bare LF ends the block") << QByteArray("POST /focus HTTP/1.1\r\nContent-Length: 0\r\n\n")
                                            << lineEnding;

    const QByteArray twoLengths = expectedResponse("400 Bad Request", "duplicate content-length");
    QTest::newRow("two Content-Lengths")
        << QByteArray("POST /focus HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 2\r\n\r\n{}") << twoLengths;
    QTest::newRow("two equal Content-Lengths, other case")
        << QByteArray("POST /focus HTTP/1.1\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\n{}") << twoLengths;

    const QByteArray twoOrigins = expectedResponse("400 Bad Request", "duplicate origin");
    const auto focusWith = [](const QByteArray &originLines) -> QByteArray {
        return "POST /focus HTTP/1.1\r\n" + originLines + "Content-Length: 0\r\n\r\n";
    };
    QTest::newRow("foreign, then allowed Origin")
        << focusWith("Origin: https://evil.example\r\nOrigin: " + kDevOrigin + "\r\n") << twoOrigins;
    QTest::newRow("allowed, then foreign Origin")
        << focusWith("Origin: " + kDevOrigin + "\r\nOrigin: https://evil.example\r\n") << twoOrigins;
    QTest::newRow("same allowed Origin twice")
        << focusWith("Origin: " + kWebOrigin + "\r\nORIGIN: " + kWebOrigin + "\r\n") << twoOrigins;
    QTest::newRow("empty, then allowed Origin") << focusWith("Origin:\r\nOrigin: " + kDevOrigin + "\r\n")
                                               << twoOrigins;
}

void LocalApiServerTest::malformedRequestRefused()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    QSignalSpy focus(m_server.get(), &LocalApiServer::focusRequested);
    QCOMPARE(exchange(m_port, request), expected);
    QCOMPARE(focus.count(), 0);
    QTRY_VERIFY(serverIsEmpty());
}

void LocalApiServerTest::oddContentLengthCountsAsZero_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("contentLength");
    QTest::addColumn<QByteArray>("expected");

    // With the length taken as 0 the "{}" sent along is not part of the
    // request: focus is accepted, pacs open finds no JSON.
    const QByteArray invalid = expectedResponse("400 Bad Request", "invalid json");
    QTest::newRow("negative, focus") << QByteArray("/focus") << QByteArray("-5") << kAccepted;
    QTest::newRow("not a number, focus") << QByteArray("/focus") << QByteArray("abc") << kAccepted;
    QTest::newRow("empty, focus") << QByteArray("/focus") << QByteArray() << kAccepted;
    QTest::newRow("negative, pacs open") << QByteArray("/pacs/open") << QByteArray("-2") << invalid;
    QTest::newRow("trailing letters, pacs open") << QByteArray("/pacs/open") << QByteArray("2x") << invalid;
}

void LocalApiServerTest::oddContentLengthCountsAsZero()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, contentLength);
    QFETCH(QByteArray, expected);
    const QByteArray bodySent = path == "/focus" ? QByteArray() : QByteArray("{}");
    const QByteArray request = "POST " + path + " HTTP/1.1\r\nContent-Length: " + contentLength + "\r\n\r\n";
    QCOMPARE(exchange(m_port, request + bodySent), expected);
}

void LocalApiServerTest::headerBlockCap_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected");

    const qsizetype cap = LocalApiServer::kMaxHeaderBytes;
    const QByteArray start = "GET /health HTTP/1.1\r\nX-Pad: ";
    // block size including "\r\n\r\n"
    const auto padded = [&](qsizetype blockSize) -> QByteArray {
        return start + QByteArray(blockSize - start.size() - 4, 'a') + "\r\n\r\n";
    };
    QCOMPARE(padded(cap).size(), cap);

    QTest::newRow("no end in sight") << (start + QByteArray(cap + 1000, 'a')) << kPayloadTooLarge;
    QTest::newRow("end far beyond the cap") << padded(cap + 4000) << kPayloadTooLarge;
    QTest::newRow("one byte over the cap") << padded(cap + 1) << kPayloadTooLarge;
    QTest::newRow("exactly at the cap") << padded(cap) << kHealthy;
}

void LocalApiServerTest::headerBlockCap()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    m_server->setRequestTimeout(60000); // any close seen here is not the timer's
    QCOMPARE(exchange(m_port, request), expected);
    QTRY_VERIFY(serverIsEmpty());
}

void LocalApiServerTest::bodyCapRefusedImmediately_data()
{
    QTest::addColumn<QByteArray>("contentLength");
    QTest::newRow("1 MiB and one byte") << QByteArray("1048577");
    QTest::newRow("99999999999") << QByteArray("99999999999");
    QTest::newRow("too long for 64 bits") << QByteArray("99999999999999999999999");
}

void LocalApiServerTest::bodyCapRefusedImmediately()
{
    QFETCH(QByteArray, contentLength);
    m_server->setRequestTimeout(60000); // any close seen here is not the timer's
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    RawClient client;
    QVERIFY(client.connectTo(m_port));
    // Only the header block goes out; the answer must not wait for the body.
    client.send("POST /pacs/open HTTP/1.1\r\nOrigin: http://localhost:5173\r\nContent-Length: " + contentLength
                + "\r\n\r\n");
    QVERIFY(client.waitClosed());
    QCOMPARE(client.received(), kPayloadTooLarge);
    QCOMPARE(open.count(), 0);
    QTRY_VERIFY(serverIsEmpty());
}

void LocalApiServerTest::bodyAtCapAccepted()
{
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    const QByteArray head = R"({"studyInstanceUID":"1.2.9","pad":")";
    const QByteArray tail = R"("})";
    const QByteArray body = head + QByteArray(LocalApiServer::kMaxBodyBytes - head.size() - tail.size(), 'x') + tail;
    QCOMPARE(body.size(), LocalApiServer::kMaxBodyBytes);
    QCOMPARE(exchange(m_port, buildRequest("POST", "/pacs/open", false, {}, body)), kAccepted);
    QCOMPARE(open.count(), 1);
    QCOMPARE(open.at(0).at(0).toString(), QStringLiteral("1.2.9"));
}

void LocalApiServerTest::connectionCapGivesWayToNewcomers_data()
{
    QTest::addColumn<QByteArray>("heldSend"); // what each held connection sends
    QTest::newRow("idle") << QByteArray();
    QTest::newRow("request begun") << QByteArray("GET /hea");
}

void LocalApiServerTest::connectionCapGivesWayToNewcomers()
{
    QFETCH(QByteArray, heldSend);
    m_server->setRequestTimeout(60000); // only a newcomer may end a held connection here
    const int cap = LocalApiServer::kMaxConnections;
    std::vector<std::unique_ptr<RawClient>> held;
    const auto holdOneMore = [&] {
        held.push_back(std::make_unique<RawClient>());
        if (held.back()->connectTo(m_port) && !heldSend.isEmpty())
            held.back()->send(heldSend);
    };
    for (int i = 0; i < cap; ++i) {
        holdOneMore();
        QTRY_COMPARE(m_server->connectionCount(), i + 1); // accepted in this order
    }

    // Each newcomer is served at once; the oldest held connection gives way,
    // unanswered, and all younger ones keep their place.
    for (std::size_t oldest = 0; oldest < 2; ++oldest) {
        QCOMPARE(health(), kHealthy);
        QVERIFY(held.at(oldest)->waitClosed());
        QCOMPARE(held.at(oldest)->received(), QByteArray());
        for (std::size_t j = oldest + 1; j < held.size(); ++j)
            QVERIFY2(held.at(j)->isOpen(), qPrintable(QString::number(j)));
        holdOneMore(); // a full house again
        QTRY_COMPARE(m_server->connectionCount(), cap);
    }
}

void LocalApiServerTest::slowClientDropped()
{
    const int timeoutMs = 400;
    m_server->setRequestTimeout(timeoutMs);
    RawClient client;
    QVERIFY(client.connectTo(m_port));
    QElapsedTimer clock;
    clock.start();

    // One byte every 100 ms of a header block that never ends: steady traffic
    // must not keep the connection alive.
    const QByteArray trickle = "GET /health HTTP/1.1\r\nX-Slow: " + QByteArray(1000, 'a');
    int sent = 0;
    QTimer drip;
    drip.setInterval(100);
    connect(&drip, &QTimer::timeout, this, [&] {
        if (client.isOpen() && sent < trickle.size())
            client.send(trickle.mid(sent++, 1));
    });
    drip.start();
    QVERIFY(client.waitClosed());
    const qint64 elapsed = clock.elapsed();
    drip.stop();
    QVERIFY2(elapsed >= timeoutMs - 50, qPrintable(QString::number(elapsed)));
    QVERIFY2(sent >= 2, qPrintable(QString::number(sent)));
    QCOMPARE(client.received(), QByteArray());
    QTRY_VERIFY(serverIsEmpty());
    QCOMPARE(health(), kHealthy);
}

void LocalApiServerTest::floodOfUnfinishedConnectionsReaped()
{
    m_server->setRequestTimeout(2000);
    const int total = 300;
    const int batch = 25;
    std::vector<std::unique_ptr<RawClient>> clients;
    const auto all = [&](std::size_t from, auto &&predicate) {
        return std::all_of(clients.begin() + std::ptrdiff_t(from), clients.end(),
                           [&](const auto &client) { return predicate(*client); });
    };
    int mostHeld = 0;
    for (int opened = 0; opened < total; opened += batch) {
        const std::size_t first = clients.size();
        for (int i = 0; i < batch; ++i) {
            clients.push_back(std::make_unique<RawClient>());
            clients.back()->start(m_port);
        }
        // Keep the listen queue short: let each batch land before the next.
        QTRY_VERIFY_WITH_TIMEOUT(all(first, [](const RawClient &c) { return c.settled(); }), 5000);
        for (std::size_t i = first; i < clients.size(); ++i)
            if (clients.at(i)->isOpen())
                clients.at(i)->send("POST /focus HTTP/1.1\r\nContent-Length: 10\r\n\r\n{");
        mostHeld = std::max(mostHeld, m_server->connectionCount());
        QVERIFY(m_server->connectionCount() <= LocalApiServer::kMaxConnections);
    }
    QCOMPARE(mostHeld, LocalApiServer::kMaxConnections);

    // The timer reaps all of them; nobody is ever answered.
    QTRY_VERIFY_WITH_TIMEOUT(serverIsEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(all(0, [](const RawClient &c) { return !c.isOpen(); }), 5000);
    QVERIFY(all(0, [](const RawClient &c) { return c.received().isEmpty(); }));

    QSignalSpy focus(m_server.get(), &LocalApiServer::focusRequested);
    QCOMPARE(exchange(m_port, buildRequest("POST", "/focus", false, {}, "{}")), kAccepted);
    QCOMPARE(focus.count(), 1);
}

void LocalApiServerTest::clientVanishesMidRequest_data()
{
    QTest::addColumn<QByteArray>("partial");
    QTest::addColumn<bool>("abortive"); // reset instead of an orderly close

    const QByteArray inHeader = "POST /pacs/open HTTP/1.1\r\nConte";
    const QByteArray inBody = "POST /pacs/open HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"studyInstanceUID\":";
    QTest::newRow("nothing sent, close") << QByteArray() << false;
    QTest::newRow("in header, close") << inHeader << false;
    QTest::newRow("in header, reset") << inHeader << true;
    QTest::newRow("in body, close") << inBody << false;
    QTest::newRow("in body, reset") << inBody << true;
}

void LocalApiServerTest::clientVanishesMidRequest()
{
    QFETCH(QByteArray, partial);
    QFETCH(bool, abortive);

    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    {
        QTcpSocket client;
        QSignalSpy connected(&client, &QTcpSocket::connected);
        client.connectToHost(QHostAddress(QHostAddress::LocalHost), m_port);
        QVERIFY(connected.count() > 0 || connected.wait(5000));
        if (!partial.isEmpty()) {
            client.write(partial);
            client.flush();
        }
        QTRY_COMPARE(m_server->connectionCount(), 1);
        if (abortive)
            client.abort();
        else
            client.disconnectFromHost();
    }
    // The connection's state and socket are gone, nothing was reported.
    QTRY_VERIFY(serverIsEmpty());
    QCOMPARE(open.count(), 0);
    QCOMPARE(health(), kHealthy);
}

void LocalApiServerTest::destroyedWithOpenConnections()
{
    RawClient a;
    RawClient b;
    QVERIFY(a.connectTo(m_port));
    QVERIFY(b.connectTo(m_port));
    a.send("GET /hea");
    QTRY_COMPARE(m_server->connectionCount(), 2);
    m_server.reset();
    QVERIFY(a.waitClosed());
    QVERIFY(b.waitClosed());
    QCOMPARE(a.received(), QByteArray());
}

QTEST_GUILESS_MAIN(LocalApiServerTest)

#include "test_local_api_server.moc"
