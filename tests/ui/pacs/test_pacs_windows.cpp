// The PACS windows against Orthanc and dcmqrscp started here: the download
// dialog's search over several nodes, downloads by C-MOVE into our storage
// listener and by C-GET, viewing without saving, and open requests that come
// through the real loopback bridge; the PACS configuration with its dialog and
// C-ECHO checks, the send action, and the "Velmaris как PACS-сервер" dialog,
// whose Apply saves the settings and restarts the real service, or refuses the
// storage listener's port.

#include "ModalBoxCatcher.h"
#include "PrivateSettings.h"
#include "pacs/PacsPeers.h"

#include "app/LocalApiServer.h"
#include "db/Database.h"
#include "db/ImportService.h"
#include "pacs/MiniPacsService.h"
#include "pacs/PacsClient.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/app/BridgeWiring.h"
#include "ui/pacs/MiniPacsDialog.h"
#include "ui/pacs/PacsDownloadDialog.h"
#include "ui/pacs/PacsOpenCoordinator.h"
#include "ui/pacs/PacsSendAction.h"
#include "ui/pacs/PacsSettingsDialog.h"
#include "ui/viewer/ViewerWindow.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;
using velmaris::testing::DicomPeer;
using velmaris::testing::freePort;
using velmaris::testing::ModalBoxCatcher;

namespace {

enum Node { OrthancMove, DcmqrscpGet, DcmqrscpMoveWrongPort, ClosedPort, SilentNode };
enum Mode { Save, SaveAndOpen, ViewOnly }; // the dialog's download buttons

bool allInside(const QStringList &paths, const QString &folder)
{
    const QString root = QDir::cleanPath(folder) + QLatin1Char('/');
    return !paths.isEmpty()
        && std::all_of(paths.begin(), paths.end(), [&](const QString &p) { return QDir::cleanPath(p).startsWith(root); });
}

// The child of type T whose `property` reads `text`.
template <class T>
T *childWith(const QWidget &parent, QString (T::*property)() const, const QString &text)
{
    for (T *child : parent.findChildren<T *>()) {
        if ((child->*property)() == text)
            return child;
    }
    return nullptr;
}

QPushButton *button(const QWidget &parent, const QString &text)
{
    return childWith<QPushButton>(parent, &QPushButton::text, text);
}

QLineEdit *edit(const QWidget &parent, const QString &placeholder)
{
    return childWith<QLineEdit>(parent, &QLineEdit::placeholderText, placeholder);
}

} // namespace

class PacsWindowsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void search_data();
    void search();
    void download_data();
    void download();
    void openRequest_data();
    void openRequest();
    void settingsDialogChecks();
    void sendAction_data();
    void sendAction();
    void miniPacsApply_data();
    void miniPacsApply();

private:
    pacs::PacsServerConfig node(int which) const;
    void configure(const QList<int> &nodes);
    // Keeps every viewer the coordinator opens in m_viewers.
    void watch(pacs::PacsOpenCoordinator *coordinator)
    {
        connect(coordinator, &pacs::PacsOpenCoordinator::viewerOpened, this, [this](auto *viewer) { m_viewers << viewer; });
    }
    // A dialog whose table holds the study, selected, after a real search.
    std::unique_ptr<PacsDownloadDialog> dialogWithStudy(int which, const QString &studyUid);
    QString dataDirectory() const { return m_dir.filePath(u"data"_s); }

    QTemporaryDir m_dir;
    std::unique_ptr<DicomPeer> m_orthanc;
    std::unique_ptr<DicomPeer> m_dcmqrscp;
    QTcpServer m_silent; // accepts and never answers
    int m_listenerPort = 0;
    int m_closedPort = 0;
    std::unique_ptr<db::Database> m_database;
    QList<QPointer<velmaris::ViewerWindow>> m_viewers;
    // 0: on both peers; 1: on both peers and imported from its folder;
    // 2: on both peers, for viewing only.
    QString m_uid[3];
    QString m_folder[3];
    QStringList m_files[3];
    int m_count[3] = {3, 2, 2};
};

void PacsWindowsTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    velmaris::testing::usePrivateSettings(m_dir.filePath(u"settings"_s));
    qputenv("VELMARIS_PACS_TIMEOUT_S", "3");
    QStringList all;
    for (int i = 0; i < 3; ++i) {
        velmaris::gen::SeriesSpec spec = velmaris::testing::patientSeries(
            m_count[i], u"Иванов^Пациент%1"_s.arg(i), u"PID-%1"_s.arg(i), u"2024010%1"_s.arg(i + 1));
        m_folder[i] = m_dir.filePath(u"study%1"_s.arg(i));
        QVERIFY(velmaris::gen::writeSeries(spec, m_folder[i], &m_files[i]));
        m_uid[i] = spec.studyInstanceUid;
        all << m_files[i];
    }
    m_listenerPort = freePort();
    m_closedPort = freePort();
    m_orthanc = std::make_unique<DicomPeer>(DicomPeer::Kind::Orthanc, u"ORTHANC"_s, u"NORVANE"_s, m_listenerPort);
    // dcmqrscp knows us at a port where nobody listens: a C-MOVE from it can
    // never reach us, as from a PACS behind a firewall.
    m_dcmqrscp = std::make_unique<DicomPeer>(DicomPeer::Kind::Dcmqrscp, u"TINYPACS"_s, u"NORVANE"_s, m_closedPort);
    QString error;
    for (DicomPeer *peer : {m_orthanc.get(), m_dcmqrscp.get()}) {
        QVERIFY2(peer->start(&error), qPrintable(error));
        QVERIFY2(pacs::storeFiles(peer->node(), pacs::PacsConfig(), all, &error), qPrintable(error));
    }
    QVERIFY(m_silent.listen(QHostAddress::LocalHost, 0));
}

void PacsWindowsTest::init()
{
    QSettings().clear();
    PacsDownloadDialog::clearCachedResults();
    QDir(dataDirectory()).removeRecursively();
    QVERIFY(QDir().mkpath(dataDirectory()));
    m_database = std::make_unique<db::Database>(nullptr);
    QVERIFY(m_database->open(QDir(dataDirectory()).filePath(u"index.sqlite3"_s)));
    db::ImportOutcome outcome;
    QString error;
    QVERIFY2(db::ImportService::importFolder(m_database.get(), m_folder[1], 10, &outcome, &error), qPrintable(error));
    QVERIFY(m_database->studyExists(m_uid[1]));
}

void PacsWindowsTest::cleanup()
{
    for (const QPointer<velmaris::ViewerWindow> &viewer : std::as_const(m_viewers))
        delete viewer.data();
    m_viewers.clear();
    m_database.reset();
}

pacs::PacsServerConfig PacsWindowsTest::node(int which) const
{
    pacs::PacsServerConfig node = which == OrthancMove ? m_orthanc->node() : m_dcmqrscp->node();
    node.description = which == OrthancMove ? u"Orthanc"_s : u"dcmqrscp"_s;
    node.retrieveMode = which == DcmqrscpGet ? pacs::RetrieveMode::Get : pacs::RetrieveMode::Move;
    if (which == ClosedPort || which == SilentNode) {
        node.port = which == ClosedPort ? m_closedPort : m_silent.serverPort();
        node.aeTitle = which == ClosedPort ? u"NOBODY"_s : u"SILENT"_s;
        node.description = which == ClosedPort ? QString() : u"Молчун"_s;
    }
    return node;
}

void PacsWindowsTest::configure(const QList<int> &nodes)
{
    pacs::PacsConfig config;
    config.localPort = m_listenerPort;
    config.localAeTitle = u"NORVANE"_s;
    for (int which : nodes)
        config.servers << node(which);
    pacs::savePacsConfig(config);
}

std::unique_ptr<PacsDownloadDialog> PacsWindowsTest::dialogWithStudy(int which, const QString &studyUid)
{
    configure({which});
    auto dialog = std::make_unique<PacsDownloadDialog>(m_database.get());
    dialog->coordinator()->setDataDirectory(dataDirectory());
    watch(dialog->coordinator());
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

void PacsWindowsTest::search_data()
{
    QTest::addColumn<QList<int>>("nodes");
    QTest::addColumn<int>("rows");
    QTest::newRow("one silent, one answering") << QList<int>{SilentNode, OrthancMove} << 3;
    QTest::newRow("both unreachable") << QList<int>{ClosedPort, SilentNode} << 0;
}

void PacsWindowsTest::search()
{
    QFETCH(QList<int>, nodes);
    QFETCH(int, rows);
    configure(nodes);
    PacsDownloadDialog dialog(m_database.get());
    dialog.selectAllBox()->setChecked(true);
    ModalBoxCatcher boxes;
    QSignalSpy searched(&dialog, &PacsDownloadDialog::searchFinished);
    dialog.onFindClicked();
    // The queries run elsewhere: the window is busy, not frozen.
    QCOMPARE(dialog.statusLabel()->text(), u"Выполняется C-FIND по %1 серверам…"_s.arg(nodes.size()));
    QVERIFY(searched.wait(30000));
    QCOMPARE(dialog.resultsTable()->rowCount(), rows);
    if (rows > 0) {
        QCOMPARE(dialog.statusLabel()->text(), u"Найдено исследований: %1 (по 2 серверам)"_s.arg(rows));
        QCOMPARE(dialog.resultsTable()->item(0, PacsDownloadDialog::Server)->text(), u"Orthanc"_s);
        QCOMPARE(boxes.count, 0); // a warning would have been shown before the wait ended
        // A dialog opened later shows the same rows.
        PacsDownloadDialog later(m_database.get());
        QCOMPARE(later.statusLabel()->text(), u"Показаны результаты предыдущего поиска — %1"_s.arg(rows));
        return;
    }
    QCOMPARE(dialog.statusLabel()->text(), u"Ничего не найдено."_s);
    QTRY_COMPARE(boxes.count, 1);
    QCOMPARE(boxes.title, u"C-FIND"_s);
    // One line per node, named by its description or else its host.
    const QStringList lines = boxes.text.split(QLatin1Char('\n'));
    QVERIFY2(lines.size() == 2 && lines[0].startsWith(u"127.0.0.1: "_s) && lines[1].startsWith(u"Молчун: "_s),
             qPrintable(boxes.text));
}

void PacsWindowsTest::download_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("study");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("failure"); // the start of the warning, empty: success
    QTest::newRow("C-MOVE, save and open") << int(OrthancMove) << 0 << int(SaveAndOpen) << QString();
    QTest::newRow("C-GET, save only") << int(DcmqrscpGet) << 0 << int(Save) << QString();
    QTest::newRow("C-MOVE that cannot reach us") << int(DcmqrscpMoveWrongPort) << 0 << int(SaveAndOpen)
                                                 << u"Сервер подтвердил запрос, но ни одного файла"_s;
    QTest::newRow("view only, study not in the archive") << int(DcmqrscpGet) << 2 << int(ViewOnly) << QString();
    // Opened from the archive; closing the viewer leaves it as it was.
    QTest::newRow("view only, study in the archive") << int(DcmqrscpGet) << 1 << int(ViewOnly) << QString();
}

void PacsWindowsTest::download()
{
    QFETCH(int, which);
    QFETCH(int, study);
    QFETCH(int, mode);
    QFETCH(QString, failure);
    const QString uid = m_uid[study];
    const QStringList before = m_database->studyFilePaths(uid);
    const bool local = !before.isEmpty();
    std::unique_ptr<PacsDownloadDialog> dialog = dialogWithStudy(which, uid);
    QVERIFY(dialog);
    QSignalSpy finished(dialog->coordinator(), &pacs::PacsOpenCoordinator::finished);
    QSignalSpy imported(dialog.get(), &PacsDownloadDialog::studiesImported);
    const QString temporary = pacs::PacsOpenCoordinator::viewOnlyFolder(uid);
    QDir(temporary).removeRecursively();
    ModalBoxCatcher boxes;
    dialog->downloadButton(mode)->click();
    QVERIFY(finished.count() == 1 || finished.wait(60000));
    if (!failure.isEmpty()) {
        QTRY_COMPARE(boxes.count, 1);
        QCOMPARE(boxes.title, u"Скачивание"_s);
        QVERIFY2(boxes.text.startsWith(failure), qPrintable(boxes.text));
        QVERIFY(!m_database->studyExists(uid));
        QCOMPARE(m_viewers.size(), 0);
        return;
    }
    QVERIFY(finished.first().at(0).toBool());
    QCOMPARE(dialog->statusLabel()->text(),
             mode == ViewOnly ? u"Готово: открыто файлов — %1 (без сохранения в архив)"_s.arg(m_count[study])
                              : u"Готово: скачано и импортировано файлов — %1"_s.arg(m_count[study]));
    // Every file indexed where it was written.
    const QStringList paths = m_database->studyFilePaths(uid);
    QCOMPARE(paths.size(), m_count[study]);
    if (local) {
        QCOMPARE(paths, before);
        QVERIFY(!QDir(temporary).exists() || QDir(temporary).isEmpty());
    } else {
        const QString downloads = QDir(dataDirectory()).filePath(u"pacs_downloads/"_s + uid);
        QVERIFY(allInside(paths, mode == ViewOnly ? temporary : downloads));
    }
    if (mode != ViewOnly)
        QVERIFY(!imported.isEmpty());
    QCOMPARE(m_viewers.size(), mode == Save ? 0 : 1);
    if (mode == Save)
        return;
    QPointer<velmaris::ViewerWindow> viewer = m_viewers.first();
    QVERIFY(viewer);
    QCOMPARE(viewer->studyUid(), uid);
    QCOMPARE(viewer->seriesCount(), 1);
    QCOMPARE(viewer->frameCount(m_database->listSeries(uid).first().series_instance_uid), m_count[study]);
    if (mode != ViewOnly)
        return;
    dialog.reset(); // the study goes with its viewer, whoever started it
    viewer->close();
    QTRY_VERIFY(viewer.isNull());
    QCOMPARE(m_database->studyExists(uid), local);
    QCOMPARE(m_database->studyFilePaths(uid), before);
    if (!local)
        QVERIFY(!QDir(temporary).exists());
}

void PacsWindowsTest::openRequest_data()
{
    QTest::addColumn<int>("study");
    QTest::addColumn<bool>("configuredNode"); // otherwise the user is asked, and answers No
    QTest::newRow("local study, no network") << 1 << false;
    QTest::newRow("study on a configured node") << 0 << true;
    QTest::newRow("unknown node, answered No") << 0 << false;
}

void PacsWindowsTest::openRequest()
{
    QFETCH(int, study);
    QFETCH(bool, configuredNode);
    const bool opened = configuredNode || study == 1;
    configure(configuredNode ? QList<int>{OrthancMove} : QList<int>{});
    QWidget window;
    velmaris::LocalApiServer bridge(0, nullptr);
    QString error;
    QVERIFY2(bridge.listen(&error), qPrintable(error));
    pacs::PacsOpenCoordinator coordinator(m_database.get(), &window);
    coordinator.setDataDirectory(dataDirectory());
    velmaris::connectBridge(&bridge, &coordinator, &window);
    watch(&coordinator);
    QSignalSpy finished(&coordinator, &pacs::PacsOpenCoordinator::finished);

    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(QUrl(u"http://127.0.0.1:%1/pacs/open"_s.arg(bridge.serverPort())));
    request.setHeader(QNetworkRequest::ContentTypeHeader, u"application/json"_s);
    request.setRawHeader("Origin", "http://localhost:5173");
    const pacs::PacsServerConfig orthanc = m_orthanc->node();
    const QJsonObject body{{"studyInstanceUID", m_uid[study]}, {"serverHost", orthanc.host},
                           {"serverPort", orthanc.port}, {"serverAeTitle", orthanc.aeTitle}};
    std::unique_ptr<QNetworkReply> reply(manager.post(request, QJsonDocument(body).toJson()));
    QVERIFY(QSignalSpy(reply.get(), &QNetworkReply::finished).wait(10000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 202);

    if (configuredNode) {
        QVERIFY(finished.wait(60000));
        QCOMPARE(m_database->studyFilePaths(m_uid[0]).size(), m_count[0]);
    } else if (!opened) {
        QTRY_VERIFY(coordinator.isWaitingForUser());
        auto *box = window.findChild<QMessageBox *>();
        QVERIFY(box);
        QVERIFY2(box->text().startsWith(u"Внешняя страница запрашивает подключение Velmaris к серверу\n"_s),
                 qPrintable(box->text()));
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        box->button(QMessageBox::No)->click();
        QCOMPARE(pacs::loadPacsConfig().servers.size(), 0);
    }
    QTRY_VERIFY(!bridge.openRequestWaiting());
    QCOMPARE(m_viewers.size(), opened ? 1 : 0);
    QCOMPARE(m_database->studyExists(m_uid[study]), opened);
}

void PacsWindowsTest::settingsDialogChecks()
{
    // Saved with a wrong AE title that the user corrects without saving.
    pacs::PacsConfig saved;
    saved.localAeTitle = u"ME"_s;
    pacs::PacsServerConfig store = m_orthanc->node();
    store.aeTitle = u"WRONG"_s;
    store.retrieveMode = pacs::RetrieveMode::Get;
    saved.servers = {store};
    pacs::savePacsConfig(saved);

    PacsSettingsDialog dialog;
    auto *table = dialog.findChild<QTableWidget *>();

    // A second row through the entry line, on a port where nobody answers.
    edit(dialog, u"IP-адрес"_s)->setText(u" 127.0.0.1 "_s);
    edit(dialog, u"AE-заголовок"_s)->setText(u"NOBODY"_s);
    dialog.findChildren<QSpinBox *>().last()->setValue(m_closedPort);
    button(dialog, u"Добавить"_s)->click();
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 0)->text(), u"127.0.0.1"_s);

    table->item(0, 2)->setText(u"ORTHANC"_s); // unsaved correction
    QSignalSpy done(&dialog, &PacsSettingsDialog::checkFinished);
    button(dialog, u"Проверить все серверы"_s)->click();
    QVERIFY(done.wait(60000));
    QVERIFY2(table->item(0, 5)->text().startsWith(u"✅ Отвечает ("_s), qPrintable(table->item(0, 5)->text()));
    QVERIFY(table->item(1, 5)->text().startsWith(u"❌ "_s));

    table->item(1, 1)->setText(u"abc"_s);
    table->insertRow(2); // a row without a host is not saved
    dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->click();
    const pacs::PacsConfig reread = pacs::loadPacsConfig();
    QCOMPARE(reread.localAeTitle, u"ME"_s);
    QCOMPARE(reread.servers.size(), 2);
    QCOMPARE(reread.servers.at(0).aeTitle, u"ORTHANC"_s);
    QVERIFY(reread.servers.at(0).retrieveMode == pacs::RetrieveMode::Get);
    QCOMPARE(reread.servers.at(1).port, 0);
}

void PacsWindowsTest::sendAction_data()
{
    QTest::addColumn<bool>("withUnreadable");
    QTest::addColumn<QString>("message");
    QTest::newRow("all sent") << false << u"Исследование успешно отправлено на Store."_s;
    QTest::newRow("one unreadable") << true
                                    << QStringLiteral("Не удалось полностью отправить исследование на Store — "
                                                      "проверьте настройки сервера и соединение.");
}

void PacsWindowsTest::sendAction()
{
    QFETCH(bool, withUnreadable);
    QFETCH(QString, message);
    // Objects Orthanc already holds, so that its search results stay as they are.
    QStringList files = m_files[0];
    if (withUnreadable)
        files << m_dir.filePath(u"missing.dcm"_s);
    pacs::PacsServerConfig server = m_orthanc->node();
    server.description = u"Store"_s;
    QWidget window;
    ModalBoxCatcher catcher;
    PacsSendAction *action = PacsSendAction::start(&window, server, files);
    auto *progress = window.findChild<QProgressDialog *>();
    QVERIFY(progress);
    QCOMPARE(progress->labelText(), u"Отправка на Store…"_s);
    QSignalSpy finished(action, &PacsSendAction::finished);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toBool(), !withUnreadable);
    QCOMPARE(catcher.title, u"Отправка на PACS"_s);
    QCOMPARE(catcher.text, message);
}

void PacsWindowsTest::miniPacsApply_data()
{
    QTest::addColumn<bool>("sameAsListener");
    QTest::newRow("port of the storage listener") << true;
    QTest::newRow("a port of its own") << false;
}

void PacsWindowsTest::miniPacsApply()
{
    QFETCH(bool, sameAsListener);
    pacs::PacsConfig config;
    config.localPort = freePort();
    pacs::savePacsConfig(config);
    const QString path = QDir(dataDirectory()).filePath(u"index.sqlite3"_s);
    pacs::MiniPacsService service(m_database.get(), path, QDir(dataDirectory()).filePath(u"minipacs_received"_s));
    MiniPacsDialog dialog(&service);
    dialog.show();

    QLabel *status = childWith<QLabel>(dialog, &QLabel::text, u"○ Сервер остановлен"_s);
    QVERIFY(status != nullptr);
    dialog.findChild<QCheckBox *>()->setChecked(true);
    dialog.findChild<QLineEdit *>()->setText(u"  "_s);
    const int port = sameAsListener ? config.localPort : freePort();
    dialog.findChild<QSpinBox *>()->setValue(port);

    ModalBoxCatcher boxes;
    QCOMPARE(dialog.apply(), !sameAsListener);
    if (sameAsListener) {
        QCOMPARE(boxes.count, 1);
        QVERIFY(boxes.text.startsWith(u"Этот порт уже используется для приёма файлов"_s));
        QVERIFY(!service.isRunning());
        QCOMPARE(pacs::MiniPacsService::loadSettings().enabled, false);
        return;
    }
    QVERIFY(service.isRunning());
    QCOMPARE(status->text(), u"● Сервер работает"_s);
    const pacs::MiniPacsService::Settings saved = pacs::MiniPacsService::loadSettings();
    QVERIFY(saved.enabled);
    QCOMPARE(saved.aeTitle, u"VELMARIS"_s); // a blank title falls back
    QCOMPARE(saved.port, port);
}

QTEST_MAIN(PacsWindowsTest)
#include "test_pacs_windows.moc"
