// The PACS configuration in the settings store, its dialog with the C-ECHO
// checks, and the send action, against a storescp started here.

#include "ModalBoxCatcher.h"
#include "PrivateSettings.h"
#include "pacs/PacsPeers.h"

#include "pacs/PacsConfig.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/pacs/PacsSendAction.h"
#include "ui/pacs/PacsSettingsDialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QPushButton *button(const QWidget &parent, const QString &text)
{
    for (QPushButton *b : parent.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QLineEdit *edit(const QWidget &parent, const QString &placeholder)
{
    for (QLineEdit *e : parent.findChildren<QLineEdit *>()) {
        if (e->placeholderText() == placeholder)
            return e;
    }
    return nullptr;
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

private:
    QTemporaryDir m_dir;
    std::unique_ptr<velmaris::testing::DicomPeer> m_peer;
    QStringList m_files;
};

void PacsSettingsDialogTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    velmaris::testing::usePrivateSettings(m_dir.filePath(QStringLiteral("settings")));
    velmaris::gen::SeriesSpec spec;
    spec.slices = 2;
    QVERIFY(velmaris::gen::writeSeries(spec, m_dir.filePath(QStringLiteral("study")), &m_files));
    m_peer = std::make_unique<velmaris::testing::DicomPeer>(velmaris::testing::DicomPeer::Kind::Storescp,
                                                            QStringLiteral("STORE"));
    QString error;
    QVERIFY2(m_peer->start(&error), qPrintable(error));
}

void PacsSettingsDialogTest::init()
{
    QSettings().clear();
}

void PacsSettingsDialogTest::storedConfiguration()
{
    pacs::PacsConfig config = pacs::loadPacsConfig();
    QCOMPARE(config.localPort, 11112);
    QCOMPARE(config.localAeTitle, QStringLiteral("NORVANE"));
    QVERIFY(config.moveDestinationAeTitle.isEmpty());
    QVERIFY(config.servers.isEmpty());

    {
        QSettings settings;
        settings.beginWriteArray(QStringLiteral("pacs/servers"));
        settings.setArrayIndex(0);
        settings.setValue(QStringLiteral("host"), QStringLiteral("pacs.local"));
        settings.setValue(QStringLiteral("retrieveMode"), 2);
        settings.setArrayIndex(1);
        settings.setValue(QStringLiteral("host"), QString()); // skipped
        settings.endArray();
    }
    config = pacs::loadPacsConfig();
    QCOMPARE(config.servers.size(), 1);
    QCOMPARE(config.servers.first().port, 104);
    QVERIFY(config.servers.first().retrieveMode == pacs::RetrieveMode::Move);
    pacs::savePacsConfig(config);
    QCOMPARE(QSettings().value(QStringLiteral("pacs/servers/1/retrieveMode")).toInt(), 0);
    QCOMPARE(QSettings().value(QStringLiteral("pacs/servers/size")).toInt(), 1);
}

void PacsSettingsDialogTest::dialogRoundTripAndChecks()
{
    // Saved with a wrong AE title that the user corrects without saving.
    pacs::PacsConfig saved;
    saved.localAeTitle = QStringLiteral("ME");
    pacs::PacsServerConfig store = m_peer->node();
    store.aeTitle = QStringLiteral("WRONG");
    store.retrieveMode = pacs::RetrieveMode::Get;
    saved.servers = {store};
    pacs::savePacsConfig(saved);

    PacsSettingsDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Конфигурация PACS"));
    auto *table = dialog.findChild<QTableWidget *>();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 5)->text(), QStringLiteral("— не проверялось —"));

    velmaris::testing::ModalBoxCatcher catcher;
    button(dialog, QStringLiteral("Проверить выбранный (C-ECHO)"))->click();
    QCOMPARE(catcher.text, QStringLiteral("Сначала выберите сервер в списке."));

    // A second row through the entry line, on a port where nobody answers.
    edit(dialog, QStringLiteral("IP-адрес"))->setText(QStringLiteral(" 127.0.0.1 "));
    edit(dialog, QStringLiteral("AE-заголовок"))->setText(QStringLiteral("NOBODY"));
    QSpinBox *newPort = dialog.findChildren<QSpinBox *>().last();
    newPort->setValue(velmaris::testing::freePort());
    button(dialog, QStringLiteral("Добавить"))->click();
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("127.0.0.1"));
    QVERIFY(edit(dialog, QStringLiteral("IP-адрес"))->text().isEmpty());
    QCOMPARE(newPort->value(), 104);

    table->item(0, 2)->setText(QStringLiteral("STORE")); // unsaved correction
    QSignalSpy done(&dialog, &PacsSettingsDialog::checkFinished);
    QPushButton *checkAll = button(dialog, QStringLiteral("Проверить все серверы"));
    checkAll->click();
    QVERIFY(!checkAll->isEnabled());
    QVERIFY(dialog.isChecking());
    QCOMPARE(table->item(0, 5)->text(), QStringLiteral("⏳ Проверка…"));
    QVERIFY(done.wait(60000));
    QVERIFY2(table->item(0, 5)->text().startsWith(QStringLiteral("✅ Отвечает (")),
             qPrintable(table->item(0, 5)->text()));
    QCOMPARE(table->item(0, 5)->foreground().color(), QColor(60, 160, 60));
    QVERIFY(table->item(1, 5)->text().startsWith(QStringLiteral("❌ ")));
    QCOMPARE(table->item(1, 5)->foreground().color(), QColor(200, 60, 60));
    QVERIFY(!table->item(1, 5)->toolTip().isEmpty());
    QVERIFY(checkAll->isEnabled());
    QCOMPARE(done.count(), 1);

    table->item(1, 1)->setText(QStringLiteral("abc"));
    table->insertRow(2); // a row without a host is not saved
    dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const pacs::PacsConfig reread = pacs::loadPacsConfig();
    QCOMPARE(reread.localAeTitle, QStringLiteral("ME"));
    QCOMPARE(reread.servers.size(), 2);
    QCOMPARE(reread.servers.at(0).aeTitle, QStringLiteral("STORE"));
    QVERIFY(reread.servers.at(0).retrieveMode == pacs::RetrieveMode::Get);
    QCOMPARE(reread.servers.at(1).port, 0);
}

void PacsSettingsDialogTest::sendAction_data()
{
    QTest::addColumn<bool>("withUnreadable");
    QTest::addColumn<QString>("message");
    QTest::newRow("all sent") << false << QStringLiteral("Исследование успешно отправлено на Store.");
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
        files << m_dir.filePath(QStringLiteral("missing.dcm"));
    pacs::PacsServerConfig server = m_peer->node();
    server.description = QStringLiteral("Store");
    QWidget window;
    velmaris::testing::ModalBoxCatcher catcher;
    PacsSendAction *action = PacsSendAction::start(&window, server, files);
    auto *progress = window.findChild<QProgressDialog *>();
    QVERIFY(progress);
    QCOMPARE(progress->labelText(), QStringLiteral("Отправка на Store…"));
    QSignalSpy finished(action, &PacsSendAction::finished);
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.first().first().toBool(), !withUnreadable);
    QCOMPARE(catcher.title, QStringLiteral("Отправка на PACS"));
    QCOMPARE(catcher.text, message);
}

QTEST_MAIN(PacsSettingsDialogTest)
#include "test_pacs_settings_dialog.moc"
