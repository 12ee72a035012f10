#include "app/LocalApiServer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

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
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] { m_received += m_socket.readAll(); });
    }
    bool connectTo(quint16 port)
    {
        QSignalSpy connected(&m_socket, &QTcpSocket::connected);
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        return connected.count() > 0 || connected.wait(5000);
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
    bool staysOpen(int timeoutMs) { return isOpen() && !QSignalSpy(&m_socket, &QTcpSocket::disconnected).wait(timeoutMs); }
    void abort() { m_socket.abort(); }
    void disconnect() { m_socket.disconnectFromHost(); }
    QByteArray received() const { return m_received; }

private:
    QTcpSocket m_socket;
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

QByteArray openBody(const QString &uid, const QString &host, int port, const QString &aeTitle)
{
    return QJsonDocument(QJsonObject{{"studyInstanceUID", uid}, {"serverHost", host}, {"serverPort", port},
                                     {"serverAeTitle", aeTitle}})
        .toJson(QJsonDocument::Compact);
}

const QByteArray kPayloadTooLarge = expectedResponse("413 Payload Too Large", "payload too large");
const QByteArray kHealthy = expectedResponse("200 OK", "ok");
const QByteArray kAccepted = expectedResponse("202 Accepted", "accepted");

} // namespace

class LocalApiServerTest : public QObject
{
    Q_OBJECT

    bool serverIsEmpty() const
    {
        return m_server->connectionCount() == 0 && m_server->findChildren<QTcpSocket *>().isEmpty();
    }
    QByteArray health() const { return exchange(m_port, buildRequest("GET", "/health")); }

    std::unique_ptr<LocalApiServer> m_server;
    quint16 m_port = 0;

private slots:
    void init()
    {
        m_server = std::make_unique<LocalApiServer>(quint16(0), nullptr);
        QString error;
        QVERIFY2(m_server->listen(&error), qPrintable(error));
        m_port = m_server->serverPort();
        QVERIFY(m_port != 0);
    }
    void cleanup() { m_server.reset(); }

    void listenFailsOnBusyPort()
    {
        QCOMPARE(LocalApiServer(0, nullptr).serverPort(), quint16(0));
        LocalApiServer second(m_port, nullptr);
        QString error;
        QVERIFY(!second.listen(&error));
        QVERIFY(!error.isEmpty());
    }

    void requests_data();
    void requests();
    void splitRequestHandledOnceComplete();
    void connectionCapGivesWayToNewcomers_data();
    void connectionCapGivesWayToNewcomers();
    void slowClientDropped();
    void clientVanishesMidRequest_data();
    void clientVanishesMidRequest();
    void destroyedWithOpenConnections();
};

// Every request on its own connection, answered (or closed unanswered: empty)
// at once, never by the request timer.
void LocalApiServerTest::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("expected"); // the exact bytes of the answer
    QTest::addColumn<int>("focusSignals");
    QTest::addColumn<int>("openSignals");
    QTest::addColumn<QVariantList>("reported"); // study, host, port, AE title; empty: not checked
    const auto row = [](const QByteArray &name, const QByteArray &request, const QByteArray &expected, int focus = 0,
                        int open = 0, const QVariantList &reported = {}) {
        QTest::newRow(name.constData()) << request << expected << focus << open << reported;
    };

    struct Route
    {
        const char *label;
        QByteArray method, path, body, status, responseBody;
        int focus, open;
    };
    const Route routes[] = {
        {"health", "GET", "/health", {}, "200 OK", "ok", 0, 0},
        {"focus", "POST", "/focus", "{}", "202 Accepted", "accepted", 1, 0},
        {"focus without body", "POST", "/focus", {}, "202 Accepted", "accepted", 1, 0},
        {"pacs open", "POST", "/pacs/open", R"({"studyInstanceUID":"1.2.3"})", "202 Accepted", "accepted", 0, 1},
        {"pacs open array", "POST", "/pacs/open", "[]", "400 Bad Request", "invalid json", 0, 0},
        {"health with query", "GET", "/health?x=1", {}, "404 Not Found", "not found", 0, 0},
        {"GET focus", "GET", "/focus", {}, "404 Not Found", "not found", 0, 0},
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
    // The other allowed origins go through the same check; the pre-flights name each.
    const Origin origins[] = {
        {"no Origin", false, {}, false},
        {"web origin", true, kWebOrigin, true},
        {"localhost:5173", true, "http://localhost:5173", true},
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
            row(QByteArray(route.label) + ", " + origin.label,
                buildRequest(route.method, route.path, origin.send, origin.value, route.body),
                refused ? expectedResponse("403 Forbidden", "forbidden")
                        : expectedResponse(route.status, route.responseBody, origin.allowed ? origin.value : QByteArray()),
                refused ? 0 : route.focus, refused ? 0 : route.open);
        }
    row("one response per connection",
        buildRequest("POST", "/focus", false, {}, "{}") + buildRequest("GET", "/health")
            + buildRequest("POST", "/focus", false, {}, "{}"),
        kAccepted, 1);

    // CORS pre-flights: allowed origins for any path; a local program sending
    // none does no harm and just gets no origin echoed.
    const QByteArray allowHeaders = "Access-Control-Allow-Methods: POST, GET, OPTIONS\r\n"
                                    "Access-Control-Allow-Headers: Content-Type\r\n"
                                    "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const auto preflight = [](const QByteArray &path, const QByteArray &originLine) -> QByteArray {
        return "OPTIONS " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + originLine
            + "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Headers: content-type\r\n\r\n";
    };
    const QByteArray forbiddenPreflight = "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                          "Content-Length: 0\r\nConnection: close\r\n\r\n";
    for (const QByteArray &origin : {kWebOrigin, kDevOrigin, QByteArray("http://localhost:4173"),
                                     QByteArray("http://127.0.0.1:5173"), QByteArray("http://127.0.0.1:4173")})
        row("pre-flight " + origin, preflight("/pacs/open", "Origin: " + origin + "\r\n"),
            "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: " + origin + "\r\n" + allowHeaders);
    row("pre-flight, any path", preflight("/whatever?x=1", "Origin: " + kDevOrigin + "\r\n"),
        "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: " + kDevOrigin + "\r\n" + allowHeaders);
    row("pre-flight, foreign", preflight("/pacs/open", "Origin: https://evil.example\r\n"), forbiddenPreflight);
    row("pre-flight, no Origin", preflight("/pacs/open", {}), "HTTP/1.1 204 No Content\r\n" + allowHeaders);

    // What an accepted open request reports.
    const QString uid64 = "1." + QString(62, '7');
    const QString host64 = QString(60, 'h') + ".lan";
    const auto acceptedOpen = [&](const char *name, const QByteArray &body, const QVariantList &reported) {
        row(QByteArray("pacs open reports, ") + name, buildRequest("POST", "/pacs/open", true, kDevOrigin, body),
            expectedResponse("202 Accepted", "accepted", kDevOrigin), 0, 1, reported);
    };
    acceptedOpen("port missing", R"({"studyInstanceUID":"1.2","serverHost":"h","serverAeTitle":"AE"})",
                 {"1.2", "h", 104, "AE"});
    acceptedOpen("port as string", R"({"studyInstanceUID":"1.2","serverPort":"11112"})", {"1.2", "", 104, ""});
    acceptedOpen("non-ASCII text", R"({"studyInstanceUID":"1.2","serverAeTitle":"\u041f\u0410\u041a\u0421"})",
                 {"1.2", "", 104, QString::fromUtf8("ПАКС")});
    acceptedOpen("every field at its limit", openBody(uid64, host64, 65535, QString(16, 'A')),
                 {uid64, host64, 65535, QString(16, 'A')});
    const QByteArray head = R"({"studyInstanceUID":"1.2.9","pad":")";
    acceptedOpen("body exactly at the cap",
                 head + QByteArray(LocalApiServer::kMaxBodyBytes - head.size() - 2, 'x') + R"("})",
                 {"1.2.9", "", 104, ""});

    // Open requests are checked against the field limits.
    const auto refusedOpen = [&](const char *name, const QByteArray &body, const QByteArray &reason) {
        row(QByteArray("pacs open, ") + name, buildRequest("POST", "/pacs/open", true, kDevOrigin, body),
            expectedResponse("400 Bad Request", reason, kDevOrigin));
    };
    refusedOpen("empty object", "{}", "invalid study uid");
    refusedOpen("uid not a string", R"({"studyInstanceUID":12,"serverHost":"h"})", "invalid study uid");
    refusedOpen("uid of 65 characters", openBody(uid64 + '7', "h", 104, "A"), "invalid study uid");
    refusedOpen("uid with a letter", openBody("1.2.3a", "h", 104, "A"), "invalid study uid");
    refusedOpen("host of 65 characters", openBody("1.2", 'x' + host64, 104, "A"), "invalid server host");
    refusedOpen("host with a line feed", openBody("1.2", "pacs\nAE: EVIL", 104, "A"), "invalid server host");
    refusedOpen("port 0", openBody("1.2", "h", 0, "A"), "invalid server port");
    refusedOpen("port 65536", openBody("1.2", "h", 65536, "A"), "invalid server port");
    refusedOpen("ae title of 17 characters", openBody("1.2", "h", 104, QString(17, 'A')), "invalid server ae title");
    refusedOpen("ae title with a line feed", openBody("1.2", "h", 104, "PACS\nX"), "invalid server ae title");
    refusedOpen("invalid json", R"({"studyInstanceUID":)", "invalid json");
    refusedOpen("empty body", {}, "invalid json");

    // Without a request line there is nothing to answer.
    row("blank line alone", "\r\n\r\n", {});
    row("one word", "GET\r\n\r\n", {});
    row("blanks only", "   \t \r\n\r\n", {});
    row("leading blank line", "\r\n\r\nGET /health HTTP/1.1\r\n\r\n", {});

    // Each of these would be served (or awaited) if read leniently.
    const QByteArray lineEnding = expectedResponse("400 Bad Request", "malformed line ending");
    row("bare LF, block never ends", "POST /focus HTTP/1.1\n", lineEnding);
    row("bare LF inside a CR LF block", "POST /focus HTTP/1.1\r\nHost: x\nContent-Length: 0\r\n\r\n", lineEnding);
    row("bare LF ends the block", "POST /focus HTTP/1.1\r\nContent-Length: 0\r\n\n", lineEnding);
    const QByteArray twoLengths = expectedResponse("400 Bad Request", "duplicate content-length");
    row("two Content-Lengths", "POST /focus HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 2\r\n\r\n{}", twoLengths);
    row("two equal Content-Lengths, other case",
        "POST /focus HTTP/1.1\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\n{}", twoLengths);
    const QByteArray twoOrigins = expectedResponse("400 Bad Request", "duplicate origin");
    const auto focusWith = [](const QByteArray &originLines) -> QByteArray {
        return "POST /focus HTTP/1.1\r\n" + originLines + "Content-Length: 0\r\n\r\n";
    };
    row("foreign, then allowed Origin", focusWith("Origin: https://evil.example\r\nOrigin: " + kDevOrigin + "\r\n"),
        twoOrigins);
    row("same allowed Origin twice", focusWith("Origin: " + kWebOrigin + "\r\nORIGIN: " + kWebOrigin + "\r\n"),
        twoOrigins);
    row("empty, then allowed Origin", focusWith("Origin:\r\nOrigin: " + kDevOrigin + "\r\n"), twoOrigins);

    // An odd Content-Length counts as 0: the "{}" sent along is not part of
    // the request, so focus is accepted and pacs open finds no JSON.
    const QByteArray invalid = expectedResponse("400 Bad Request", "invalid json");
    for (const QByteArray length : {"-5", "abc", ""})
        row("Content-Length '" + length + "', focus", "POST /focus HTTP/1.1\r\nContent-Length: " + length + "\r\n\r\n",
            kAccepted, 1);
    for (const QByteArray length : {"-2", "2x"})
        row("Content-Length '" + length + "', pacs open",
            "POST /pacs/open HTTP/1.1\r\nContent-Length: " + length + "\r\n\r\n{}", invalid);

    // The header block cap, counted with its terminating "\r\n\r\n".
    const qsizetype cap = LocalApiServer::kMaxHeaderBytes;
    const QByteArray start = "GET /health HTTP/1.1\r\nX-Pad: ";
    const auto padded = [&](qsizetype blockSize) -> QByteArray {
        return start + QByteArray(blockSize - start.size() - 4, 'a') + "\r\n\r\n";
    };
    row("header block with no end in sight", start + QByteArray(cap + 1000, 'a'), kPayloadTooLarge);
    row("header block one byte over the cap", padded(cap + 1), kPayloadTooLarge);
    row("header block exactly at the cap", padded(cap), kHealthy);

    // A body over the cap is refused from the header alone, without waiting for it.
    for (const QByteArray length : {"1048577", "99999999999", "99999999999999999999999"})
        row("body of " + length + " bytes announced",
            "POST /pacs/open HTTP/1.1\r\nOrigin: http://localhost:5173\r\nContent-Length: " + length + "\r\n\r\n",
            kPayloadTooLarge);
}

void LocalApiServerTest::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);
    QFETCH(int, focusSignals);
    QFETCH(int, openSignals);
    QFETCH(QVariantList, reported);
    m_server->setRequestTimeout(60000); // any close seen here is not the timer's
    QSignalSpy focus(m_server.get(), &LocalApiServer::focusRequested);
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    QCOMPARE(exchange(m_port, request), expected);
    QCOMPARE(focus.count(), focusSignals);
    QCOMPARE(open.count(), openSignals);
    if (!reported.isEmpty())
        QCOMPARE(open.value(0), reported);
    QTRY_VERIFY(serverIsEmpty());
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
    QTRY_VERIFY(serverIsEmpty());
    QCOMPARE(open.count(), 1);
    QCOMPARE(open.at(0).at(0).toString(), QStringLiteral("1.2.3.4"));
    QCOMPARE(open.at(0).at(2).toInt(), 4242);
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
    m_server->setRequestTimeout(400);
    RawClient client;
    QVERIFY(client.connectTo(m_port));
    // One byte every 100 ms of a header block that never ends: steady traffic
    // must not keep the connection alive.
    const QByteArray trickle = "GET /health HTTP/1.1\r\nX-Slow: " + QByteArray(1000, 'a');
    int sent = 0;
    QTimer drip;
    connect(&drip, &QTimer::timeout, this, [&] {
        if (client.isOpen() && sent < trickle.size())
            client.send(trickle.mid(sent++, 1));
    });
    drip.start(100);
    QVERIFY(client.waitClosed());
    drip.stop();
    QVERIFY2(sent >= 2, qPrintable(QString::number(sent)));
    QCOMPARE(client.received(), QByteArray());
    QTRY_VERIFY(serverIsEmpty());
    QCOMPARE(health(), kHealthy);
}

void LocalApiServerTest::clientVanishesMidRequest_data()
{
    QTest::addColumn<QByteArray>("partial");
    QTest::addColumn<bool>("abortive"); // reset instead of an orderly close
    QTest::newRow("nothing sent, close") << QByteArray() << false;
    QTest::newRow("in header, reset") << QByteArray("POST /pacs/open HTTP/1.1\r\nConte") << true;
    QTest::newRow("in body, close")
        << QByteArray("POST /pacs/open HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"studyInstanceUID\":") << false;
}

void LocalApiServerTest::clientVanishesMidRequest()
{
    QFETCH(QByteArray, partial);
    QFETCH(bool, abortive);
    QSignalSpy open(m_server.get(), &LocalApiServer::openStudyRequested);
    {
        RawClient client;
        QVERIFY(client.connectTo(m_port));
        if (!partial.isEmpty())
            client.send(partial);
        QTRY_COMPARE(m_server->connectionCount(), 1);
        abortive ? client.abort() : client.disconnect();
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
