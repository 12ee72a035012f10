#include "ui/ModalBoxCatcher.h"
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

    void savesOrDeletesUserPresets_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("save"); // or delete
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QStringList>("expectedNames");
        const QStringList old{"Старый"};
        QTest::newRow("new name, trimmed") << old << true << "  Печень  " << true << QStringList{"Старый", "Печень"};
        QTest::newRow("existing name kept twice") << old << true << "Старый" << true << QStringList{"Старый", "Старый"};
        QTest::newRow("blank name") << old << true << "   " << true << old;
        QTest::newRow("save cancelled") << old << true << "Печень" << false << old;
        const QStringList repeated{"А", "Б", "А"};
        QTest::newRow("delete a repeated name") << repeated << false << "А" << true << QStringList{"Б"};
        QTest::newRow("delete cancelled") << repeated << false << "А" << false << repeated;
        QTest::newRow("delete the last one") << QStringList{"А", "А"} << false << "А" << true << QStringList{};
    }
    void savesOrDeletesUserPresets()
    {
        QFETCH(QStringList, stored);
        QFETCH(bool, save);
        QFETCH(QString, answer);
        QFETCH(bool, confirm);
        QFETCH(QStringList, expectedNames);
        storeNamed(stored);
        WindowPresetMenu menu([] { return WindowLevel{77.0, 155.0}; });
        QStringList seen; // title, label, then the list offered when it is a fixed one
        velmaris::testing::ModalAnswerer<QInputDialog> answerer([&](QInputDialog *dialog) {
            seen = QStringList{dialog->windowTitle(), dialog->labelText()}
                 + (dialog->isComboBoxEditable() ? QStringList{"editable"} : dialog->comboBoxItems());
            dialog->setTextValue(answer);
            confirm ? dialog->accept() : dialog->reject();
        });
        trigger(menu, save ? saveText : deleteText);
        QStringList offered = stored; // each name once
        offered.removeDuplicates();
        QCOMPARE(seen, (save ? QStringList{"Новый пресет W/L", "Название:"}
                                      : QStringList{"Удалить пресет", "Выберите пресет для удаления:"} + offered));
        QCOMPARE(storedNames(), expectedNames);
        if (save && expectedNames.size() == 2)
            QCOMPARE(render::userWindowPresets().last().window, (WindowLevel{77.0, 155.0}));
        QCOMPARE(layout(menu), expectedLayout(expectedNames));
    }

private:
    QTemporaryDir m_config;
};

QTEST_MAIN(WindowPresetMenuTest)
#include "test_window_preset_menu.moc"
