#include "PacsPeers.h"

#include "pacs/PacsClient.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>

namespace velmaris::testing {

int freePort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

DicomPeer::DicomPeer(Kind kind, const QString &aeTitle, const QString &moveDestinationAe, int moveDestinationPort)
    : m_kind(kind), m_aeTitle(aeTitle), m_moveAe(moveDestinationAe), m_movePort(moveDestinationPort)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
}

DicomPeer::~DicomPeer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

QString DicomPeer::receivedFolder() const
{
    return m_dir.filePath(QStringLiteral("received"));
}

pacs::PacsServerConfig DicomPeer::node() const
{
    pacs::PacsServerConfig node;
    node.host = QStringLiteral("127.0.0.1");
    node.port = m_port;
    node.aeTitle = m_aeTitle;
    return node;
}

bool DicomPeer::start(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QDir dir(m_dir.path());
    m_port = freePort();
    QString program;
    QStringList arguments;
    switch (m_kind) {
    case Kind::Orthanc: {
        m_httpPort = freePort();
        QJsonObject modalities;
        if (!m_moveAe.isEmpty())
            modalities.insert(QStringLiteral("dest"),
                              QJsonArray{m_moveAe, QStringLiteral("127.0.0.1"), m_movePort});
        const QJsonObject config{
            {QStringLiteral("Name"), QStringLiteral("TestOrthanc")},
            {QStringLiteral("StorageDirectory"), dir.filePath(QStringLiteral("storage"))},
            {QStringLiteral("IndexDirectory"), dir.filePath(QStringLiteral("index"))},
            {QStringLiteral("Plugins"), QJsonArray{}},
            {QStringLiteral("HttpPort"), m_httpPort},
            {QStringLiteral("RemoteAccessAllowed"), false},
            {QStringLiteral("AuthenticationEnabled"), false},
            {QStringLiteral("DicomAet"), m_aeTitle},
            {QStringLiteral("DicomPort"), m_port},
            {QStringLiteral("DicomCheckCalledAet"), true},
            {QStringLiteral("DicomAlwaysAllowEcho"), true},
            {QStringLiteral("DicomAlwaysAllowStore"), true},
            {QStringLiteral("DicomAlwaysAllowFind"), true},
            {QStringLiteral("DicomAlwaysAllowGet"), true},
            {QStringLiteral("DicomAlwaysAllowMove"), true},
            {QStringLiteral("DicomCheckModalityHost"), false},
            {QStringLiteral("DicomModalities"), modalities},
            {QStringLiteral("DicomAssociationCloseDelay"), 0},
            {QStringLiteral("SaveJobs"), false},
            {QStringLiteral("DefaultEncoding"), QStringLiteral("Utf8")},
        };
        QFile file(dir.filePath(QStringLiteral("orthanc.json")));
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(config).toJson()) < 0) {
            *error = file.errorString();
            return false;
        }
        file.close();
        program = QStringLiteral("/usr/sbin/Orthanc");
        arguments << file.fileName();
        break;
    }
    case Kind::Dcmqrscp: {
        dir.mkpath(QStringLiteral("db"));
        QString hosts;
        if (!m_moveAe.isEmpty())
            hosts = QStringLiteral("dest = (%1, 127.0.0.1, %2)\n").arg(m_moveAe).arg(m_movePort);
        const QString config = QStringLiteral("NetworkTCPPort  = %1\nMaxPDUSize      = 16384\nMaxAssociations = 16\n"
                                              "HostTable BEGIN\n%2HostTable END\nVendorTable BEGIN\nVendorTable END\n"
                                              "AETable BEGIN\n%3  %4  RW  (200, 1024mb)  ANY\nAETable END\n")
                                   .arg(m_port)
                                   .arg(hosts, m_aeTitle, dir.filePath(QStringLiteral("db")));
        QFile file(dir.filePath(QStringLiteral("dcmqrscp.cfg")));
        if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
            *error = file.errorString();
            return false;
        }
        file.close();
        program = QStringLiteral("/usr/bin/dcmqrscp");
        arguments << QStringLiteral("-c") << file.fileName();
        break;
    }
    case Kind::Storescp:
        dir.mkpath(QStringLiteral("received"));
        program = QStringLiteral("/usr/bin/storescp");
        // +xa: every transfer syntax, so that compressed objects arrive as sent;
        // +uf: a new file for every object, also one received twice.
        arguments << QStringLiteral("-aet") << m_aeTitle << QStringLiteral("+xa") << QStringLiteral("+uf") << QStringLiteral("-od")
                  << receivedFolder() << QString::number(m_port);
        break;
    }
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(30000)) {
        *error = QStringLiteral("%1: %2").arg(program, m_process.errorString());
        return false;
    }
    const pacs::PacsConfig local;
    // Generous: the machine may be busy with other builds.
    const bool answered = QTest::qWaitFor(
        [&] { return m_process.state() != QProcess::Running || pacs::echoServer(node(), local); }, 60000);
    if (!answered || m_process.state() != QProcess::Running) {
        *error = QStringLiteral("%1 не отвечает на C-ECHO").arg(program);
        return false;
    }
    return true;
}

} // namespace velmaris::testing
