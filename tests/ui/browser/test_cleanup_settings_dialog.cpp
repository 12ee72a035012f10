#include "db/CleanupSettings.h"
#include "ui/PrivateSettings.h"
#include "ui/browser/CleanupSettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

#include <utility>

using velmaris::CleanupSettingsDialog;

namespace {

template <typename T>
T *child(const QDialog &dialog, const char *name)
{
    return dialog.findChild<T *>(QString::fromLatin1(name));
}

QPushButton *button(const QDialog &dialog, const QString &text)
{
    for (QPushButton *b : dialog.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

} // namespace

class CleanupSettingsDialogTest : public QObject
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

    void showsDefaults()
    {
        CleanupSettingsDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Настройки"));
        QCOMPARE(dialog.findChild<QGroupBox *>()->title(), QStringLiteral("Автоочистка локальной базы"));
        auto *byAge = child<QCheckBox>(dialog, "byAgeCheck");
        auto *days = child<QSpinBox>(dialog, "maxAgeDaysSpin");
        QCOMPARE(byAge->text(), QStringLiteral("Удалять исследования старше"));
        QVERIFY(!byAge->isChecked());
        QCOMPARE(days->text(), QStringLiteral("90 дн."));
        QCOMPARE(std::pair(days->minimum(), days->maximum()), std::pair(1, 3650));
        QVERIFY(!days->isEnabled());
        byAge->setChecked(true);
        QVERIFY(days->isEnabled());
        // The default 10 GiB is a whole number of gibibytes.
        QCOMPARE(child<QComboBox>(dialog, "sizeUnitCombo")->currentText(), QStringLiteral("ГБ"));
        QCOMPARE(child<QDoubleSpinBox>(dialog, "maxSizeSpin")->value(), 10.0);
        QVERIFY(!child<QDoubleSpinBox>(dialog, "maxSizeSpin")->isEnabled());
    }

    void savesTruncatedBytesAndShowsThemBack()
    {
        {
            CleanupSettingsDialog dialog;
            child<QCheckBox>(dialog, "bySizeCheck")->setChecked(true);
            child<QComboBox>(dialog, "sizeUnitCombo")->setCurrentIndex(1);
            child<QDoubleSpinBox>(dialog, "maxSizeSpin")->setValue(1.5);
            child<QSpinBox>(dialog, "maxAgeDaysSpin")->setValue(30);
            QTest::mouseClick(button(dialog, QStringLiteral("Сохранить")), Qt::LeftButton);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(QSettings().value(QStringLiteral("cleanup/maxSizeBytes")).toLongLong(), Q_INT64_C(1610612736));
        const db::CleanupSettings saved = db::loadCleanupSettings();
        QVERIFY(saved.bySizeEnabled && !saved.byAgeEnabled);
        QCOMPARE(saved.maxAgeDays, 30);

        CleanupSettingsDialog again;
        auto *size = child<QDoubleSpinBox>(again, "maxSizeSpin");
        QCOMPARE(child<QComboBox>(again, "sizeUnitCombo")->currentText(), QStringLiteral("МБ"));
        QCOMPARE(size->value(), 1536.0);
        QCOMPARE(size->cleanText(), QStringLiteral("1536.0"));
        QVERIFY(size->isEnabled());
        // 0.1 МБ is not a whole number of bytes: the fraction is cut off.
        size->setValue(0.1);
        QTest::mouseClick(button(again, QStringLiteral("Сохранить")), Qt::LeftButton);
        QCOMPARE(db::loadCleanupSettings().maxSizeBytes, Q_INT64_C(104857));
    }

    void cancelWritesNothing()
    {
        CleanupSettingsDialog dialog;
        child<QCheckBox>(dialog, "byAgeCheck")->setChecked(true);
        QTest::mouseClick(button(dialog, QStringLiteral("Отмена")), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!QSettings().childGroups().contains(QStringLiteral("cleanup")));
    }
};

QTEST_MAIN(CleanupSettingsDialogTest)
#include "test_cleanup_settings_dialog.moc"
