#include "app/CommandLine.h"
#include "app/LocalApiServer.h"
#include "app/PacsOpenRequest.h"
#include "db/Database.h"
#include "ui/PrivateSettings.h"
#include "ui/app/BridgeWiring.h"
#include "ui/pacs/PacsOpenCoordinator.h"

#include <QAbstractButton>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

using velmaris::LocalApiServer;

namespace {

// Posts an open request to the bridge the way a web page does.
QNetworkReply *postOpen(QNetworkAccessManager &manager, quint16 port, const QString &uid)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/pacs/open").arg(port)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Origin", "http://localhost:5173");
    const QJsonObject body{{"studyInstanceUID", uid}, {"serverHost", "pacs.local"}, {"serverPort", 11112},
                           {"serverAeTitle", "PACS"}};
    return manager.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

// "status body" of each answer, once all have come.
QStringList answers(const std::vector<std::unique_ptr<QNetworkReply>> &replies)
{
    QStringList out;
    for (const auto &reply : replies) {
        if (!reply->isFinished() && !QSignalSpy(reply.get(), &QNetworkReply::finished).wait(5000))
            return {QStringLiteral("<no answer>")};
        out << QString::number(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt()) + ' '
                + QString::fromUtf8(reply->readAll());
    }
    return out;
}

} // namespace

// Open requests from the command line and, through the bridge, from a web page.
class OpenRequestsTest : public QObject
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
        QTest::newRow("percent-encoded values") << QStringList{"velmaris://open?study=1.2%2E3&aet=MY%20AE&host=%D1%85"}
                                                << "valid |1.2.3|х|104|MY AE";
        QTest::newRow("empty study") << QStringList{"velmaris://open?study=&host=h"} << none;
        QTest::newRow("other host") << QStringList{"velmaris://view?study=1"} << none;
        QTest::newRow("other scheme") << QStringList{"https://open?study=1"} << none;
        QTest::newRow("first valid url counts")
            << QStringList{"/tmp/a.dcm", "velmaris://open?study=", "velmaris://open?study=5&port=1",
                           "velmaris://open?study=6&port=2"}
            << "valid |5||1|";
        // The limits of a request through the bridge (their own table) hold here too.
        QTest::newRow("control character in aet, next url counts")
            << QStringList{"velmaris://open?study=1.2&aet=A%07B", "velmaris://open?study=3.4&aet=" + QString(16, 'A'),
                           "velmaris://open?study=5.6"}
            << "valid |3.4||104|" + QString(16, 'A');
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

    // A burst of open requests puts one question before the user; the rest are
    // refused until it is answered.
    void oneOpenRequestWaitsForTheUser();
};

void OpenRequestsTest::oneOpenRequestWaitsForTheUser()
{
    // The node is looked up in the configuration: a private one, empty.
    QTemporaryDir settings;
    QVERIFY(settings.isValid());
    velmaris::testing::usePrivateSettings(settings.path());
    QWidget window;
    LocalApiServer bridge(0, nullptr);
    QString error;
    QVERIFY2(bridge.listen(&error), qPrintable(error));
    db::Database archive(nullptr);
    QVERIFY(archive.open(QStringLiteral(":memory:")));
    pacs::PacsOpenCoordinator coordinator(&archive, &window);
    velmaris::connectBridge(&bridge, &coordinator, &window);
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    const auto boxes = [&] { return window.findChildren<QMessageBox *>(); };

    std::vector<std::unique_ptr<QNetworkReply>> burst;
    for (int i = 1; i <= 5; ++i)
        burst.emplace_back(postOpen(manager, bridge.serverPort(), QStringLiteral("1.2.%1").arg(i)));
    QStringList got = answers(burst);
    QCOMPARE(got.count(QStringLiteral("202 accepted")), 1);
    QCOMPARE(got.count(QStringLiteral("429 open request pending")), 4);
    QTRY_COMPARE(boxes().size(), 1);
    const QString first = QStringLiteral("1.2.%1").arg(got.indexOf(QStringLiteral("202 accepted")) + 1);
    QVERIFY2(boxes().first()->text().contains(first), qPrintable(boxes().first()->text()));
    QVERIFY(coordinator.isWaitingForUser());
    // A request that reaches the coordinator by another way gets no box of its own either.
    coordinator.openStudy(velmaris::PacsOpenRequest{QStringLiteral("7.7"), {}, 104, {}, true});
    QCOMPARE(boxes().size(), 1);

    boxes().first()->button(QMessageBox::No)->click();
    QTRY_VERIFY(!bridge.openRequestWaiting());
    QVERIFY(!coordinator.isWaitingForUser());
    QTRY_VERIFY(boxes().isEmpty());
}

QTEST_MAIN(OpenRequestsTest)
#include "test_open_requests.moc"
