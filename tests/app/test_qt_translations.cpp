#include "app/QtTranslations.h"

#include <QtTest>

// The standard buttons and dialogs take their texts from Qt's own catalogue.
class QtTranslationsTest : public QObject
{
    Q_OBJECT
private slots:
    void standardTextsAreRussian_data()
    {
        QTest::addColumn<QByteArray>("context");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("russian");
        QTest::newRow("Cancel button") << QByteArray("QPlatformTheme") << QByteArray("Cancel") << "Отмена";
        QTest::newRow("Yes button") << QByteArray("QPlatformTheme") << QByteArray("&Yes") << "&Да";
        QTest::newRow("No button") << QByteArray("QPlatformTheme") << QByteArray("&No") << "&Нет";
        QTest::newRow("folder picker") << QByteArray("QFileDialog") << QByteArray("Find Directory") << "Найти каталог";
    }

    void standardTextsAreRussian()
    {
        QFETCH(QByteArray, context);
        QFETCH(QByteArray, source);
        QFETCH(QString, russian);
        static const bool installed = velmaris::installQtTranslations(*QCoreApplication::instance());
        QVERIFY(installed);
        QCOMPARE(QCoreApplication::translate(context.constData(), source.constData()), russian);
    }
};

QTEST_GUILESS_MAIN(QtTranslationsTest)
#include "test_qt_translations.moc"
