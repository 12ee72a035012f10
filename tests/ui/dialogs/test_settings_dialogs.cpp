#include "app/HotkeyRegistry.h"
#include "db/CleanupSettings.h"
#include "ui/ModalBoxCatcher.h"
#include "ui/PrivateSettings.h"
#include "ui/browser/CleanupSettingsDialog.h"
#include "ui/dialogs/HotkeyDialog.h"
#include "ui/dialogs/QuickToolsDialog.h"
#include "ui/viewer/WindowPresetMenu.h"
#include "viewer/QuickTools.h"
#include "viewer/QuickToolsNotifier.h"
#include "viewer/WindowPresets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeySequenceEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using render::WindowLevel;
using velmaris::HotkeyDialog;
using velmaris::HotkeyRegistry;
using velmaris::QuickToolsDialog;

// The dialogs and the menu through which the user keeps settings: hotkeys,
// quick measurement buttons, automatic clean-up and window presets.
namespace {

void press(const QWidget &dialog, const QString &text)
{
    for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button->click();
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + text));
}

template <typename T>
T *child(const QWidget &dialog, const char *name)
{
    return dialog.findChild<T *>(QString::fromLatin1(name));
}

QString portable(const QKeySequence &sequence)
{
    return sequence.toString(QKeySequence::PortableText);
}

QStringList storedHotkeys()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("hotkeys"));
    return settings.childKeys();
}

int hotkeyRow(const char *id)
{
    const QList<velmaris::HotkeyEntry> offered = HotkeyRegistry::availableEntries();
    for (int row = 0; row < offered.size(); ++row) {
        if (offered.at(row).id == QLatin1String(id))
            return row;
    }
    return -1;
}

QKeySequenceEdit *hotkeyEditor(const QDialog &dialog, int row)
{
    return qobject_cast<QKeySequenceEdit *>(dialog.findChild<QTableWidget *>()->cellWidget(row, 1));
}

QString hotkeyShown(const QDialog &dialog, int row)
{
    return portable(hotkeyEditor(dialog, row)->keySequence());
}

void choose(QComboBox *combo, int tool)
{
    combo->setCurrentIndex(combo->findData(tool));
}

const QString savePresetText = QStringLiteral("Сохранить текущий как пресет…");
const QString deletePresetText = QStringLiteral("Удалить пользовательский пресет…");

// The preset menu as text: "---" for separators; built-in presets as "*".
QStringList presetLayout(const QMenu &menu)
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

QStringList expectedPresetLayout(const QStringList &userNames)
{
    QStringList texts(6, QStringLiteral("*"));
    if (!userNames.isEmpty())
        texts << QStringLiteral("---") << userNames;
    texts << QStringLiteral("---") << savePresetText;
    if (!userNames.isEmpty())
        texts << deletePresetText;
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

QStringList storedPresetNames()
{
    QStringList names;
    for (const render::WindowPreset &preset : render::userWindowPresets())
        names.append(preset.name);
    return names;
}

} // namespace

class SettingsDialogsTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
        QLocale::setDefault(QLocale::c()); // a decimal point, whatever the machine's locale
    }
    void init() { QSettings().clear(); }

    void hotkeyTableAndDefaults()
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

    void hotkeyDialogShowsResetsAndSavesEveryRow()
    {
        HotkeyRegistry::store(QStringLiteral("viewer.copyOne"), QKeySequence(QStringLiteral("Ctrl+Alt+X")));
        HotkeyRegistry::store(QStringLiteral("viewer.flipH"), QKeySequence());
        HotkeyDialog dialog;
        auto *table = dialog.findChild<QTableWidget *>();
        QCOMPARE(table->horizontalHeaderItem(0)->text() + '|' + table->horizontalHeaderItem(1)->text(),
                 QStringLiteral("Действие|Клавиша"));
        // Actions of windows that do not exist yet (MPR, export) are not offered.
        QCOMPARE(table->rowCount(), HotkeyRegistry::entries().size() - 2);
        QCOMPARE(hotkeyShown(dialog, hotkeyRow("viewer.copyOne")), QStringLiteral("Ctrl+Alt+X"));
        QCOMPARE(hotkeyShown(dialog, hotkeyRow("viewer.flipH")), QString());
        press(dialog, QStringLiteral("Сбросить всё к умолчаниям"));
        QVERIFY(storedHotkeys().isEmpty());
        QCOMPARE(hotkeyShown(dialog, hotkeyRow("viewer.copyOne")), QStringLiteral("Ctrl+C"));
        QCOMPARE(hotkeyShown(dialog, hotkeyRow("viewer.flipH")), QStringLiteral("Ctrl+Shift+["));

        hotkeyEditor(dialog, hotkeyRow("viewer.flipH"))->clear();
        hotkeyEditor(dialog, hotkeyRow("viewer.copyOne"))->setKeySequence(QKeySequence(QStringLiteral("Alt+C")));
        velmaris::testing::ModalBoxCatcher catcher;
        press(dialog, QStringLiteral("Сохранить"));
        QCOMPARE(catcher.count, 1);
        QCOMPARE(catcher.title, QStringLiteral("Горячие клавиши"));
        QCOMPARE(catcher.text, QStringLiteral("Сохранено. Изменения применятся к новым открываемым окнам — "
                                              "уже открытые окна нужно закрыть и открыть заново."));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        // Every offered row, unchanged ones too as their defaults.
        QCOMPARE(storedHotkeys().size(), HotkeyRegistry::availableEntries().size());
        QCOMPARE(QSettings().value("hotkeys/viewer.clearTransform").toString(), QStringLiteral("Ctrl+Shift+\\"));
        QCOMPARE(QSettings().value("hotkeys/viewer.copyOne").toString(), QStringLiteral("Alt+C"));
        QVERIFY(storedHotkeys().contains(QStringLiteral("viewer.flipH")));
        QVERIFY(HotkeyRegistry::shortcut(QStringLiteral("viewer.flipH")).isEmpty());
    }

    // Empty and every tool but browsing are offered; the stored list is shown;
    // the defaults button fills the boxes, OK writes and notifies.
    void quickToolsOfferShowAndStoreTheList()
    {
        quicktools::saveQuickTools({14, 19, -1, 3, 21, 11});
        QSignalSpy changed(quicktools::Notifier::instance(), &quicktools::Notifier::changed);
        QuickToolsDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Кнопки быстрых измерений"));
        const QComboBox *combo = dialog.toolCombo(0);
        QList<int> values;
        for (int i = 0; i < combo->count(); ++i)
            values.append(combo->itemData(i).toInt());
        QCOMPARE(values, (QList<int>{-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 19, 20, 21}));
        QCOMPARE(combo->itemText(combo->findData(14)), QStringLiteral("Угол Кобба"));
        QCOMPARE(dialog.chosenTools(), (QList<int>{14, 19, -1, 3, 21, 11}));
        QCOMPARE(dialog.toolCombo(1)->currentText(), QStringLiteral("Лупа"));
        press(dialog, QStringLiteral("По умолчанию"));
        QCOMPARE(dialog.chosenTools(), (QList<int>{3, 4, 5, 13, 10, 9}));
        choose(dialog.toolCombo(0), 20);
        choose(dialog.toolCombo(1), quicktools::emptySlot);
        QCOMPARE(dialog.toolCombo(1)->currentText(), QStringLiteral("— пусто —"));
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(changed.count(), 1);
        const QList<int> chosen{20, quicktools::emptySlot, 5, 13, 10, 9};
        QCOMPARE(quicktools::loadQuickTools(), chosen);
        // An empty slot comes back empty.
        QCOMPARE(QuickToolsDialog().chosenTools(), chosen);
    }

    void cleanupSavesTruncatedBytesAndShowsThemBack()
    {
        {
            velmaris::CleanupSettingsDialog dialog;
            QCOMPARE(dialog.findChild<QGroupBox *>()->title(), QStringLiteral("Автоочистка локальной базы"));
            QCOMPARE(child<QCheckBox>(dialog, "byAgeCheck")->text(), QStringLiteral("Удалять исследования старше"));
            child<QCheckBox>(dialog, "bySizeCheck")->setChecked(true);
            child<QComboBox>(dialog, "sizeUnitCombo")->setCurrentIndex(1);
            child<QDoubleSpinBox>(dialog, "maxSizeSpin")->setValue(1.5);
            child<QSpinBox>(dialog, "maxAgeDaysSpin")->setValue(30);
            press(dialog, QStringLiteral("Сохранить"));
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(QSettings().value(QStringLiteral("cleanup/maxSizeBytes")).toLongLong(), Q_INT64_C(1610612736));
        const db::CleanupSettings saved = db::loadCleanupSettings();
        QVERIFY(saved.bySizeEnabled && !saved.byAgeEnabled);
        QCOMPARE(saved.maxAgeDays, 30);

        velmaris::CleanupSettingsDialog again;
        auto *size = child<QDoubleSpinBox>(again, "maxSizeSpin");
        QCOMPARE(child<QComboBox>(again, "sizeUnitCombo")->currentText(), QStringLiteral("МБ"));
        QCOMPARE(size->cleanText(), QStringLiteral("1536.0"));
        QVERIFY(size->isEnabled());
        // 0.1 МБ is not a whole number of bytes: the fraction is cut off.
        size->setValue(0.1);
        press(again, QStringLiteral("Сохранить"));
        QCOMPARE(db::loadCleanupSettings().maxSizeBytes, Q_INT64_C(104857));
    }

    void presetMenuListsAndSignalsPresets()
    {
        velmaris::WindowPresetMenu menu([] { return WindowLevel{}; });
        QCOMPARE(menu.title(), QStringLiteral("Window/Level presets"));
        QCOMPARE(presetLayout(menu), expectedPresetLayout({}));

        render::storeUserWindowPresets({{QStringLiteral("Печень"), {60.0, 150.0}}, {QStringLiteral("Кисти"), {1, 2}}});
        menu.rebuild();
        QCOMPARE(presetLayout(menu), expectedPresetLayout({QStringLiteral("Печень"), QStringLiteral("Кисти")}));

        QSignalSpy chosen(&menu, &velmaris::WindowPresetMenu::presetChosen);
        trigger(menu, QStringLiteral("Кость"));
        trigger(menu, QStringLiteral("Печень"));
        QCOMPARE(chosen.size(), 2);
        QCOMPARE(chosen.at(0).at(0).value<WindowLevel>(), (WindowLevel{300.0, 1500.0}));
        QCOMPARE(chosen.at(1).at(0).value<WindowLevel>(), (WindowLevel{60.0, 150.0}));
    }

    void presetMenuSavesOrDeletesUserPresets_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<bool>("save"); // or delete
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("expectedNames");
        QTest::newRow("new name, trimmed") << QStringList{"Старый"} << true << "  Печень  " << QStringList{"Старый", "Печень"};
        QTest::newRow("delete a repeated name") << QStringList{"А", "Б", "А"} << false << "А" << QStringList{"Б"};
    }
    void presetMenuSavesOrDeletesUserPresets()
    {
        QFETCH(QStringList, stored);
        QFETCH(bool, save);
        QFETCH(QString, answer);
        QFETCH(QStringList, expectedNames);
        QList<render::WindowPreset> presets;
        for (const QString &name : stored)
            presets.append({name, {double(presets.size()), 100.0}});
        render::storeUserWindowPresets(presets);
        velmaris::WindowPresetMenu menu([] { return WindowLevel{77.0, 155.0}; });
        QStringList seen; // title, label, then the list offered when it is a fixed one
        velmaris::testing::ModalAnswerer<QInputDialog> answerer([&](QInputDialog *dialog) {
            seen = QStringList{dialog->windowTitle(), dialog->labelText()}
                 + (dialog->isComboBoxEditable() ? QStringList{"editable"} : dialog->comboBoxItems());
            dialog->setTextValue(answer);
            dialog->accept();
        });
        trigger(menu, save ? savePresetText : deletePresetText);
        QStringList offered = stored; // each name once
        offered.removeDuplicates();
        QCOMPARE(seen, (save ? QStringList{"Новый пресет W/L", "Название:"}
                                      : QStringList{"Удалить пресет", "Выберите пресет для удаления:"} + offered));
        QCOMPARE(storedPresetNames(), expectedNames);
        if (save)
            QCOMPARE(render::userWindowPresets().last().window, (WindowLevel{77.0, 155.0}));
        QCOMPARE(presetLayout(menu), expectedPresetLayout(expectedNames));
    }
};

QTEST_MAIN(SettingsDialogsTest)
#include "test_settings_dialogs.moc"
