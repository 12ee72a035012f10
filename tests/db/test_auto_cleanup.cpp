#include "db/AutoCleanup.h"
#include "db/Database.h"
#include "dicom/ManagedStorage.h"
#include "ui/PrivateSettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// One study per row, one file each, in the index's listing order (by the
// date text, so the unparsable date sorts before the 2024 ones).
struct Seed
{
    const char *uid;
    const char *date;
    qint64 bytes;
    bool isProtected;
};
constexpr Seed kSeeds[] = {
    {"undated", "", 50, false},         {"protected", "20220101", 1000, true},
    {"old", "20230101", 100, false},    {"bad-date", "2024-13-45", 10, false},
    {"january", "20240101", 200, false}, {"may", "20240520", 300, false},
}; // 1660 bytes in all

const QDate kToday(2024, 6, 1);

bool writeFile(const QString &path, qint64 bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(bytes, 'x')) == bytes;
}

dicom::DicomFileSummary summary(const QString &studyUid, const QString &date, const QString &filePath)
{
    dicom::DicomFileSummary s;
    s.patient_id = QStringLiteral("PID");
    s.study_instance_uid = studyUid;
    s.study_date = date;
    s.series_instance_uid = studyUid + QStringLiteral(".1");
    s.sop_instance_uid = QFileInfo(filePath).fileName() + studyUid;
    s.file_path = filePath;
    return s;
}

db::CleanupSettings rules(int maxAgeDays, qint64 maxSizeBytes)
{
    db::CleanupSettings settings;
    settings.byAgeEnabled = maxAgeDays > 0;
    settings.maxAgeDays = maxAgeDays;
    settings.bySizeEnabled = maxSizeBytes > 0;
    settings.maxSizeBytes = maxSizeBytes;
    return settings;
}

} // namespace

class AutoCleanupTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { velmaris::testing::usePrivateSettings(m_config.path()); }
    void init();
    void managedPaths_data();
    void managedPaths();
    void selection_data();
    void selection();
    void onlyManagedFilesGoButRecordsAlways();
    void settingsKeysAndDefaults();

private:
    QString data(const QString &relative) const { return QDir(m_data).filePath(relative); }
    QStringList remainingStudies();

    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_data;
    std::unique_ptr<db::Database> m_db;
};

void AutoCleanupTest::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_data = m_root->filePath(QStringLiteral("data"));
    QVERIFY(QDir::setCurrent(m_root->path()));
    m_db = std::make_unique<db::Database>(nullptr);
    QVERIFY2(m_db->open(QStringLiteral(":memory:")), qPrintable(m_db->lastError()));
}

QStringList AutoCleanupTest::remainingStudies()
{
    QStringList uids;
    for (const db::StudyRecord &study : m_db->listStudies())
        uids << study.study_instance_uid;
    uids.sort();
    return uids;
}

void AutoCleanupTest::managedPaths_data()
{
    // "@" stands for the absolute data directory; relative paths are taken
    // from the current folder, the parent of the data directory.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("dataDirectory");
    QTest::addColumn<bool>("managed");
    QTest::newRow("archive import") << "@/imported_from_zip/ab/cd.dcm" << "@" << true;
    QTest::newRow("sibling with a longer name") << "@/pacs_downloads_old/x.dcm" << "@" << false;
    QTest::newRow("climbs out with ..") << "@/pacs_downloads/../x.dcm" << "@" << false;
    QTest::newRow("climbs about inside") << "@/pacs_downloads/./a/../b.dcm" << "@" << true;
    QTest::newRow("data directory itself") << "@" << "@" << false;
    QTest::newRow("file beside the folders") << "@/index.sqlite3" << "@" << false;
    QTest::newRow("managed folder itself") << "@/pacs_downloads/" << "@" << false;
    QTest::newRow("same name elsewhere") << "@/../imported_from_zip/x.dcm" << "@" << false;
    QTest::newRow("relative file") << "data/pacs_downloads/x.dcm" << "@" << true;
    QTest::newRow("relative data directory") << "@/minipacs_received/x.dcm" << "data" << true;
    QTest::newRow("both relative, sibling") << "data/pacs_downloads_old/x.dcm" << "data/" << false;
}

void AutoCleanupTest::managedPaths()
{
    QFETCH(QString, path);
    QFETCH(QString, dataDirectory);
    QFETCH(bool, managed);
    path.replace(QLatin1Char('@'), m_data);
    dataDirectory.replace(QLatin1Char('@'), m_data);
    QCOMPARE(dicom::isManagedPath(path, dataDirectory), managed);
}

void AutoCleanupTest::selection_data()
{
    QTest::addColumn<int>("maxAgeDays");      // 0: age rule off
    QTest::addColumn<qint64>("maxSizeBytes"); // 0: size rule off
    QTest::addColumn<QStringList>("remaining");
    const QStringList all{"bad-date", "january", "may", "old", "protected", "undated"};
    const QStringList undatedProtectedBadMay{"bad-date", "may", "protected", "undated"};
    // Cutoff 3 March 2024: "old" and "january" are older; undated and
    // unparsable dates never go by age.
    QTest::newRow("age") << 90 << qint64(0) << undatedProtectedBadMay;
    // Cutoff exactly 1 January 2024: "january" is not earlier than it.
    QTest::newRow("age, cutoff day kept")
        << int(QDate(2024, 1, 1).daysTo(kToday)) << qint64(0)
        << QStringList{"bad-date", "january", "may", "protected", "undated"};
    // 1660 - 50 (undated) - 100 (old) - 10 (bad-date) = 1500, no longer above.
    QTest::newRow("size") << 0 << qint64(1500) << QStringList{"january", "may", "protected"};
    // Even with everything else gone 1000 bytes stay: the protected study.
    QTest::newRow("size out of reach") << 0 << qint64(900) << QStringList{"protected"};
    QTest::newRow("size at the limit") << 0 << qint64(1660) << all;
    // Age takes "old" and "january" (300 bytes) but the size rule still starts
    // from 1660: 1610, 1600, then 1300 after "may". Had the age choices
    // counted, 1360 would already be under the limit and three would stay.
    QTest::newRow("both rules") << 90 << qint64(1500) << QStringList{"protected"};
    QTest::newRow("no rule") << 0 << qint64(0) << all;
}

void AutoCleanupTest::selection()
{
    QFETCH(int, maxAgeDays);
    QFETCH(qint64, maxSizeBytes);
    QFETCH(QStringList, remaining);
    for (const Seed &seed : kSeeds) {
        const QString uid = QString::fromLatin1(seed.uid);
        const QString file = data(QStringLiteral("imported_from_zip/%1/f.dcm").arg(uid));
        QVERIFY(writeFile(file, seed.bytes));
        QVERIFY(m_db->insertSummary(summary(uid, QString::fromLatin1(seed.date), file)));
        QVERIFY(m_db->setStudyProtected(uid, seed.isProtected));
    }
    const int deleted = db::runAutoCleanup(*m_db, rules(maxAgeDays, maxSizeBytes), m_data, kToday);
    QCOMPARE(remainingStudies(), remaining);
    QCOMPARE(deleted, int(std::size(kSeeds)) - remaining.size());
    for (const Seed &seed : kSeeds) {
        const QString folder = data(QStringLiteral("imported_from_zip/") + QString::fromLatin1(seed.uid));
        QCOMPARE(QFileInfo::exists(folder), remaining.contains(QString::fromLatin1(seed.uid)));
    }
}

void AutoCleanupTest::onlyManagedFilesGoButRecordsAlways()
{
    const QStringList gone{data("imported_from_zip/s1/a.dcm"), data("pacs_downloads/st/b.dcm"),
                           data("minipacs_received/m/c.dcm")};
    const QStringList kept{data("pacs_downloads_old/d.dcm"), m_root->filePath("elsewhere/e.dcm"),
                           data("pacs_downloads/st/not-indexed.txt")};
    // A folder where the index expects a file: it cannot be removed like one.
    const QString stuck = data("imported_from_zip/s2/stuck.dcm");
    QVERIFY(writeFile(stuck + "/inside", 1));
    for (const QString &file : gone + kept)
        QVERIFY(writeFile(file, 10));
    for (const QString &file : gone + kept.mid(0, 2) + QStringList{stuck})
        QVERIFY(m_db->insertSummary(summary(QStringLiteral("s"), QStringLiteral("20000101"), file)));

    QCOMPARE(db::runAutoCleanup(*m_db, rules(1, 0), m_data, kToday), 1);
    QVERIFY(remainingStudies().isEmpty());
    for (const QString &file : gone)
        QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
    for (const QString &file : kept + QStringList{stuck})
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
    // Emptied folders go; one that still holds something stays.
    QVERIFY(!QFileInfo::exists(data("imported_from_zip/s1")));
    QVERIFY(!QFileInfo::exists(data("minipacs_received/m")));
    QVERIFY(QFileInfo::exists(data("pacs_downloads/st")));
}

void AutoCleanupTest::settingsKeysAndDefaults()
{
    QSettings().remove(QStringLiteral("cleanup"));
    db::CleanupSettings defaults = rules(90, Q_INT64_C(10) << 30);
    defaults.byAgeEnabled = defaults.bySizeEnabled = false;
    QVERIFY(db::loadCleanupSettings() == defaults);

    const db::CleanupSettings chosen = rules(30, Q_INT64_C(5) << 40); // beyond 32 bits
    db::saveCleanupSettings(chosen);
    QStringList stored;
    for (const char *key : {"byAgeEnabled", "maxAgeDays", "bySizeEnabled", "maxSizeBytes"})
        stored << QSettings().value(QStringLiteral("cleanup/") + QLatin1String(key)).toString();
    QCOMPARE(stored, (QStringList{"true", "30", "true", QString::number(Q_INT64_C(5) << 40)}));
    QVERIFY(db::loadCleanupSettings() == chosen);
}

QTEST_GUILESS_MAIN(AutoCleanupTest)
#include "test_auto_cleanup.moc"
