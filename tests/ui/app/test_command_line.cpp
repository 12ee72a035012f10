#include "app/CommandLine.h"

#include <QtTest>

using velmaris::PacsOpenRequest;

class CommandLineTest : public QObject
{
    Q_OBJECT
private slots:
    void parsesOpenUrls_data();
    void parsesOpenUrls();
};

void CommandLineTest::parsesOpenUrls_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("study");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("aet");

    QTest::newRow("full url") << QStringList{"velmaris://open?study=1.2.3&host=pacs.local&port=11112&aet=PACS"}
                              << true << "1.2.3" << "pacs.local" << 11112 << "PACS";
    QTest::newRow("port not a number") << QStringList{"velmaris://open?study=1.2.3&port=abc"}
                                       << true << "1.2.3" << "" << 104 << "";
    QTest::newRow("no port") << QStringList{"velmaris://open?study=1.2.3&host=h"} << true << "1.2.3" << "h" << 104 << "";
    QTest::newRow("scheme and host in capitals") << QStringList{"VELMARIS://OPEN?study=9.8&aet=X"}
                                                 << true << "9.8" << "" << 104 << "X";
    QTest::newRow("percent-encoded values") << QStringList{"velmaris://open?study=1.2%2E3&aet=MY%20AE&host=%D1%85"}
                                            << true << "1.2.3" << QString::fromUtf8("х") << 104 << "MY AE";
    QTest::newRow("empty study") << QStringList{"velmaris://open?study=&host=h"} << false << "" << "" << 104 << "";
    QTest::newRow("other host") << QStringList{"velmaris://view?study=1"} << false << "" << "" << 104 << "";
    QTest::newRow("other scheme") << QStringList{"https://open?study=1"} << false << "" << "" << 104 << "";
    QTest::newRow("file paths ignored") << QStringList{"/tmp/a.dcm", "C:\\x"} << false << "" << "" << 104 << "";
    QTest::newRow("first valid url counts")
        << QStringList{"/tmp/a.dcm", "velmaris://open?study=", "velmaris://open?study=5&port=1",
                       "velmaris://open?study=6&port=2"}
        << true << "5" << "" << 1 << "";
    // The limits of a request through the bridge hold here too.
    const QString uid65 = QStringLiteral("1.") + QString(63, QLatin1Char('9'));
    QTest::newRow("study of 65 characters") << QStringList{"velmaris://open?study=" + uid65} << false << ""
                                            << "" << 104 << "";
    QTest::newRow("port beyond 65535") << QStringList{"velmaris://open?study=1.2&port=65536"} << false << ""
                                       << "" << 104 << "";
    QTest::newRow("control character in aet, next url counts")
        << QStringList{"velmaris://open?study=1.2&aet=A%07B", "velmaris://open?study=3.4&aet=" + QString(16, 'A'),
                       "velmaris://open?study=5.6"}
        << true << "3.4" << "" << 104 << QString(16, 'A');
    QTest::newRow("nothing") << QStringList{} << false << "" << "" << 104 << "";
}

void CommandLineTest::parsesOpenUrls()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    QFETCH(QString, study);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, aet);
    const PacsOpenRequest request = velmaris::parseOpenRequest(arguments);
    QCOMPARE(request.valid, valid);
    QCOMPARE(request.studyInstanceUID, study);
    QCOMPARE(request.serverHost, host);
    QCOMPARE(request.serverPort, port);
    QCOMPARE(request.serverAeTitle, aet);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
