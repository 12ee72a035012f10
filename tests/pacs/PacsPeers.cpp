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

pacs::PacsServerConfig loopbackNode(int port, const QString &aeTitle)
{
    pacs::PacsServerConfig node;
    node.host = QStringLiteral("127.0.0.1");
    node.port = port;
    node.aeTitle = aeTitle;
    return node;
}

velmaris::gen::SeriesSpec patientSeries(int slices, const QString &name, const QString &id, const QString &date,
                                        velmaris::gen::Kind kind, velmaris::gen::Compression compression)
{
    velmaris::gen::SeriesSpec spec;
    spec.kind = kind;
    spec.compression = compression;
    spec.slices = slices;
    spec.patientName = name;
    spec.patientId = id;
    spec.studyDate = date;
    return spec;
}

pacs::PacsServerConfig DicomPeer::node() const
{
    return loopbackNode(m_port, m_aeTitle);
}

bool DicomPeer::start(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QDir dir(m_dir.path());
    m_port = freePort();
    // The peer's configuration file, written into its folder; empty on failure.
    const auto writeConfig = [&](const QString &name, const QByteArray &content) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::WriteOnly) && file.write(content) == content.size())
            return file.fileName();
        *error = file.errorString();
        return QString();
    };
    QString program;
    QStringList arguments;
    switch (m_kind) {
    case Kind::Orthanc: {
        m_httpPort = freePort();
        QJsonObject modalities;
        if (!m_moveAe.isEmpty())
            modalities.insert(QStringLiteral("dest"), QJsonArray{m_moveAe, QStringLiteral("127.0.0.1"), m_movePort});
        const QJsonObject config{
            {"Name", "TestOrthanc"}, {"StorageDirectory", dir.filePath(QStringLiteral("storage"))},
            {"IndexDirectory", dir.filePath(QStringLiteral("index"))}, {"Plugins", QJsonArray{}},
            {"HttpPort", m_httpPort}, {"RemoteAccessAllowed", false}, {"AuthenticationEnabled", false},
            {"DicomAet", m_aeTitle}, {"DicomPort", m_port}, {"DicomCheckCalledAet", true},
            {"DicomAlwaysAllowEcho", true}, {"DicomAlwaysAllowStore", true}, {"DicomAlwaysAllowFind", true},
            {"DicomAlwaysAllowGet", true}, {"DicomAlwaysAllowMove", true}, {"DicomCheckModalityHost", false},
            {"DicomModalities", modalities}, {"DicomAssociationCloseDelay", 0}, {"SaveJobs", false},
            {"DefaultEncoding", "Utf8"},
        };
        program = QStringLiteral("/usr/sbin/Orthanc");
        arguments << writeConfig(QStringLiteral("orthanc.json"), QJsonDocument(config).toJson());
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
        program = QStringLiteral("/usr/bin/dcmqrscp");
        arguments << QStringLiteral("-c") << writeConfig(QStringLiteral("dcmqrscp.cfg"), config.toUtf8());
        break;
    }
    case Kind::Storescp:
        dir.mkpath(QStringLiteral("received"));
        program = QStringLiteral("/usr/bin/storescp");
        // +xa: every transfer syntax, so that compressed objects arrive as sent;
        // +uf: a new file for every object, also one received twice.
        arguments << QStringLiteral("-aet") << m_aeTitle << QStringLiteral("+xa") << QStringLiteral("+uf")
                  << QStringLiteral("-od") << receivedFolder() << QString::number(m_port);
        break;
    }
    if (arguments.contains(QString()))
        return false;
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
