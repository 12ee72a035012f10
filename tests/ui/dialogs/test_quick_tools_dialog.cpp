#include "ui/PrivateSettings.h"
#include "ui/dialogs/QuickToolsDialog.h"
#include "viewer/QuickTools.h"
#include "viewer/QuickToolsNotifier.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using velmaris::QuickToolsDialog;

namespace {

const QString storeKey = QStringLiteral("viewer/quickTools");

QVariant storedList()
{
    return QSettings().value(storeKey);
}

QString labelOf(const QuickToolsDialog &dialog, int slot)
{
    for (const QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->buddy() == dialog.toolCombo(slot))
            return label->text();
    }
    return {};
}

QPushButton *button(const QuickToolsDialog &dialog, QDialogButtonBox::StandardButton which)
{
    return dialog.findChild<QDialogButtonBox *>()->button(which);
}

QPushButton *defaultsButton(const QuickToolsDialog &dialog)
{
    for (QPushButton *candidate : dialog.findChildren<QPushButton *>()) {
        if (candidate->text() == QStringLiteral("По умолчанию"))
            return candidate;
    }
    return nullptr;
}

void choose(QComboBox *combo, int tool)
{
    combo->setCurrentIndex(combo->findData(tool));
}

} // namespace

class QuickToolsDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
    }
    void init() { QSettings().clear(); }

    void offersEmptyAndEveryToolButBrowse()
    {
        QuickToolsDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Кнопки быстрых измерений"));
        QStringList labels;
        for (int slot = 0; slot < 6; ++slot)
            labels << labelOf(dialog, slot);
        QCOMPARE(labels, (QStringList{"Над меткой, 1:", "Над меткой, 2:", "Над меткой, 3:", "Под меткой, 1:",
                                      "Под меткой, 2:", "Под меткой, 3:"}));
        QVERIFY(!dialog.toolCombo(-1));
        QVERIFY(!dialog.toolCombo(6));
        const QComboBox *combo = dialog.toolCombo(0);
        QList<int> values;
        for (int i = 0; i < combo->count(); ++i)
            values.append(combo->itemData(i).toInt());
        QCOMPARE(values, (QList<int>{-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 19, 20, 21}));
        QCOMPARE(combo->itemText(0), QStringLiteral("— пусто —"));
        QCOMPARE(combo->itemText(combo->findData(14)), QStringLiteral("Угол Кобба"));
    }

    void combosShowTheStoredListAndDefaultsFillThemWithoutWriting()
    {
        quicktools::saveQuickTools({14, 19, -1, 3, 21, 11});
        const QVariant before = storedList();
        QuickToolsDialog dialog;
        QCOMPARE(dialog.chosenTools(), (QList<int>{14, 19, -1, 3, 21, 11}));
        QCOMPARE(dialog.toolCombo(1)->currentText(), QStringLiteral("Лупа"));
        QSignalSpy changed(quicktools::Notifier::instance(), &quicktools::Notifier::changed);
        QPushButton *defaults = defaultsButton(dialog);
        QVERIFY(defaults);
        defaults->click();
        QCOMPARE(dialog.chosenTools(), (QList<int>{3, 4, 5, 13, 10, 9}));
        QCOMPARE(storedList(), before);
        QCOMPARE(changed.count(), 0);
    }

    void cancelWritesNothingOkWritesAndNotifies()
    {
        QSignalSpy changed(quicktools::Notifier::instance(), &quicktools::Notifier::changed);
        {
            QuickToolsDialog dialog;
            choose(dialog.toolCombo(2), 7);
            defaultsButton(dialog)->click();
            choose(dialog.toolCombo(3), 8);
            button(dialog, QDialogButtonBox::Cancel)->click();
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QVERIFY(!QSettings().contains(storeKey));
        QCOMPARE(changed.count(), 0);

        QuickToolsDialog dialog;
        choose(dialog.toolCombo(0), 20);
        choose(dialog.toolCombo(1), quicktools::emptySlot);
        choose(dialog.toolCombo(5), 15);
        QCOMPARE(dialog.toolCombo(1)->currentText(), QStringLiteral("— пусто —"));
        button(dialog, QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(changed.count(), 1);
        const QList<int> chosen{20, quicktools::emptySlot, 5, 13, 10, 15};
        QCOMPARE(quicktools::loadQuickTools(), chosen);
        // An empty slot comes back empty.
        QuickToolsDialog reopened;
        QCOMPARE(reopened.chosenTools(), chosen);
        QCOMPARE(reopened.toolCombo(1)->currentIndex(), 0);
    }

private:
    QTemporaryDir m_config;
};

QTEST_MAIN(QuickToolsDialogTest)
#include "test_quick_tools_dialog.moc"
