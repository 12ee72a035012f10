// The PACS configuration in the settings store, its dialog with the C-ECHO
// checks, and the send action, against a storescp started here; the
// "Velmaris как PACS-сервер" dialog, whose Apply saves the settings and
// restarts the real service, or refuses the storage listener's port.

#include "ModalBoxCatcher.h"
#include "PrivateSettings.h"
#include "pacs/PacsPeers.h"

#include "db/Database.h"
#include "pacs/MiniPacsService.h"
#include "pacs/PacsConfig.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/pacs/MiniPacsDialog.h"
#include "ui/pacs/PacsSendAction.h"
#include "ui/pacs/PacsSettingsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

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

class PacsSettingsDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void storedConfiguration();
    void dialogRoundTripAndChecks();
    void sendAction_data();
    void sendAction();
    void miniPacsApply_data();
    void miniPacsApply();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<velmaris::testing::DicomPeer> m_peer;
    QStringList m_files;
};

void PacsSettingsDialogTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    velmaris::testing::usePrivateSettings(m_dir.filePath(u"settings"_s));
    velmaris::gen::SeriesSpec spec;
    spec.slices = 2;
    QVERIFY(velmaris::gen::writeSeries(spec, m_dir.filePath(u"study"_s), &m_files));
    m_peer = std::make_unique<velmaris::testing::DicomPeer>(velmaris::testing::DicomPeer::Kind::Storescp, u"STORE"_s);
    QString error;
    QVERIFY2(m_peer->start(&error), qPrintable(error));
}

void PacsSettingsDialogTest::init()
{
    QSettings().clear();
}

void PacsSettingsDialogTest::storedConfiguration()
{
    {
        QSettings settings;
        settings.beginWriteArray(u"pacs/servers"_s);
        settings.setArrayIndex(0);
        settings.setValue(u"host"_s, u"pacs.local"_s);
        settings.setValue(u"retrieveMode"_s, 2);
        settings.setArrayIndex(1);
        settings.setValue(u"host"_s, QString()); // skipped
        settings.endArray();
    }
    const pacs::PacsConfig config = pacs::loadPacsConfig();
    QCOMPARE(config.localPort, 11112);
    QCOMPARE(config.localAeTitle, u"NORVANE"_s);
    QVERIFY(config.moveDestinationAeTitle.isEmpty()); // our own title
    QCOMPARE(config.servers.size(), 1);
    QCOMPARE(config.servers.first().port, 104);
    QVERIFY(config.servers.first().retrieveMode == pacs::RetrieveMode::Move);
    pacs::savePacsConfig(config);
    QCOMPARE(QSettings().value(u"pacs/servers/1/retrieveMode"_s).toInt(), 0);
    QCOMPARE(QSettings().value(u"pacs/servers/size"_s).toInt(), 1);
}

void PacsSettingsDialogTest::dialogRoundTripAndChecks()
{
    // Saved with a wrong AE title that the user corrects without saving.
    pacs::PacsConfig saved;
    saved.localAeTitle = u"ME"_s;
    pacs::PacsServerConfig store = m_peer->node();
    store.aeTitle = u"WRONG"_s;
    store.retrieveMode = pacs::RetrieveMode::Get;
    saved.servers = {store};
    pacs::savePacsConfig(saved);

    PacsSettingsDialog dialog;
    QCOMPARE(dialog.windowTitle(), u"Конфигурация PACS"_s);
    auto *table = dialog.findChild<QTableWidget *>();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 5)->text(), u"— не проверялось —"_s);

    velmaris::testing::ModalBoxCatcher catcher;
    button(dialog, u"Проверить выбранный (C-ECHO)"_s)->click();
    QCOMPARE(catcher.text, u"Сначала выберите сервер в списке."_s);

    // A second row through the entry line, on a port where nobody answers.
    edit(dialog, u"IP-адрес"_s)->setText(u" 127.0.0.1 "_s);
    edit(dialog, u"AE-заголовок"_s)->setText(u"NOBODY"_s);
    QSpinBox *newPort = dialog.findChildren<QSpinBox *>().last();
    newPort->setValue(velmaris::testing::freePort());
    button(dialog, u"Добавить"_s)->click();
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 0)->text(), u"127.0.0.1"_s);
    QVERIFY(edit(dialog, u"IP-адрес"_s)->text().isEmpty());
    QCOMPARE(newPort->value(), 104);

    table->item(0, 2)->setText(u"STORE"_s); // unsaved correction
    QSignalSpy done(&dialog, &PacsSettingsDialog::checkFinished);
    QPushButton *checkAll = button(dialog, u"Проверить все серверы"_s);
    checkAll->click();
    QVERIFY(!checkAll->isEnabled());
    QVERIFY(dialog.isChecking());
    QCOMPARE(table->item(0, 5)->text(), u"⏳ Проверка…"_s);
    QVERIFY(done.wait(60000));
    QVERIFY2(table->item(0, 5)->text().startsWith(u"✅ Отвечает ("_s), qPrintable(table->item(0, 5)->text()));
    QCOMPARE(table->item(0, 5)->foreground().color(), QColor(60, 160, 60));
    QVERIFY(table->item(1, 5)->text().startsWith(u"❌ "_s));
    QCOMPARE(table->item(1, 5)->foreground().color(), QColor(200, 60, 60));
    QVERIFY(!table->item(1, 5)->toolTip().isEmpty());
    QVERIFY(checkAll->isEnabled());
    QCOMPARE(done.count(), 1);

    table->item(1, 1)->setText(u"abc"_s);
    table->insertRow(2); // a row without a host is not saved
    dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const pacs::PacsConfig reread = pacs::loadPacsConfig();
    QCOMPARE(reread.localAeTitle, u"ME"_s);
    QCOMPARE(reread.servers.size(), 2);
    QCOMPARE(reread.servers.at(0).aeTitle, u"STORE"_s);
    QVERIFY(reread.servers.at(0).retrieveMode == pacs::RetrieveMode::Get);
    QCOMPARE(reread.servers.at(1).port, 0);
}

void PacsSettingsDialogTest::sendAction_data()
{
    QTest::addColumn<bool>("withUnreadable");
    QTest::addColumn<QString>("message");
    QTest::newRow("all sent") << false << u"Исследование успешно отправлено на Store."_s;
    QTest::newRow("one unreadable") << true
                                    << QStringLiteral("Не удалось полностью отправить исследование на Store — "
                                                      "проверьте настройки сервера и соединение.");
}

void PacsSettingsDialogTest::sendAction()
{
    QFETCH(bool, withUnreadable);
    QFETCH(QString, message);
    QStringList files = m_files;
    if (withUnreadable)
        files << m_dir.filePath(u"missing.dcm"_s);
    pacs::PacsServerConfig server = m_peer->node();
    server.description = u"Store"_s;
    QWidget window;
    velmaris::testing::ModalBoxCatcher catcher;
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

void PacsSettingsDialogTest::miniPacsApply_data()
{
    QTest::addColumn<bool>("sameAsListener");
    QTest::newRow("port of the storage listener") << true;
    QTest::newRow("a port of its own") << false;
}

void PacsSettingsDialogTest::miniPacsApply()
{
    QFETCH(bool, sameAsListener);
    pacs::PacsConfig config;
    config.localPort = velmaris::testing::freePort();
    pacs::savePacsConfig(config);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    db::Database database(nullptr);
    const QString path = dir.filePath(u"index.sqlite3"_s);
    QVERIFY(database.open(path));
    pacs::MiniPacsService service(&database, path, dir.filePath(u"minipacs_received"_s));
    MiniPacsDialog dialog(&service);
    dialog.show();

    QLabel *status = childWith<QLabel>(dialog, &QLabel::text, u"○ Сервер остановлен"_s);
    QVERIFY(status != nullptr);
    dialog.findChild<QCheckBox *>()->setChecked(true);
    dialog.findChild<QLineEdit *>()->setText(u"  "_s);
    const int port = sameAsListener ? config.localPort : velmaris::testing::freePort();
    dialog.findChild<QSpinBox *>()->setValue(port);

    velmaris::testing::ModalBoxCatcher boxes;
    QSignalSpy log(&service, &pacs::MiniPacsService::logAppended);
    QCOMPARE(dialog.apply(), !sameAsListener);
    if (sameAsListener) {
        QCOMPARE(boxes.count, 1);
        QVERIFY(boxes.text.startsWith(u"Этот порт уже используется для приёма файлов"_s));
        QVERIFY(!service.isRunning());
        QCOMPARE(pacs::MiniPacsService::loadSettings().enabled, false);
        return;
    }
    QCOMPARE(boxes.count, 0);
    QVERIFY(service.isRunning());
    QCOMPARE(status->text(), u"● Сервер работает"_s);
    const pacs::MiniPacsService::Settings saved = pacs::MiniPacsService::loadSettings();
    QVERIFY(saved.enabled);
    QCOMPARE(saved.aeTitle, u"VELMARIS"_s); // a blank title falls back
    QCOMPARE(saved.port, port);
    // The log follows the running service.
    QVERIFY(log.wait(10000));
    QVERIFY(dialog.findChild<QPlainTextEdit *>()->toPlainText().contains(
        u"Мини-PACS запущен: AE «VELMARIS», порт %1"_s.arg(port)));
    service.stop();
    QCOMPARE(status->text(), u"○ Сервер остановлен"_s);
}

QTEST_MAIN(PacsSettingsDialogTest)
#include "test_pacs_settings_dialog.moc"
