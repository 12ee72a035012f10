#include "platform/OpticalDrives.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class OpticalDrivesTest : public QObject
{
    Q_OBJECT
private slots:
    void findsOnlyOpticalDevices();
};

void OpticalDrivesTest::findsOnlyOpticalDevices()
{
    QTemporaryDir dev;
    velmaris::OpticalDrives drives(dev.path());
    QVERIFY(!drives.present());
    for (const char *name : {"sda", "sda1", "srx", "sr", "nvme0n1", "sr12", "sr0"}) {
        QFile f(dev.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(drives.present());
    QCOMPARE(drives.devices(), (QStringList{dev.filePath(QStringLiteral("sr0")), dev.filePath(QStringLiteral("sr12"))}));
    QVERIFY(!velmaris::OpticalDrives(dev.filePath(QStringLiteral("missing"))).present());
}

QTEST_GUILESS_MAIN(OpticalDrivesTest)
#include "test_optical_drives.moc"
