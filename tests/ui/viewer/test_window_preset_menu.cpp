#include "ui/PrivateSettings.h"
#include "ui/viewer/WindowPresetMenu.h"
#include "viewer/WindowPresets.h"

#include <QInputDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using render::WindowLevel;
using velmaris::WindowPresetMenu;

namespace {

const QString saveText = QStringLiteral("Сохранить текущий как пресет…");
const QString deleteText = QStringLiteral("Удалить пользовательский пресет…");

// Answers the next modal input dialog with the given text (typed, or picked
// from its list) and OK or Cancel, remembering how the dialog looked.
class InputDialogAnswerer : public QObject
{
public:
    InputDialogAnswerer(const QString &answer, bool confirm)
    {
        connect(&m_timer, &QTimer::timeout, this, [this, answer, confirm] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            if (dialog == nullptr)
                return;
            seen = QStringList{dialog->windowTitle(), dialog->labelText()};
            items = dialog->isComboBoxEditable() ? QStringList{"editable"} : dialog->comboBoxItems();
            dialog->setTextValue(answer);
            confirm ? dialog->accept() : dialog->reject();
        });
        m_timer.start(10);
    }

    QStringList seen;
    QStringList items;

private:
    QTimer m_timer;
};

// The menu as text: "---" for separators; built-in presets as "*".
QStringList layout(const QMenu &menu)
{
    QStringList texts;
    const QList<QAction *> actions = menu.actions();
    for (int i = 0; i < actions.size(); ++i) {
        const bool builtIn = i < render::builtInWindowPresets().size();
        texts.append(actions[i]->isSeparator() ? QStringLiteral("---") : builtIn ? QStringLiteral("*")
                                                                                 : actions[i]->text());
    }
    return texts;
}

QStringList expectedLayout(const QStringList &userNames)
{
    QStringList texts(6, QStringLiteral("*"));
    if (!userNames.isEmpty())
        texts << QStringLiteral("---") << userNames;
    texts << QStringLiteral("---") << saveText;
    if (!userNames.isEmpty())
        texts << deleteText;
    return texts;
}

void trigger(const QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action->trigger();
    }
    QFAIL(qPrintable(QStringLiteral("no menu entry ") + text));
}

void storeNamed(const QStringList &names)
{
    QList<render::WindowPreset> presets;
    for (const QString &name : names)
        presets.append({name, {double(presets.size()), 100.0}});
    render::storeUserWindowPresets(presets);
}

QStringList storedNames()
{
    QStringList names;
    for (const render::WindowPreset &preset : render::userWindowPresets())
        names.append(preset.name);
    return names;
}

} // namespace

class WindowPresetMenuTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
    }
    void init() { QSettings().clear(); }

    void listsAndSignalsPresets()
    {
        WindowPresetMenu menu([] { return WindowLevel{}; });
        QCOMPARE(menu.title(), QStringLiteral("Window/Level presets"));
        QCOMPARE(layout(menu), expectedLayout({}));

        render::storeUserWindowPresets({{QStringLiteral("Печень"), {60.0, 150.0}}, {QStringLiteral("Кисти"), {1, 2}}});
        menu.rebuild();
        QCOMPARE(layout(menu), expectedLayout({QStringLiteral("Печень"), QStringLiteral("Кисти")}));

        QSignalSpy chosen(&menu, &WindowPresetMenu::presetChosen);
        trigger(menu, QStringLiteral("Кость"));
        trigger(menu, QStringLiteral("Печень"));
        QCOMPARE(chosen.size(), 2);
        QCOMPARE(chosen.at(0).at(0).value<WindowLevel>(), (WindowLevel{300.0, 1500.0}));
        QCOMPARE(chosen.at(1).at(0).value<WindowLevel>(), (WindowLevel{60.0, 150.0}));
    }

    void savesTheCurrentWindow_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QStringList>("expectedNames");
        QTest::newRow("new name, trimmed") << "  Печень  " << true << QStringList{"Старый", "Печень"};
        QTest::newRow("existing name kept twice") << "Старый" << true << QStringList{"Старый", "Старый"};
        QTest::newRow("blank name") << "   " << true << QStringList{"Старый"};
        QTest::newRow("cancelled") << "Печень" << false << QStringList{"Старый"};
    }
    void savesTheCurrentWindow()
    {
        QFETCH(QString, typed);
        QFETCH(bool, confirm);
        QFETCH(QStringList, expectedNames);
        storeNamed({QStringLiteral("Старый")});
        WindowPresetMenu menu([] { return WindowLevel{77.0, 155.0}; });
        InputDialogAnswerer answerer(typed, confirm);
        trigger(menu, saveText);
        QCOMPARE(answerer.seen, (QStringList{"Новый пресет W/L", "Название:"}));
        QCOMPARE(storedNames(), expectedNames);
        if (expectedNames.size() == 2)
            QCOMPARE(render::userWindowPresets().last().window, (WindowLevel{77.0, 155.0}));
        QCOMPARE(layout(menu), expectedLayout(expectedNames));
    }

    void deletesEveryPresetOfAName_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("picked");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QStringList>("expectedNames");
        QTest::newRow("repeated name") << QStringList{"А", "Б", "А"} << "А" << true << QStringList{"Б"};
        QTest::newRow("cancelled") << QStringList{"А", "Б", "А"} << "А" << false << QStringList{"А", "Б", "А"};
        QTest::newRow("last one") << QStringList{"А", "А"} << "А" << true << QStringList{};
    }
    void deletesEveryPresetOfAName()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, picked);
        QFETCH(bool, confirm);
        QFETCH(QStringList, expectedNames);
        storeNamed(stored);
        WindowPresetMenu menu([] { return WindowLevel{}; });
        InputDialogAnswerer answerer(picked, confirm);
        trigger(menu, deleteText);
        QCOMPARE(answerer.seen, (QStringList{"Удалить пресет", "Выберите пресет для удаления:"}));
        QStringList offered = stored; // each name once, in a fixed (not editable) list
        offered.removeDuplicates();
        QCOMPARE(answerer.items, offered);
        QCOMPARE(storedNames(), expectedNames);
        QCOMPARE(layout(menu), expectedLayout(expectedNames));
    }

private:
    QTemporaryDir m_config;
};

QTEST_MAIN(WindowPresetMenuTest)
#include "test_window_preset_menu.moc"
