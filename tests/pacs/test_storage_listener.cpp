// The storage listener as a PACS meets it: our own C-STORE client sends to it
// on loopback, over a real association.

#include "PacsPeers.h"

#include "pacs/PacsClient.h"
#include "pacs/StorageListener.h"
#include "seriesgen/SeriesGenerator.h"

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

// A listener on its own thread, as the coordinator runs it; what it announces
// is collected on the test's thread.
class RunningListener : public QObject
{
public:
    RunningListener(quint16 port, const QString &folder)
        : listener(new pacs::StorageListener(port, QStringLiteral("NORVANE"), folder))
    {
        listener->moveToThread(&thread);
        connect(&thread, &QThread::started, listener, &pacs::StorageListener::run);
        connect(listener, &pacs::StorageListener::fileReceived, this, [this](const QString &p) { files << p; });
        connect(listener, &pacs::StorageListener::errorOccurred, this, [this](const QString &m) { errors << m; });
        connect(listener, &pacs::StorageListener::listening, this, [this] { listening = true; });
        connect(listener, &pacs::StorageListener::stopped, this, [this] { stopped = true; });
        connect(listener, &pacs::StorageListener::stopped, &thread, &QThread::quit, Qt::DirectConnection);
        connect(&thread, &QThread::finished, listener, &QObject::deleteLater);
        thread.start();
    }
    ~RunningListener() override
    {
        listener->stop();
        thread.wait();
    }

    QThread thread;
    pacs::StorageListener *listener;
    QStringList files;
    QStringList errors;
    bool listening = false;
    bool stopped = false;
};

} // namespace

class StorageListenerTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void receive_data();
    void receive();
    void portTaken();

private:
    QTemporaryDir m_dir;
    QStringList m_files;
    QStringList m_enhanced; // a storage class outside the ten
};

void StorageListenerTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    velmaris::gen::SeriesSpec spec;
    spec.slices = 3;
    QVERIFY(velmaris::gen::writeSeries(spec, m_dir.filePath(QStringLiteral("sent")), &m_files));
    velmaris::gen::SeriesSpec enhanced;
    enhanced.kind = velmaris::gen::Kind::EnhancedMultiFrame;
    enhanced.slices = 2;
    QVERIFY(velmaris::gen::writeSeries(enhanced, m_dir.filePath(QStringLiteral("enhanced")), &m_enhanced));
}

void StorageListenerTest::receive_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("verificationOnly");
    QTest::addColumn<bool>("enhanced");
    QTest::newRow("objects written") << true << false << false;
    // Acknowledging an object that is not on disk would lose it unseen.
    QTest::newRow("folder cannot be made") << false << false << false;
    QTest::newRow("no Verification offered") << true << true << false;
    QTest::newRow("Enhanced CT refused") << true << false << true;
}

void StorageListenerTest::receive()
{
    QFETCH(bool, writable);
    QFETCH(bool, verificationOnly);
    QFETCH(bool, enhanced);
    QString folder = m_dir.filePath(QStringLiteral("in/%1").arg(QTest::currentDataTag()));
    if (!writable) {
        QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        folder = blocker.fileName() + QStringLiteral("/in");
    }
    const int port = velmaris::testing::freePort();
    RunningListener running(quint16(port), folder);
    QTRY_VERIFY(running.listening);
    pacs::PacsServerConfig node;
    node.host = QStringLiteral("127.0.0.1");
    node.port = port;
    node.aeTitle = QStringLiteral("NORVANE");
    QString error;
    if (verificationOnly) {
        QVERIFY(!pacs::echoServer(node, pacs::PacsConfig(), &error));
        QVERIFY(!error.isEmpty());
        return;
    }
    if (enhanced) {
        QVERIFY(!pacs::storeFiles(node, pacs::PacsConfig(), m_enhanced, &error));
        QVERIFY(!QDir(folder).exists() || QDir(folder).isEmpty());
        QVERIFY(running.files.isEmpty());
        return;
    }
    const bool sent = pacs::storeFiles(node, pacs::PacsConfig(), m_files, &error);
    QCOMPARE(sent, writable);
    if (!writable) {
        QCOMPARE(error, QStringLiteral("Отправлено 0 из 3 — не удалось отправить 3 файлов"));
        QTRY_COMPARE(running.errors.size(), 3);
        QVERIFY2(running.errors.first().startsWith(QStringLiteral("Не удалось сохранить принятый файл")),
                 qPrintable(running.errors.first()));
        QVERIFY(running.files.isEmpty());
        return;
    }
    QTRY_COMPARE(running.files.size(), 3);
    QStringList onDisk;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files))
        onDisk << info.absoluteFilePath();
    onDisk.sort();
    QStringList announced = running.files;
    announced.sort();
    QCOMPARE(announced, onDisk);
    QVERIFY(running.errors.isEmpty());
}

void StorageListenerTest::portTaken()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    RunningListener running(holder.serverPort(), m_dir.filePath(QStringLiteral("taken")));
    // Said once, then the listener ends by itself instead of failing on
    // every pass.
    QTRY_VERIFY(running.stopped);
    QCOMPARE(running.errors.size(), 1);
    QVERIFY2(running.errors.first().startsWith(QStringLiteral("Ошибка приёма соединения: ")),
             qPrintable(running.errors.first()));
    QVERIFY(!running.listening);
}

QTEST_GUILESS_MAIN(StorageListenerTest)
#include "test_storage_listener.moc"
