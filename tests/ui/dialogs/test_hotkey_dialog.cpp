#include "ui/PrivateSettings.h"
#include "app/HotkeyRegistry.h"
#include "ui/ModalBoxCatcher.h"
#include "ui/dialogs/HotkeyDialog.h"

#include <QKeySequenceEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using velmaris::HotkeyDialog;
using velmaris::HotkeyRegistry;

namespace {

QString portable(const QKeySequence &sequence)
{
    return sequence.toString(QKeySequence::PortableText);
}

QStringList storedIds()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("hotkeys"));
    return settings.childKeys();
}

QString stored(const QString &id)
{
    return QSettings().value(QStringLiteral("hotkeys/") + id).toString();
}

void click(const QDialog &dialog, const QString &text)
{
    for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button->click();
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + text));
}

QKeySequenceEdit *editor(const QDialog &dialog, int row)
{
    return qobject_cast<QKeySequenceEdit *>(dialog.findChild<QTableWidget *>()->cellWidget(row, 1));
}

} // namespace

class HotkeyDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
    }
    void init() { QSettings().clear(); }

    void tableAndDefaults()
    {
        QStringList table;
        for (const velmaris::HotkeyEntry &entry : HotkeyRegistry::entries())
            table.append(entry.id + ' ' + entry.label + ' ' + portable(HotkeyRegistry::shortcut(entry.id)));
        QCOMPARE(table, (QStringList{"mainwindow.openFolder Открыть каталог DICOM Ctrl+Shift+O",
                                     "viewer.export Экспортировать изображения Ctrl+E",
                                     "viewer.copyOne Копировать в буфер обмена Ctrl+C",
                                     "viewer.copyAll Копировать всё в буфер обмена Shift+C",
                                     "viewer.rotateCcw Повернуть на 90° против часовой Ctrl+[",
                                     "viewer.rotateCw Повернуть на 90° по часовой Ctrl+]",
                                     "viewer.flipH Отразить горизонтально Ctrl+Shift+[",
                                     "viewer.flipV Отразить вертикально Ctrl+Shift+]",
                                     "viewer.clearTransform Очистить преобразования Ctrl+Shift+\\",
                                     "viewer.mprWindow Открыть MPR F2"}));
    }

    void storedBindingsOverrideAndResetForgetsOne()
    {
        QSettings settings;
        settings.setValue(QStringLiteral("hotkeys/viewer.mprWindow"), QStringLiteral("Ctrl+M"));
        settings.setValue(QStringLiteral("hotkeys/viewer.export"), QStringLiteral("")); // disables
        settings.setValue(QStringLiteral("hotkeys/viewer.unknown"), QStringLiteral("Ctrl+U"));
        HotkeyRegistry::store(QStringLiteral("viewer.flipH"), QKeySequence(QStringLiteral("Alt+H")));
        HotkeyRegistry::store(QStringLiteral("viewer.flipV"), QKeySequence(QStringLiteral("Alt+V")));
        const auto shortcuts = [] {
            QStringList out;
            for (const char *id : {"viewer.mprWindow", "viewer.export", "viewer.unknown", "viewer.flipH", "viewer.flipV"})
                out << portable(HotkeyRegistry::shortcut(QString::fromLatin1(id)));
            return out;
        };
        QCOMPARE(shortcuts(), (QStringList{"Ctrl+M", "", "", "Alt+H", "Alt+V"}));
        HotkeyRegistry::reset(QStringLiteral("viewer.flipH"));
        QCOMPARE(shortcuts(), (QStringList{"Ctrl+M", "", "", "Ctrl+Shift+[", "Alt+V"}));
        QVERIFY(!storedIds().contains(QStringLiteral("viewer.flipH")));
    }

    void dialogShowsCurrentBindings()
    {
        HotkeyRegistry::store(QStringLiteral("viewer.copyOne"), QKeySequence(QStringLiteral("Ctrl+Alt+X")));
        HotkeyDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Горячие клавиши"));
        QVERIFY(dialog.isModal());
        auto *table = dialog.findChild<QTableWidget *>();
        QCOMPARE(table->horizontalHeaderItem(0)->text() + '|' + table->horizontalHeaderItem(1)->text(),
                 QStringLiteral("Действие|Клавиша"));
        // Actions of windows that do not exist yet are not offered.
        QStringList labels;
        for (int row = 0; row < table->rowCount(); ++row)
            labels << table->item(row, 0)->text();
        QCOMPARE(labels.size(), HotkeyRegistry::entries().size() - 2);
        QVERIFY(!labels.contains(QStringLiteral("Открыть MPR")));
        QVERIFY(!labels.contains(QStringLiteral("Экспортировать изображения")));
        QCOMPARE(labels.at(rowOf("viewer.copyOne")), QStringLiteral("Копировать в буфер обмена"));
        QCOMPARE(portable(editor(dialog, rowOf("viewer.copyOne"))->keySequence()), QStringLiteral("Ctrl+Alt+X"));
        QCOMPARE(portable(editor(dialog, rowOf("viewer.flipH"))->keySequence()), QStringLiteral("Ctrl+Shift+["));
        // One combination per action: each typed combination replaces the last.
        QTest::keyClick(editor(dialog, 0), Qt::Key_K, Qt::ControlModifier);
        QTest::keyClick(editor(dialog, 0), Qt::Key_D, Qt::ControlModifier);
        QCOMPARE(portable(editor(dialog, 0)->keySequence()), QStringLiteral("Ctrl+D"));
    }

    void resetAllAndCancelWriteNothing()
    {
        HotkeyRegistry::store(QStringLiteral("viewer.copyOne"), QKeySequence(QStringLiteral("Ctrl+Alt+X")));
        HotkeyRegistry::store(QStringLiteral("viewer.flipH"), QKeySequence());
        HotkeyDialog dialog;
        click(dialog, QStringLiteral("Сбросить всё к умолчаниям"));
        QVERIFY(storedIds().isEmpty());
        QCOMPARE(portable(editor(dialog, rowOf("viewer.copyOne"))->keySequence()), QStringLiteral("Ctrl+C"));
        QCOMPARE(portable(editor(dialog, rowOf("viewer.flipH"))->keySequence()), QStringLiteral("Ctrl+Shift+["));
        editor(dialog, 0)->setKeySequence(QKeySequence(QStringLiteral("Alt+O")));
        click(dialog, QStringLiteral("Отмена"));
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(storedIds().isEmpty());
    }

    void saveStoresEveryRowAndReports()
    {
        HotkeyDialog dialog;
        editor(dialog, rowOf("viewer.flipH"))->clear();
        editor(dialog, rowOf("viewer.copyOne"))->setKeySequence(QKeySequence(QStringLiteral("Alt+C")));
        velmaris::testing::ModalBoxCatcher catcher;
        click(dialog, QStringLiteral("Сохранить"));
        QCOMPARE(catcher.count, 1);
        QCOMPARE(catcher.title, QStringLiteral("Горячие клавиши"));
        QCOMPARE(catcher.text, QStringLiteral("Сохранено. Изменения применятся к новым открываемым окнам — "
                                              "уже открытые окна нужно закрыть и открыть заново."));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        // Every offered row, unchanged ones too as their defaults.
        QCOMPARE(storedIds().size(), HotkeyRegistry::availableEntries().size());
        QCOMPARE(stored(QStringLiteral("viewer.clearTransform")), QStringLiteral("Ctrl+Shift+\\"));
        QCOMPARE(stored(QStringLiteral("viewer.copyOne")), QStringLiteral("Alt+C"));
        QVERIFY(storedIds().contains(QStringLiteral("viewer.flipH")));
        QVERIFY(HotkeyRegistry::shortcut(QStringLiteral("viewer.flipH")).isEmpty());
    }

private:
    QTemporaryDir m_config;

    static int rowOf(const char *id)
    {
        const QList<velmaris::HotkeyEntry> offered = HotkeyRegistry::availableEntries();
        for (int row = 0; row < offered.size(); ++row) {
            if (offered.at(row).id == QLatin1String(id))
                return row;
        }
        return -1;
    }
};

QTEST_MAIN(HotkeyDialogTest)
#include "test_hotkey_dialog.moc"
