#include "db/StudyFilter.h"
#include "db/StudyTableRow.h"

#include <QtTest>

using db::StudyFilter;
using db::StudyRecord;
using db::StudyTableRow;

Q_DECLARE_METATYPE(StudyFilter::DateRange)

namespace {

StudyRecord study(const QString &uid, const QString &name, const QString &id, const QString &date,
                  const QString &modalities, bool isProtected = false)
{
    StudyRecord r;
    r.study_instance_uid = uid;
    r.patient_name = name;
    r.patient_id = id;
    r.study_date = date;
    r.modalities = modalities;
    r.is_protected = isProtected;
    return r;
}

const QDate today(2024, 3, 15);

} // namespace

class StudyBrowserRowsTest : public QObject
{
    Q_OBJECT
private slots:
    void columnTexts();
    void dateTimeFormat_data();
    void dateTimeFormat();
    void filters_data();
    void filters();
};

void StudyBrowserRowsTest::columnTexts()
{
    StudyRecord first = study(QStringLiteral("1"), QString(), QString(), QStringLiteral("20240131"), QStringLiteral("CT,SR"));
    first.series_count = 3;
    first.instance_count = 250;
    const QList<StudyTableRow> rows = db::buildStudyRows({
        first,
        study(QStringLiteral("2"), QStringLiteral("Иванов^Иван"), QStringLiteral("P7"), QString(), QStringLiteral("MR"), true),
        study(QStringLiteral("3"), QStringLiteral("Петров"), QString(), QString(), QString()),
        // One Patient ID, two people; the same person again, spelt otherwise;
        // a study without a name says nothing about whose ID it is.
        study(QStringLiteral("4"), QStringLiteral("Сидоров^Олег"), QStringLiteral("P7"), QString(), QString()),
        study(QStringLiteral("5"), QStringLiteral("ИВАНОВ^Иван"), QStringLiteral("P7"), QString(), QString()),
        study(QStringLiteral("6"), QString(), QStringLiteral("P8"), QString(), QString()),
        study(QStringLiteral("7"), QStringLiteral("Орлов^Пётр"), QStringLiteral("P8"), QString(), QString()),
    });
    QCOMPARE(rows.size(), 7);
    // Studies without an ID are numbered in list order; a Patient ID with more
    // than one name is marked, not hidden.
    const QString tip = QStringLiteral("Этот ID пациента встречается с разными именами: Иванов Иван, Сидоров Олег");
    QStringList ids, tips;
    for (const StudyTableRow &row : rows) {
        ids << row.text[StudyTableRow::PatientId];
        tips << row.patientIdToolTip;
    }
    QCOMPARE(ids, (QStringList{"0001", "P7 ⚠", "0002", "P7 ⚠", "P7 ⚠", "P8", "P8"}));
    QCOMPARE(tips, (QStringList{"", tip, "", tip, tip, "", ""}));
    QCOMPARE((QStringList{rows[0].text[StudyTableRow::PatientName], rows[1].text[StudyTableRow::PatientName],
                          rows[0].text[StudyTableRow::Counts], rows[0].modalityList, rows[2].studyUid}),
             (QStringList{"No Name", "🔒 Иванов Иван", "3 / 250", "CT,SR", "3"}));
    QVERIFY(rows[1].isProtected);
}

void StudyBrowserRowsTest::dateTimeFormat_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("shown");
    QTest::newRow("date and time with fraction") << "20240131" << "083005.123" << "2024-01-31 08:30:05";
    QTest::newRow("time stored with colons") << "20240131" << "14:04:38" << "2024-01-31 14:04:38";
    QTest::newRow("hours and minutes") << "20240131" << "0830" << "2024-01-31 08:30:00";
    QTest::newRow("time that is no time, as stored") << "20240131" << "9x" << "2024-01-31 9x";
    QTest::newRow("odd date as stored") << "2024.01.31" << "083005" << "2024.01.31 08:30:05";
    QTest::newRow("nothing") << "" << "" << "";
}

void StudyBrowserRowsTest::dateTimeFormat()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QString, shown);
    QCOMPARE(db::formatStudyDateTime(date, time), shown);
}

void StudyBrowserRowsTest::filters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("modalities");
    QTest::addColumn<StudyFilter::DateRange>("range");
    QTest::addColumn<QDate>("first");
    QTest::addColumn<QDate>("second");
    QTest::addColumn<QStringList>("shown"); // study UIDs

    using R = StudyFilter::DateRange;
    const QStringList all{"today", "yesterday", "week", "older", "undated", "noid"};
    const QDate none;
    const struct
    {
        const char *name, *text;
        QStringList modalities;
        R range;
        QDate first, second;
        QStringList shown;
    } cases[] = {
        {"no filter", "", {}, R::Any, none, none, all},
        {"name, any case", "ИВАН", {}, R::Any, none, none, {"today"}},
        {"name as shown", "петров пётр", {}, R::Any, none, none, {"yesterday"}},
        {"name as stored", "Петров^Пётр", {}, R::Any, none, none, {"yesterday"}},
        {"patient id", "p2", {}, R::Any, none, none, {"yesterday"}},
        {"generated id", "0001", {}, R::Any, none, none, {"noid"}},
        {"blank text", "   ", {}, R::Any, none, none, all},
        {"modality substring", "", {"MR"}, R::Any, none, none, {"yesterday", "older"}},
        {"two modalities", "", {"ct", "US"}, R::Any, none, none, {"today", "week", "noid"}},
        {"today", "", {}, R::Today, none, none, {"today"}},
        {"yesterday hides undated", "", {}, R::Yesterday, none, none, {"yesterday"}},
        {"last ten days", "", {}, R::LastTenDays, none, none, {"today", "yesterday", "week"}},
        {"last month", "", {}, R::LastMonth, none, none, {"today", "yesterday", "week", "noid"}},
        {"exact date", "", {}, R::ExactDate, QDate(2024, 3, 8), none, {"week"}},
        {"between, ends included", "", {}, R::Between, QDate(2023, 12, 1), QDate(2024, 3, 8), {"week", "older", "noid"}},
        {"invalid end skips the date test", "", {}, R::Between, QDate(2024, 1, 1), none, all},
        {"all three", "петр", {"MR"}, R::LastTenDays, none, none, {"yesterday"}},
    };
    for (const auto &c : cases)
        QTest::newRow(c.name) << QString::fromUtf8(c.text) << c.modalities << c.range << c.first << c.second << c.shown;
}

void StudyBrowserRowsTest::filters()
{
    QFETCH(QString, text);
    QFETCH(QStringList, modalities);
    QFETCH(StudyFilter::DateRange, range);
    QFETCH(QDate, first);
    QFETCH(QDate, second);
    QFETCH(QStringList, shown);

    const QList<StudyTableRow> rows = db::buildStudyRows({
        study(QStringLiteral("today"), QStringLiteral("Иванов^Иван"), QStringLiteral("P1"), QStringLiteral("20240315"), QStringLiteral("CT")),
        study(QStringLiteral("yesterday"), QStringLiteral("Петров^Пётр"), QStringLiteral("P2"), QStringLiteral("20240314"), QStringLiteral("MRI,SR")),
        study(QStringLiteral("week"), QStringLiteral("Сидорова"), QStringLiteral("P3"), QStringLiteral("20240308"), QStringLiteral("US")),
        study(QStringLiteral("older"), QStringLiteral("Кузнецов"), QStringLiteral("P4"), QStringLiteral("20231201"), QStringLiteral("MR")),
        study(QStringLiteral("undated"), QStringLiteral("Орлов"), QStringLiteral("P5"), QString(), QStringLiteral("XA")),
        study(QStringLiteral("noid"), QStringLiteral("Аноним"), QString(), QStringLiteral("20240215"), QStringLiteral("CT")),
    });
    StudyFilter filter;
    filter.text = text;
    filter.modalities = modalities;
    filter.range = range;
    filter.first = first;
    filter.second = second;
    QStringList accepted;
    for (const StudyTableRow &row : rows) {
        if (filter.accepts(row, today))
            accepted << row.studyUid;
    }
    QCOMPARE(accepted, shown);
}

QTEST_GUILESS_MAIN(StudyBrowserRowsTest)
#include "test_study_browser_rows.moc"
