#include "app/CommandLine.h"

#include <QtTest>

class CommandLineTest : public QObject
{
    Q_OBJECT
private slots:
    void parsesOpenUrls_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("request"); // validity, study, host, port, AE title
        const QString none = QStringLiteral("invalid |||104|");
        QTest::newRow("full url") << QStringList{"velmaris://open?study=1.2.3&host=pacs.local&port=11112&aet=PACS"}
                                  << "valid |1.2.3|pacs.local|11112|PACS";
        QTest::newRow("port not a number") << QStringList{"velmaris://open?study=1.2.3&port=abc"} << "valid |1.2.3||104|";
        QTest::newRow("no port") << QStringList{"velmaris://open?study=1.2.3&host=h"} << "valid |1.2.3|h|104|";
        QTest::newRow("scheme and host in capitals") << QStringList{"VELMARIS://OPEN?study=9.8&aet=X"}
                                                     << "valid |9.8||104|X";
        QTest::newRow("percent-encoded values") << QStringList{"velmaris://open?study=1.2%2E3&aet=MY%20AE&host=%D1%85"}
                                                << "valid |1.2.3|х|104|MY AE";
        QTest::newRow("empty study") << QStringList{"velmaris://open?study=&host=h"} << none;
        QTest::newRow("other host") << QStringList{"velmaris://view?study=1"} << none;
        QTest::newRow("other scheme") << QStringList{"https://open?study=1"} << none;
        QTest::newRow("file paths ignored") << QStringList{"/tmp/a.dcm", "C:\\x"} << none;
        QTest::newRow("first valid url counts")
            << QStringList{"/tmp/a.dcm", "velmaris://open?study=", "velmaris://open?study=5&port=1",
                           "velmaris://open?study=6&port=2"}
            << "valid |5||1|";
        // The limits of a request through the bridge hold here too.
        QTest::newRow("study of 65 characters") << QStringList{"velmaris://open?study=1." + QString(63, '9')} << none;
        QTest::newRow("port beyond 65535") << QStringList{"velmaris://open?study=1.2&port=65536"} << none;
        QTest::newRow("control character in aet, next url counts")
            << QStringList{"velmaris://open?study=1.2&aet=A%07B", "velmaris://open?study=3.4&aet=" + QString(16, 'A'),
                           "velmaris://open?study=5.6"}
            << "valid |3.4||104|" + QString(16, 'A');
        QTest::newRow("nothing") << QStringList{} << none;
    }
    void parsesOpenUrls()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, request);
        const velmaris::PacsOpenRequest parsed = velmaris::parseOpenRequest(arguments);
        QCOMPARE(QStringList({parsed.valid ? "valid " : "invalid ", parsed.studyInstanceUID, parsed.serverHost,
                              QString::number(parsed.serverPort), parsed.serverAeTitle})
                     .join('|'),
                 request);
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
