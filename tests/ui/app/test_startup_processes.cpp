#include "ui/viewer/GeneratedSlices.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Bounds that only tell a hang apart: a loaded machine may start Norvane slowly.
constexpr int hangMs = 60000;

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool bridgeAnswers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

// One user's world: home, data, settings and runtime folders of its own and
// its own bridge port, so runs never meet each other or a real workstation.
struct UserWorld
{
    UserWorld()
    {
        port = freePort();
        for (const char *sub : {"home", "data", "config", "run"})
            QDir().mkpath(root.filePath(QString::fromLatin1(sub)));
        QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString runtimeDir() const { return root.filePath(QStringLiteral("run")); }
    QString dataHome() const { return root.filePath(QStringLiteral("data")); }
    QString lockFile() const { return runtimeDir() + QStringLiteral("/VelmarisSingleInstanceMutex_v1.lock"); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        env.insert(QStringLiteral("VELMARIS_BRIDGE_PORT"), QString::number(port));
        return env;
    }

    QTemporaryDir root;
    quint16 port = 0;
};

// A running Norvane whose diagnostics are collected as they come.
class Workstation
{
public:
    explicit Workstation(const UserWorld &world, const QString &program = QStringLiteral(NORVANE_EXECUTABLE),
                         const QStringList &arguments = {})
    {
        m_process.setProcessEnvironment(world.environment());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&m_process, &QProcess::readyRead, &m_process,
                         [this] { log += QString::fromUtf8(m_process.readAll()); });
        m_process.start(program, arguments);
    }
    ~Workstation()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Waits until the log says `words`: an instance that says "MainWindow:
    // shown" turns its event loop and answers a second start at once, whereas
    // one that merely listens may still be busy starting.
    bool says(const QString &words)
    {
        return QTest::qWaitFor([&] { return log.contains(words); }, hangMs);
    }
    QProcess &process() { return m_process; }
    // The exit code of a run that ends by itself; -1 when it hung or crashed.
    int exitCode()
    {
        return m_process.waitForFinished(hangMs) && m_process.exitStatus() == QProcess::NormalExit
            ? m_process.exitCode()
            : -1;
    }

    QString log;

private:
    QProcess m_process;
};

int startAgain(const UserWorld &world, const QStringList &arguments = {})
{
    return Workstation(world, QStringLiteral(NORVANE_EXECUTABLE), arguments).exitCode();
}

} // namespace

class StartupProcessesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<UserWorld> m_world;
    std::unique_ptr<Workstation> m_first;

private slots:
    void initTestCase()
    {
        m_world = std::make_unique<UserWorld>();
        m_first = std::make_unique<Workstation>(*m_world);
        QVERIFY2(m_first->says(QStringLiteral("MainWindow: shown")), qPrintable(m_first->log));
        QVERIFY(QFileInfo::exists(m_world->lockFile()));
        QVERIFY(QFileInfo::exists(m_world->dataHome() + QStringLiteral("/Brennick/Norvane/index.sqlite3")));
    }
    void cleanupTestCase() { m_first.reset(); }

    void secondStartForwards_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("received"); // what the first instance reports
        const QString focus = QStringLiteral("MainWindow: focus requested");
        QTest::newRow("no argument") << QStringList() << focus;
        QTest::newRow("open url") << QStringList{"/tmp/scan.dcm", "velmaris://open?study=1.2.3&host=pacs.local&port=11112&aet=PACS"}
                                  << "study=1.2.3 host=pacs.local port=11112 aet=PACS";
    }
    void secondStartForwards()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, received);
        // The first instance refuses further open requests while one waits for
        // the user, so the row that forwards one comes last.
        m_first->log.clear();
        QCOMPARE(startAgain(*m_world, arguments), 0);
        QVERIFY2(m_first->says(received), qPrintable(m_first->log));
        // Exactly one request reached the first instance.
        QCOMPARE(m_first->log.count(QStringLiteral("focus requested")) + m_first->log.count(QStringLiteral("study=")), 1);
    }

    void staleLockIsTakenOver()
    {
        UserWorld world;
        {
            Workstation crashed(world);
            QVERIFY(crashed.says(QStringLiteral("MainWindow: shown")));
            crashed.process().kill(); // SIGKILL: no chance to remove its lock
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        QVERIFY(QFileInfo::exists(world.lockFile()));
        Workstation next(world);
        QVERIFY2(next.says(QStringLiteral("MainWindow: shown")), qPrintable(next.log));
    }

    void portableModeLeavesNoTrace()
    {
        UserWorld world;
        const QString disc = world.root.filePath(QStringLiteral("disc"));
        const QString program = disc + QStringLiteral("/Norvane");
        QVERIFY(QDir().mkpath(disc));
        QVERIFY(QFile::copy(QStringLiteral(NORVANE_EXECUTABLE), program));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
        QFile marker(disc + QStringLiteral("/portable.marker"));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        velmaris::gen::SeriesSpec spec = velmaris::testing::seriesSpec(2, 8, 8);
        QStringList paths;
        QVERIFY(velmaris::gen::writeSeries(spec, disc + QStringLiteral("/DICOM"), &paths));
        Workstation portable(world, program);
        QVERIFY2(portable.says(QStringLiteral("viewer shown for ") + spec.studyInstanceUid), qPrintable(portable.log));
        QVERIFY(!QFileInfo::exists(world.lockFile()));
        QVERIFY(!QFileInfo::exists(world.dataHome() + QStringLiteral("/Brennick")));
        QVERIFY(!bridgeAnswers(world.port));
    }
};

QTEST_GUILESS_MAIN(StartupProcessesTest)
#include "test_startup_processes.moc"
