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
        << QStringList{"/tmp/a.dcm", "velmaris://open?study=", "velmaris://open?study=A&port=1",
                       "velmaris://open?study=B&port=2"}
        << true << "A" << "" << 1 << "";
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
