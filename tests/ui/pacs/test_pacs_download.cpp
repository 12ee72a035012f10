// PACS search and download against Orthanc and dcmqrscp started here: the
// dialog's search over several nodes, downloads by C-MOVE into our storage
// listener and by C-GET, viewing without saving, and open requests that come
// through the real loopback bridge.

#include "ModalBoxCatcher.h"
#include "PrivateSettings.h"
#include "pacs/PacsPeers.h"

#include "app/LocalApiServer.h"
#include "db/Database.h"
#include "db/ImportService.h"
#include "pacs/PacsClient.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/app/BridgeWiring.h"
#include "ui/pacs/PacsDownloadDialog.h"
#include "ui/pacs/PacsOpenCoordinator.h"
#include "ui/viewer/ViewerWindow.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using velmaris::testing::DicomPeer;
using velmaris::testing::ModalBoxCatcher;

namespace {

enum Node { OrthancMove, DcmqrscpGet, DcmqrscpMoveWrongPort, ClosedPort, SilentNode };

bool allInside(const QStringList &paths, const QString &folder)
{
    const QString root = QDir::cleanPath(folder) + QLatin1Char('/');
    return !paths.isEmpty()
        && std::all_of(paths.begin(), paths.end(), [&](const QString &p) { return QDir::cleanPath(p).startsWith(root); });
}

} // namespace

class PacsDownloadTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void nameQuery_data();
    void nameQuery();
    void search_data();
    void search();
    void download_data();
    void download();
    void viewOnly_data();
    void viewOnly();
    void openRequest_data();
    void openRequest();

private:
    pacs::PacsServerConfig node(int which) const;
    void configure(const QList<int> &nodes, int localPort = 0);
    // A dialog whose table holds the study, selected, after a real search.
    std::unique_ptr<PacsDownloadDialog> dialogWithStudy(int which, const QString &studyUid);
    QString dataDirectory() const { return m_dir.filePath(QStringLiteral("data")); }

    QTemporaryDir m_dir;
    std::unique_ptr<DicomPeer> m_orthanc;
    std::unique_ptr<DicomPeer> m_dcmqrscp;
    QTcpServer m_silent; // accepts and never answers
    int m_listenerPort = 0;
    int m_closedPort = 0;
    std::unique_ptr<db::Database> m_database;
    // 0: on both peers; 1: on both peers and imported from its folder;
    // 2: on both peers, for viewing only.
    QString m_uid[3];
    QString m_folder[3];
    int m_count[3] = {3, 2, 2};
};

void PacsDownloadTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    velmaris::testing::usePrivateSettings(m_dir.filePath(QStringLiteral("settings")));
    qputenv("VELMARIS_PACS_TIMEOUT_S", "3");
    QStringList all;
    for (int i = 0; i < 3; ++i) {
        velmaris::gen::SeriesSpec spec;
        spec.slices = m_count[i];
        spec.patientName = QStringLiteral("Иванов^Пациент%1").arg(i);
        spec.patientId = QStringLiteral("PID-%1").arg(i);
        spec.studyDate = QStringLiteral("2024010%1").arg(i + 1);
        m_folder[i] = m_dir.filePath(QStringLiteral("study%1").arg(i));
        QStringList files;
        QVERIFY(velmaris::gen::writeSeries(spec, m_folder[i], &files));
        m_uid[i] = spec.studyInstanceUid;
        all << files;
    }
    m_listenerPort = velmaris::testing::freePort();
    m_closedPort = velmaris::testing::freePort();
    m_orthanc = std::make_unique<DicomPeer>(DicomPeer::Kind::Orthanc, QStringLiteral("ORTHANC"),
                                            QStringLiteral("NORVANE"), m_listenerPort);
    // dcmqrscp knows us at a port where nobody listens: a C-MOVE from it can
    // never reach us, as from a PACS behind a firewall.
    m_dcmqrscp = std::make_unique<DicomPeer>(DicomPeer::Kind::Dcmqrscp, QStringLiteral("TINYPACS"),
                                             QStringLiteral("NORVANE"), m_closedPort);
    QString error;
    QVERIFY2(m_orthanc->start(&error), qPrintable(error));
    QVERIFY2(m_dcmqrscp->start(&error), qPrintable(error));
    for (DicomPeer *peer : {m_orthanc.get(), m_dcmqrscp.get()})
        QVERIFY2(pacs::storeFiles(peer->node(), pacs::PacsConfig(), all, &error), qPrintable(error));
    QVERIFY(m_silent.listen(QHostAddress::LocalHost, 0));
}

void PacsDownloadTest::init()
{
    QSettings().clear();
    PacsDownloadDialog::clearCachedResults();
    QDir(dataDirectory()).removeRecursively();
    QVERIFY(QDir().mkpath(dataDirectory()));
    m_database = std::make_unique<db::Database>(nullptr);
    QVERIFY(m_database->open(QDir(dataDirectory()).filePath(QStringLiteral("index.sqlite3"))));
    db::ImportOutcome outcome;
    QString error;
    QVERIFY2(db::ImportService::importFolder(m_database.get(), m_folder[1], 10, &outcome, &error), qPrintable(error));
    QVERIFY(m_database->studyExists(m_uid[1]));
}

void PacsDownloadTest::cleanup()
{
    QList<QPointer<QWidget>> viewers;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<velmaris::ViewerWindow *>(widget))
            viewers << widget;
    }
    qDeleteAll(viewers);
    m_database.reset();
}

pacs::PacsServerConfig PacsDownloadTest::node(int which) const
{
    pacs::PacsServerConfig node;
    switch (which) {
    case OrthancMove:
        node = m_orthanc->node();
        node.description = QStringLiteral("Orthanc");
        break;
    case DcmqrscpGet:
    case DcmqrscpMoveWrongPort:
        node = m_dcmqrscp->node();
        node.description = QStringLiteral("dcmqrscp");
        node.retrieveMode = which == DcmqrscpGet ? pacs::RetrieveMode::Get : pacs::RetrieveMode::Move;
        break;
    case ClosedPort:
        node.host = QStringLiteral("127.0.0.1");
        node.port = m_closedPort;
        node.aeTitle = QStringLiteral("NOBODY");
        break;
    case SilentNode:
        node.host = QStringLiteral("127.0.0.1");
        node.port = m_silent.serverPort();
        node.aeTitle = QStringLiteral("SILENT");
        node.description = QStringLiteral("Молчун");
        break;
    }
    return node;
}

void PacsDownloadTest::configure(const QList<int> &nodes, int localPort)
{
    pacs::PacsConfig config;
    config.localPort = localPort == 0 ? m_listenerPort : localPort;
    config.localAeTitle = QStringLiteral("NORVANE");
    for (int which : nodes)
        config.servers << node(which);
    pacs::savePacsConfig(config);
}

std::unique_ptr<PacsDownloadDialog> PacsDownloadTest::dialogWithStudy(int which, const QString &studyUid)
{
    configure({which});
    auto dialog = std::make_unique<PacsDownloadDialog>(m_database.get());
    dialog->coordinator()->setDataDirectory(dataDirectory());
    QSignalSpy searched(dialog.get(), &PacsDownloadDialog::searchFinished);
    dialog->onFindClicked();
    if (!searched.wait(30000))
        return nullptr;
    QTableWidget *table = dialog->resultsTable();
    for (int row = 0; row < table->rowCount(); ++row) {
        if (table->item(row, 0)->data(Qt::UserRole).toString() == studyUid) {
            table->selectRow(row);
            table->setCurrentCell(row, 0);
            return dialog;
        }
    }
    return nullptr;
}

void PacsDownloadTest::nameQuery_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");
    QTest::newRow("plain name: substring") << QStringLiteral(" Иванов ") << QStringLiteral("*Иванов*");
    QTest::newRow("asterisk kept") << QStringLiteral("Иванов*") << QStringLiteral("Иванов*");
    QTest::newRow("question mark kept") << QStringLiteral("Ив?нов") << QStringLiteral("Ив?нов");
    QTest::newRow("empty") << QStringLiteral("  ") << QString();
}

void PacsDownloadTest::nameQuery()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    configure({OrthancMove});
    PacsDownloadDialog dialog(m_database.get());
    dialog.nameEdit()->setText(typed);
    QCOMPARE(dialog.currentQuery().patientName, sent);
}

void PacsDownloadTest::search_data()
{
    QTest::addColumn<QList<int>>("nodes");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("warningLines");
    QTest::newRow("one silent, one answering") << QList<int>{SilentNode, OrthancMove} << 3 << QStringList();
    QTest::newRow("both unreachable") << QList<int>{ClosedPort, SilentNode} << 0
                                      << QStringList{QStringLiteral("127.0.0.1: "), QStringLiteral("Молчун: ")};
}

void PacsDownloadTest::search()
{
    QFETCH(QList<int>, nodes);
    QFETCH(int, rows);
    QFETCH(QStringList, warningLines);
    configure(nodes);
    PacsDownloadDialog dialog(m_database.get());
    QCOMPARE(dialog.serverList()->count(), nodes.size());
    dialog.selectAllBox()->setChecked(true);
    ModalBoxCatcher boxes;
    QSignalSpy searched(&dialog, &PacsDownloadDialog::searchFinished);
    dialog.onFindClicked();
    // The queries run elsewhere: the window is busy, not frozen.
    QVERIFY(dialog.isBusy());
    QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Выполняется C-FIND по %1 серверам…").arg(nodes.size()));
    QVERIFY(!dialog.findButton()->isEnabled());
    QVERIFY(searched.wait(30000));
    QVERIFY(!dialog.isBusy());
    QCOMPARE(dialog.resultsTable()->rowCount(), rows);
    if (rows > 0) {
        QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Найдено исследований: %1 (по 2 серверам)").arg(rows));
        // Newest first, shown as a date and a time, from the answering node.
        QCOMPARE(dialog.resultsTable()->item(0, PacsDownloadDialog::DateTime)->text(),
                 QStringLiteral("2024-01-03 10:15:00"));
        QCOMPARE(dialog.resultsTable()->item(0, PacsDownloadDialog::Server)->text(), QStringLiteral("Orthanc"));
        QCOMPARE(PacsDownloadDialog::cachedResults().size(), rows);
        QCOMPARE(boxes.count, 0); // a warning would have been shown before the wait ended
        // A dialog opened later shows the same rows.
        PacsDownloadDialog later(m_database.get());
        QCOMPARE(later.resultsTable()->rowCount(), rows);
        QCOMPARE(later.statusLabel()->text(), QStringLiteral("Показаны результаты предыдущего поиска — %1").arg(rows));
        return;
    }
    QCOMPARE(dialog.statusLabel()->text(), QStringLiteral("Ничего не найдено."));
    QTRY_COMPARE(boxes.count, 1);
    QCOMPARE(boxes.title, QStringLiteral("C-FIND"));
    const QStringList lines = boxes.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), warningLines.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines.at(i).startsWith(warningLines.at(i)), qPrintable(boxes.text));
}

void PacsDownloadTest::download_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("localPort"); // 0: the listener's own
    QTest::addColumn<QString>("failure"); // the start of the warning, empty: success
    QTest::newRow("C-MOVE, save and open") << int(OrthancMove) << 1 << 0 << QString();
    QTest::newRow("C-GET, save and open") << int(DcmqrscpGet) << 1 << 0 << QString();
    QTest::newRow("C-GET, save only") << int(DcmqrscpGet) << 0 << 0 << QString();
    QTest::newRow("C-MOVE that cannot reach us") << int(DcmqrscpMoveWrongPort) << 1 << 0
                                                 << QStringLiteral("Сервер подтвердил запрос, но ни одного файла");
    QTest::newRow("listener port taken") << int(OrthancMove) << 1 << -1
                                         << QStringLiteral("Не удалось скачать исследование:\nОшибка приёма соединения: ");
}

void PacsDownloadTest::download()
{
    QFETCH(int, which);
    QFETCH(int, mode);
    QFETCH(int, localPort);
    QFETCH(QString, failure);
    std::unique_ptr<PacsDownloadDialog> dialog = dialogWithStudy(which, m_uid[0]);
    QVERIFY(dialog);
    QTcpServer holder;
    if (localPort < 0) {
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        configure({which}, holder.serverPort());
    }
    QList<QPointer<velmaris::ViewerWindow>> viewers;
    QObject::connect(dialog->coordinator(), &pacs::PacsOpenCoordinator::viewerOpened, dialog->coordinator(),
                     [&viewers](velmaris::ViewerWindow *viewer) { viewers << viewer; });
    QSignalSpy finished(dialog->coordinator(), &pacs::PacsOpenCoordinator::finished);
    QSignalSpy imported(dialog.get(), &PacsDownloadDialog::studiesImported);
    ModalBoxCatcher boxes;
    dialog->downloadButton(mode)->click();
    QVERIFY(dialog->busyIndicator()->isVisibleTo(dialog.get()));
    QVERIFY(finished.wait(60000));
    QVERIFY(!dialog->isBusy());
    QVERIFY(!dialog->busyIndicator()->isVisibleTo(dialog.get()));
    if (!failure.isEmpty()) {
        QTRY_COMPARE(boxes.count, 1);
        QCOMPARE(boxes.title, QStringLiteral("Скачивание"));
        QVERIFY2(boxes.text.startsWith(failure), qPrintable(boxes.text));
        QCOMPARE(dialog->statusLabel()->text(), QStringLiteral("Готово"));
        QVERIFY(!m_database->studyExists(m_uid[0]));
        QCOMPARE(viewers.size(), 0);
        return;
    }
    QCOMPARE(dialog->statusLabel()->text(),
             QStringLiteral("Готово: скачано и импортировано файлов — %1").arg(m_count[0]));
    QVERIFY(!imported.isEmpty());
    // Every file indexed where it was written.
    const QStringList paths = m_database->studyFilePaths(m_uid[0]);
    QCOMPARE(paths.size(), m_count[0]);
    QVERIFY(allInside(paths, QDir(dataDirectory()).filePath(QStringLiteral("pacs_downloads/") + m_uid[0])));
    QCOMPARE(viewers.size(), mode == 1 ? 1 : 0);
    if (mode == 1) {
        auto *viewer = viewers.first().data();
        QVERIFY(viewer);
        QCOMPARE(viewer->studyUid(), m_uid[0]);
        QCOMPARE(viewer->seriesCount(), 1);
        const QString series = m_database->listSeries(m_uid[0]).first().series_instance_uid;
        QCOMPARE(viewer->frameCount(series), m_count[0]);
    }
}

void PacsDownloadTest::viewOnly_data()
{
    QTest::addColumn<int>("study");
    QTest::newRow("study not in the archive") << 2;
    // Opened from the archive; closing the viewer leaves it as it was.
    QTest::newRow("study already in the archive") << 1;
}

void PacsDownloadTest::viewOnly()
{
    QFETCH(int, study);
    const bool local = m_database->studyExists(m_uid[study]);
    const QStringList before = m_database->studyFilePaths(m_uid[study]);
    std::unique_ptr<PacsDownloadDialog> dialog = dialogWithStudy(DcmqrscpGet, m_uid[study]);
    QVERIFY(dialog);
    QList<QPointer<velmaris::ViewerWindow>> viewers;
    QObject::connect(dialog->coordinator(), &pacs::PacsOpenCoordinator::viewerOpened, dialog->coordinator(),
                     [&viewers](velmaris::ViewerWindow *viewer) { viewers << viewer; });
    QSignalSpy finished(dialog->coordinator(), &pacs::PacsOpenCoordinator::finished);
    const QString temporary = pacs::PacsOpenCoordinator::viewOnlyFolder(m_uid[study]);
    QDir(temporary).removeRecursively();
    dialog->downloadButton(2)->click();
    QVERIFY(finished.count() == 1 || finished.wait(60000));
    QVERIFY(finished.first().at(0).toBool());
    QCOMPARE(dialog->statusLabel()->text(),
             QStringLiteral("Готово: открыто файлов — %1 (без сохранения в архив)").arg(m_count[study]));
    QCOMPARE(viewers.size(), 1);
    if (local) {
        QCOMPARE(m_database->studyFilePaths(m_uid[study]), before);
        QVERIFY(!QDir(temporary).exists() || QDir(temporary).isEmpty());
    } else {
        QVERIFY(allInside(m_database->studyFilePaths(m_uid[study]), temporary));
    }
    QPointer<velmaris::ViewerWindow> viewer = viewers.first().data();
    dialog.reset(); // the study goes with its viewer, whoever started it
    viewer->close();
    QTRY_VERIFY(viewer.isNull());
    if (local) {
        QVERIFY(m_database->studyExists(m_uid[study]));
        QCOMPARE(m_database->studyFilePaths(m_uid[study]), before);
    } else {
        QVERIFY(!m_database->studyExists(m_uid[study]));
        QVERIFY(!QDir(temporary).exists());
    }
}

void PacsDownloadTest::openRequest_data()
{
    QTest::addColumn<int>("study");
    QTest::addColumn<bool>("configuredNode");
    QTest::addColumn<QString>("question"); // empty: none asked
    QTest::addColumn<bool>("opened");
    QTest::newRow("local study, no network") << 1 << false << QString() << true;
    QTest::newRow("study on a configured node") << 0 << true << QString() << true;
    QTest::newRow("unknown node, answered No")
        << 0 << false << QStringLiteral("Внешняя страница запрашивает подключение Velmaris к серверу\n") << false;
}

void PacsDownloadTest::openRequest()
{
    QFETCH(int, study);
    QFETCH(bool, configuredNode);
    QFETCH(QString, question);
    QFETCH(bool, opened);
    configure(configuredNode ? QList<int>{OrthancMove} : QList<int>{});
    QWidget window;
    velmaris::LocalApiServer bridge(0, nullptr);
    QString error;
    QVERIFY2(bridge.listen(&error), qPrintable(error));
    pacs::PacsOpenCoordinator coordinator(m_database.get(), &window);
    coordinator.setDataDirectory(dataDirectory());
    velmaris::connectBridge(&bridge, &coordinator, &window);
    QList<QPointer<velmaris::ViewerWindow>> viewers;
    QObject::connect(&coordinator, &pacs::PacsOpenCoordinator::viewerOpened, &coordinator,
                     [&viewers](velmaris::ViewerWindow *viewer) { viewers << viewer; });
    QSignalSpy finished(&coordinator, &pacs::PacsOpenCoordinator::finished);

    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/pacs/open").arg(bridge.serverPort())));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Origin", "http://localhost:5173");
    const pacs::PacsServerConfig orthanc = m_orthanc->node();
    const QJsonObject body{{"studyInstanceUID", m_uid[study]}, {"serverHost", orthanc.host},
                           {"serverPort", orthanc.port}, {"serverAeTitle", orthanc.aeTitle}};
    std::unique_ptr<QNetworkReply> reply(manager.post(request, QJsonDocument(body).toJson()));
    QVERIFY(QSignalSpy(reply.get(), &QNetworkReply::finished).wait(10000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 202);

    if (!question.isEmpty()) {
        QTRY_VERIFY(coordinator.isWaitingForUser());
        auto *box = window.findChild<QMessageBox *>();
        QVERIFY(box);
        QVERIFY2(box->text().startsWith(question), qPrintable(box->text()));
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        box->button(QMessageBox::No)->click();
        QTRY_VERIFY(!bridge.openRequestWaiting());
        QCOMPARE(pacs::loadPacsConfig().servers.size(), 0);
    }
    if (study == 0 && opened)
        QVERIFY(finished.wait(60000));
    QTRY_VERIFY(!bridge.openRequestWaiting());
    QCOMPARE(viewers.size(), opened ? 1 : 0);
    QCOMPARE(m_database->studyExists(m_uid[study]), opened);
    if (study == 0 && opened)
        QCOMPARE(m_database->studyFilePaths(m_uid[0]).size(), m_count[0]);
}

QTEST_MAIN(PacsDownloadTest)
#include "test_pacs_download.moc"
