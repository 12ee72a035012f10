#include "dicom/DicomSummaryReader.h"
#include "dicom/DicomText.h"
#include "dicom/HostileFiles.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmaris::testing;

class DicomTextTest : public QObject
{
    Q_OBJECT
private slots:
    void decodesText_data();
    void decodesText();
    void cp1251MatchesIconv();
    void parsesTimes_data();
    void parsesTimes();
    void displaysPersonNames_data();
    void displaysPersonNames();
    void recognisesPreamble_data();
    void recognisesPreamble();
};

void DicomTextTest::decodesText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("utf8 cyrillic") << QStringLiteral("Иванов^Иван").toUtf8() << QStringLiteral("Иванов^Иван");
    QTest::newRow("trimmed") << QByteArray("  Doe^John \t") << QStringLiteral("Doe^John");
    QTest::newRow("values joined") << QByteArray("A\\B") << QStringLiteral("A\\B");
    QTest::newRow("empty") << QByteArray() << QString();
    // A UTF-8 lead byte without its continuation is not UTF-8: every byte is
    // then read as Windows-1251 (0xD0 is "Р").
    QTest::newRow("cut utf8 sequence") << QByteArray("ab\xD0") << QStringLiteral("abР");
    QTest::newRow("continuation without lead") << QByteArray("\x80x") << QStringLiteral("Ђx");
    QTest::newRow("four-byte utf8") << QStringLiteral("a😀").toUtf8() << QStringLiteral("a😀");
    // Ж in UTF-8 (D0 96) followed by FF: the whole value falls back to 1251.
    QTest::newRow("bad byte after good utf8")
        << (QStringLiteral("Ж").toUtf8() + QByteArray("\xFF")) << QStringLiteral("Р–я");
}

void DicomTextTest::decodesText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(dicom::decodeDicomText(bytes.constData(), static_cast<std::size_t>(bytes.size())), expected);
}

void DicomTextTest::cp1251MatchesIconv()
{
    // glibc's converter is an independent table of every Windows-1251 byte;
    // 0x98 is unassigned there.
    QByteArray bytes;
    for (int b = 0x80; b <= 0xFF; ++b) {
        if (b == 0x98)
            continue;
        bytes.append('<');
        bytes.append(static_cast<char>(b));
        bytes.append('>');
    }
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"), {QStringLiteral("-f"), QStringLiteral("CP1251"),
                                          QStringLiteral("-t"), QStringLiteral("UTF-8")});
    QVERIFY(iconv.waitForStarted());
    iconv.write(bytes);
    iconv.closeWriteChannel();
    QVERIFY(iconv.waitForFinished());
    QCOMPARE(iconv.exitCode(), 0);
    const QString reference = QString::fromUtf8(iconv.readAllStandardOutput());
    QCOMPARE(dicom::decodeDicomText(bytes.constData(), static_cast<std::size_t>(bytes.size())), reference);
}

void DicomTextTest::parsesTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hasValue");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("shown"); // as a person reads it, with seconds

    QTest::newRow("HHMMSS.frac") << "101530.5" << true << 36930.5 << "10:15:30";
    QTest::newRow("HHMM") << "0915" << true << 33300.0 << "09:15:00";
    QTest::newRow("HH:MM") << "10:15" << true << 36900.0 << "10:15:00";
    QTest::newRow("HH:MM:SS.frac") << "10:15:30.25" << true << 36930.25 << "10:15:30";
    QTest::newRow("last second of the day") << "235959.999" << true << 86399.999 << "23:59:59";
    QTest::newRow("past the day") << "240000" << true << 86400.0 << "240000";
    QTest::newRow("single digit") << "1" << false << 0.0 << "1";
    QTest::newRow("hours only") << "07" << true << 25200.0 << "07:00:00";
    QTest::newRow("three characters") << "101" << true << 36000.0 << "10:00:00";
    QTest::newRow("five characters") << "10153" << true << 36900.0 << "10:15:00";
    QTest::newRow("unparsable minutes") << "10xx30" << true << 36030.0 << "10:00:30";
    QTest::newRow("unparsable hours") << "xx1530" << false << 0.0 << "xx1530";
    QTest::newRow("colon, bad minutes") << "10:x" << false << 0.0 << "10:x";
    QTest::newRow("colon, empty seconds") << "10:15:" << false << 0.0 << "10:15:";
    QTest::newRow("colon alone") << ":" << false << 0.0 << ":";
    QTest::newRow("trimmed") << "  101530 " << true << 36930.0 << "10:15:30";
    QTest::newRow("blank") << "   " << false << 0.0 << "";
}

void DicomTextTest::parsesTimes()
{
    QFETCH(QString, text);
    QFETCH(bool, hasValue);
    QFETCH(double, seconds);
    QFETCH(QString, shown);
    const auto value = dicom::parseDicomTime(text);
    QCOMPARE(value.has_value(), hasValue);
    if (hasValue)
        QCOMPARE(*value, seconds);
    QCOMPARE(dicom::displayDicomTime(text), shown);
    // Without seconds the same time is cut after the minutes.
    const QTime time = dicom::parseDicomTimeOfDay(text);
    QCOMPARE(dicom::displayDicomTime(text, false), time.isValid() ? shown.left(5) : shown);
}

void DicomTextTest::displaysPersonNames_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("sameAs"); // another stored form of the same name

    QTest::newRow("family, given, middle") << "Иванов^Иван^Петрович" << "Иванов Иван Петрович"
                                           << "ИВАНОВ^Иван Петрович";
    QTest::newRow("blank inside a component") << "Иванов^Иван Петрович" << "Иванов Иван Петрович"
                                              << "Иванов Иван Петрович";
    QTest::newRow("empty components") << "Doe^^^Dr" << "Doe Dr" << "doe^dr";
    QTest::newRow("ideographic group after") << "Yamada^Tarou=山田^太郎" << "Yamada Tarou" << "Yamada^Tarou";
    QTest::newRow("only a later group") << "=山田^太郎" << "山田 太郎" << "山田^太郎";
    QTest::newRow("no carets") << "Аноним" << "Аноним" << "аноним";
    QTest::newRow("empty") << "" << "" << "^";
}

void DicomTextTest::displaysPersonNames()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, sameAs);
    QCOMPARE(dicom::displayPersonName(stored), shown);
    QCOMPARE(dicom::normalizedPersonName(sameAs), dicom::normalizedPersonName(stored));
    QVERIFY(dicom::normalizedPersonName(stored) != dicom::normalizedPersonName(QStringLiteral("Другой^") + stored));
}

void DicomTextTest::recognisesPreamble_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("isDicom");

    QByteArray good(128, '\0');
    good.append("DICM");
    QTest::newRow("132 bytes with DICM") << good << true;
    QTest::newRow("131 bytes") << good.left(131) << false;
    QTest::newRow("DICX") << good.left(131) + 'X' << false;
    QByteArray shifted(127, '\0');
    shifted.append("DICM");
    shifted.append('\0');
    QTest::newRow("DICM one byte early") << shifted << false;
}

void DicomTextTest::recognisesPreamble()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, isDicom);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.dcm"));
    QVERIFY(writeBytes(path, bytes));
    QCOMPARE(dicom::isDicomFile(path), isDicom);
    QVERIFY(!dicom::isDicomFile(dir.filePath(QStringLiteral("missing.dcm"))));
    QVERIFY(!dicom::isDicomFile(dir.path()));
}

QTEST_GUILESS_MAIN(DicomTextTest)
#include "test_dicom_text.moc"
