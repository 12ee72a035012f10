// "Velmaris как PACS-сервер": Apply saves the settings and restarts the real
// service, or refuses the storage listener's port with the warning.

#include "ModalBoxCatcher.h"
#include "PrivateSettings.h"
#include "pacs/PacsPeers.h"

#include "db/Database.h"
#include "pacs/MiniPacsService.h"
#include "pacs/PacsConfig.h"
#include "ui/pacs/MiniPacsDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

class MiniPacsDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void apply_data();
    void apply();
};

void MiniPacsDialogTest::apply_data()
{
    QTest::addColumn<bool>("sameAsListener");
    QTest::newRow("port of the storage listener") << true;
    QTest::newRow("a port of its own") << false;
}

void MiniPacsDialogTest::apply()
{
    QFETCH(bool, sameAsListener);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    velmaris::testing::usePrivateSettings(dir.filePath(QStringLiteral("settings")));
    pacs::PacsConfig config;
    config.localPort = velmaris::testing::freePort();
    pacs::savePacsConfig(config);

    db::Database database(nullptr);
    const QString path = dir.filePath(QStringLiteral("index.sqlite3"));
    QVERIFY(database.open(path));
    pacs::MiniPacsService service(&database, path, dir.filePath(QStringLiteral("minipacs_received")));
    MiniPacsDialog dialog(&service);
    dialog.show();

    QLabel *status = nullptr;
    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->text() == QStringLiteral("○ Сервер остановлен"))
            status = label;
    }
    QVERIFY(status != nullptr);
    dialog.findChild<QCheckBox *>()->setChecked(true);
    dialog.findChild<QLineEdit *>()->setText(QStringLiteral("  "));
    const int port = sameAsListener ? config.localPort : velmaris::testing::freePort();
    dialog.findChild<QSpinBox *>()->setValue(port);

    velmaris::testing::ModalBoxCatcher boxes;
    QSignalSpy log(&service, &pacs::MiniPacsService::logAppended);
    QCOMPARE(dialog.apply(), !sameAsListener);
    if (sameAsListener) {
        QCOMPARE(boxes.count, 1);
        QVERIFY(boxes.text.startsWith(QStringLiteral("Этот порт уже используется для приёма файлов")));
        QVERIFY(!service.isRunning());
        QCOMPARE(pacs::MiniPacsService::loadSettings().enabled, false);
        return;
    }
    QCOMPARE(boxes.count, 0);
    QVERIFY(service.isRunning());
    QCOMPARE(status->text(), QStringLiteral("● Сервер работает"));
    const pacs::MiniPacsService::Settings saved = pacs::MiniPacsService::loadSettings();
    QVERIFY(saved.enabled);
    QCOMPARE(saved.aeTitle, QStringLiteral("VELMARIS")); // a blank title falls back
    QCOMPARE(saved.port, port);
    // The log follows the running service.
    QVERIFY(log.wait(10000));
    QVERIFY(dialog.findChild<QPlainTextEdit *>()->toPlainText().contains(
        QStringLiteral("Мини-PACS запущен: AE «VELMARIS», порт %1").arg(port)));
    service.stop();
    QCOMPARE(status->text(), QStringLiteral("○ Сервер остановлен"));
}

QTEST_MAIN(MiniPacsDialogTest)
#include "test_mini_pacs_dialog.moc"
