#pragma once

#include "app/BridgeRequestParser.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <unordered_map>

class QTcpServer;
class QTcpSocket;

namespace velmaris {

// A minimal HTTP/1.1 server on 127.0.0.1 through which a second start of the
// program and the product's web pages hand requests to the running instance:
// "GET /health", "POST /focus" and "POST /pacs/open" (JSON body), plus CORS
// pre-flights. Every connection gets exactly one response and is then closed.
// Runs entirely on the thread that owns it (the GUI thread); connect to the
// signals queued so that handlers run after the response has gone out.
class LocalApiServer : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype kMaxHeaderBytes = kBridgeMaxHeaderBytes;
    static constexpr qint64 kMaxBodyBytes = kBridgeMaxBodyBytes;
    // Connections held at once. A newcomer beyond it displaces the oldest
    // connection whose request has not been answered; that one is closed
    // unanswered.
    static constexpr int kMaxConnections = 64;
    // Time a connection gets, from acceptance, to deliver a complete request.
    static constexpr int kDefaultRequestTimeoutMs = 10000;

    LocalApiServer(quint16 port, QObject *parent);
    ~LocalApiServer() override;

    // Listens on the IPv4 loopback address only. On failure writes the socket
    // layer's error text to *error (when given).
    bool listen(QString *error);
    // The bound port once listening (useful when constructed with port 0),
    // otherwise the port given at construction.
    quint16 serverPort() const;

    // Applies to connections accepted after the call.
    void setRequestTimeout(int ms);
    int requestTimeout() const;

    // Connections currently held (accepted and not yet gone).
    int connectionCount() const;

    // True while an open request waits for the user; meanwhile further
    // "/pacs/open" requests are answered 429, so a page cannot stack up
    // questions. Set by the bridge itself as it reports a request (the
    // receiver gets it queued, and a burst must not slip in before), and by
    // whoever puts an open request of its own before the user; the receiver
    // clears it once the user has answered.
    bool openRequestWaiting() const;

public slots:
    void setOpenRequestWaiting(bool waiting);

signals:
    void openStudyRequested(QString studyInstanceUID, QString serverHost, int serverPort,
                            QString serverAeTitle);
    void focusRequested();

private slots:
    void onNewConnection();
    void onSocketReadyRead();
    void onSocketDisconnected();

private:
    struct Connection;

    void processIncoming(QTcpSocket *socket);
    void handleRequest(QTcpSocket *socket, const BridgeRequest &request);
    void onRequestTimedOut(QTcpSocket *socket);
    void sendAndClose(QTcpSocket *socket, const QByteArray &response);
    void closeWithoutAnswer(QTcpSocket *socket);
    // False when every held connection is already being answered.
    bool closeOldestUnanswered();
    void releaseConnection(QTcpSocket *socket);

    quint16 m_port = 0;
    int m_requestTimeoutMs = kDefaultRequestTimeoutMs;
    bool m_openRequestWaiting = false;
    quint64 m_acceptedCount = 0;
    QTcpServer *m_server = nullptr; // child of this
    // Sockets are children of this object; their state lives here until they
    // disconnect (or are dropped), and the socket itself is deleted later.
    std::unordered_map<QTcpSocket *, std::unique_ptr<Connection>> m_connections;
};

} // namespace velmaris
