// The Mini-PACS against real peers: DCMTK's storescu, findscu, movescu and
// echoscu, and storescp as a move destination, each through the service in
// this process and through `norvane-cli serve`.

#include "pacs/DicomFileValue.h"
#include "PacsPeers.h"

#include "db/Database.h"
#include "dicom/CodecRegistration.h"
#include "pacs/MiniPacsService.h"
#include "pacs/PacsClient.h"
#include "seriesgen/SeriesGenerator.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scu.h>

#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;
using velmaris::testing::DicomPeer;
using velmaris::testing::dicomFileValue;
using velmaris::testing::freePort;
using velmaris::testing::writeVariant;

Q_DECLARE_METATYPE(DcmTagKey)

namespace {

enum Server { InProcess = 0, Headless = 1 };
const char *const serverAe[] = {"VELMARIS", "VELMCLI"};
const char *const serverName[] = {"service", "serve"};

QStringList words(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

class MiniPacsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void store_data();
    void store();
    void find_data();
    void find();
    void move_data();
    void move();
    void sameSopInstanceUid();
    void unindexedFileIsPickedUpAgain();
    void silentPeerDoesNotHoldOthersUp();

private:
    QString storage(int server) const { return m_dir.filePath(u"server%1/minipacs_received"_s.arg(server)); }
    QString databasePath(int server) const { return m_dir.filePath(u"server%1/index.sqlite3"_s.arg(server)); }
    // Runs a DCMTK tool against a server to its end; its output, both channels.
    QString dcmtk(const QString &tool, int server, const QStringList &options, const QStringList &files = {},
                  int *exitCode = nullptr);
    int storescu(int server, const QStringList &flags, const QStringList &files);
    bool indexed(int server, const QString &studyUid);

    dicom::CodecRegistration m_codecs;
    QTemporaryDir m_dir;
    std::unique_ptr<DicomPeer> m_storescp;
    db::Database m_database{nullptr};        // the in-process service's archive
    db::Database m_cliDatabase{nullptr};     // read beside the headless server
    std::unique_ptr<pacs::MiniPacsService> m_service;
    QList<pacs::PacsServerConfig> m_serviceNodes;
    QProcess m_cli;
    int m_ports[2] = {0, 0};

    QStringList m_ct;     // IVANOV^PETR, CT, uncompressed
    QStringList m_mr;     // SMITH^JOHN, MR, JPEG-LS
    QString m_ctStudy;
    QString m_mrStudy;
    QString m_mrSeries;
};

void MiniPacsTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A silent peer is given up on after this long, here and in the headless server.
    qputenv("VELMARIS_PACS_TIMEOUT_S", "3");

    using namespace velmaris::gen;
    SeriesSpec ct = velmaris::testing::patientSeries(3, u"IVANOV^PETR"_s, u"PID-A"_s, u"20240115"_s);
    QVERIFY(writeSeries(ct, m_dir.filePath(u"ct"_s), &m_ct));
    m_ctStudy = ct.studyInstanceUid;
    SeriesSpec mr = velmaris::testing::patientSeries(2, u"SMITH^JOHN"_s, u"PID-B"_s, u"20230601"_s, Kind::MR,
                                                     Compression::JpegLs);
    QVERIFY(writeSeries(mr, m_dir.filePath(u"mr"_s), &m_mr));
    m_mrStudy = mr.studyInstanceUid;
    m_mrSeries = mr.seriesInstanceUid;

    m_storescp = std::make_unique<DicomPeer>(DicomPeer::Kind::Storescp, u"MOVEDEST"_s);
    QString error;
    QVERIFY2(m_storescp->start(&error), qPrintable(error));
    m_serviceNodes.append(m_storescp->node());

    for (int server : {InProcess, Headless}) {
        QVERIFY(QDir().mkpath(QFileInfo(databasePath(server)).absolutePath()));
        m_ports[server] = freePort();
    }
    QVERIFY(m_database.open(databasePath(InProcess)));
    m_service = std::make_unique<pacs::MiniPacsService>(&m_database, databasePath(InProcess), storage(InProcess));
    m_service->setConfigSource([this] {
        pacs::PacsConfig config;
        config.servers = m_serviceNodes;
        return config;
    });
    QSignalSpy log(m_service.get(), &pacs::MiniPacsService::logAppended);
    pacs::MiniPacsService::Settings settings;
    settings.aeTitle = QString::fromLatin1(serverAe[InProcess]);
    settings.port = m_ports[InProcess];
    m_service->start(settings);
    QVERIFY(log.wait(10000));
    QCOMPARE(log.first().first().toString().mid(16),
             u"Мини-PACS запущен: AE «VELMARIS», порт %1"_s.arg(m_ports[InProcess]));

    // The headless server reads its saved PACS configuration from a private store.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_CONFIG_HOME"_s, m_dir.filePath(u"config"_s));
    m_cli.setProcessEnvironment(environment);
    m_cli.start(QStringLiteral(NORVANE_CLI),
                {u"serve"_s, u"--db"_s, databasePath(Headless), u"--aet"_s,
                 QString::fromLatin1(serverAe[Headless]), u"--port"_s, QString::number(m_ports[Headless]),
                 u"--node"_s, u"MOVEDEST=127.0.0.1:%1"_s.arg(m_storescp->node().port)});
    QVERIFY(m_cli.waitForStarted(30000));
    m_cli.setReadChannel(QProcess::StandardError);
    QTRY_VERIFY_WITH_TIMEOUT(m_cli.canReadLine() || m_cli.state() != QProcess::Running, 30000);
    QVERIFY(QString::fromUtf8(m_cli.readLine()).contains(u"Мини-PACS запущен: AE «VELMCLI»"_s));
    QVERIFY(m_cliDatabase.open(databasePath(Headless)));
    // It looks move destinations up in its saved configuration at every request, also after its start.
    pacs::PacsServerConfig saved = m_storescp->node();
    saved.aeTitle = u"SAVEDDEST"_s;
    pacs::PacsConfig config;
    config.servers = {saved};
    QSettings store(m_dir.filePath(u"config/Brennick/Norvane.conf"_s), QSettings::IniFormat);
    pacs::savePacsConfig(store, config);
    store.sync();

    for (int server : {InProcess, Headless}) {
        QCOMPARE(storescu(server, {}, m_ct), m_ct.size());
        QCOMPARE(storescu(server, {u"-xt"_s}, m_mr), m_mr.size());
        QTRY_VERIFY_WITH_TIMEOUT(indexed(server, m_ctStudy) && indexed(server, m_mrStudy), 30000);
    }
}

void MiniPacsTest::cleanupTestCase()
{
    if (m_service)
        m_service->stop();
    if (m_cli.state() == QProcess::Running) {
        m_cli.terminate(); // SIGTERM: a clean stop
        QVERIFY(m_cli.waitForFinished(30000));
        QCOMPARE(m_cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_cli.exitCode(), 0);
        QVERIFY(QString::fromUtf8(m_cli.readAllStandardError()).contains(u"Мини-PACS остановлен"_s));
    }
}

QString MiniPacsTest::dcmtk(const QString &tool, int server, const QStringList &options, const QStringList &files,
                            int *exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, options
                            + QStringList{u"-aec"_s, QString::fromLatin1(serverAe[server]),
                                          u"127.0.0.1"_s, QString::number(m_ports[server])}
                            + files);
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromLocal8Bit(process.readAll());
}

int MiniPacsTest::storescu(int server, const QStringList &flags, const QStringList &files)
{
    // -R: only the classes of the files, so that those past DCMTK's first 128 are proposed.
    const QString output = dcmtk(u"storescu"_s, server, words(u"-v -R"_s) + flags, files);
    return int(output.count(u"Received Store Response (Success)"_s));
}

bool MiniPacsTest::indexed(int server, const QString &studyUid)
{
    return server == InProcess ? m_database.studyExists(studyUid) : m_cliDatabase.studyExists(studyUid);
}

void MiniPacsTest::store_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<QStringList>("flags");
    QTest::addColumn<QStringList>("files");

    const QDir dir(m_dir.path());
    const QString pydicom = u"/usr/lib/python3/dist-packages/pydicom/data/test_files/"_s;
    const QString jpeg = dir.filePath(u"jpeg.dcm"_s);
    QVERIFY(writeVariant(pydicom + u"SC_rgb_jpeg_dcmtk.dcm"_s, jpeg,
                         {{DCM_PatientName, u"JPEG^BASELINE"_s}, {DCM_PatientID, u"PID-J"_s}}));
    const QString j2k = dir.filePath(u"j2k.dcm"_s);
    QVERIFY(writeVariant(pydicom + u"MR_small_jp2klossless.dcm"_s, j2k,
                         {{DCM_PatientName, u"JPEG^TWOK"_s}, {DCM_PatientID, u"PID-K"_s}}));
    // Classes past the first 128 of DCMTK's list: the last one and two between.
    QStringList beyond;
    const int count = numberOfDcmAllStorageSOPClassUIDs;
    QVERIFY(count > 130);
    for (int index : {128, (128 + count) / 2, count - 1}) {
        beyond << dir.filePath(u"class%1.dcm"_s.arg(index));
        QVERIFY(writeVariant(m_ct.first(), beyond.last(),
                             {{DCM_SOPClassUID, QString::fromLatin1(dcmAllStorageSOPClassUIDs[index])},
                              {DCM_SOPInstanceUID, u"1.2.826.0.1.3680043.9.7777.2.%1"_s.arg(index)},
                              {DCM_StudyInstanceUID, u"1.2.826.0.1.3680043.9.7777.2"_s},
                              {DCM_SeriesInstanceUID, u"1.2.826.0.1.3680043.9.7777.2.1"_s},
                              {DCM_PatientName, u"BEYOND^CLASSES"_s},
                              {DCM_PatientID, u"PID-X"_s}}));
    }
    // A sender's UIDs that, used as names, would climb out of the storage folder.
    const QString hostile = dir.filePath(u"hostile.dcm"_s);
    QVERIFY(writeVariant(m_ct.first(), hostile,
                         {{DCM_StudyInstanceUID, u"../../.."_s},
                          {DCM_SeriesInstanceUID, u"../../../series"_s},
                          {DCM_SOPInstanceUID, u"../../../../hostile"_s},
                          {DCM_PatientName, u"HOSTILE^UID"_s},
                          {DCM_PatientID, u"PID-H"_s}}));

    QTest::newRow("service: JPEG baseline") << int(InProcess) << QStringList{u"-xy"_s} << QStringList{jpeg};
    QTest::newRow("service: JPEG 2000") << int(InProcess) << QStringList{u"-xv"_s} << QStringList{j2k};
    QTest::newRow("service: classes past 128") << int(InProcess) << QStringList() << beyond;
    // The headless server is the same service; this shows where it stores.
    for (int server : {InProcess, Headless})
        QTest::addRow("%s: hostile UIDs", serverName[server]) << server << QStringList() << QStringList{hostile};
}

void MiniPacsTest::store()
{
    QFETCH(int, server);
    QFETCH(QStringList, flags);
    QFETCH(QStringList, files);

    QCOMPARE(storescu(server, flags, files), files.size());
    const QString folder = QDir::cleanPath(storage(server));
    for (const QString &sent : files) {
        E_TransferSyntax sentXfer = EXS_Unknown;
        const QString sop = dicomFileValue(sent, DCM_SOPInstanceUID, &sentXfer);
        const QString study = dicomFileValue(sent, DCM_StudyInstanceUID);
        // Stored inside the folder, in the syntax it came in.
        QString stored;
        for (QDirIterator it(folder, {u"*.dcm"_s}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            if (dicomFileValue(path, DCM_SOPInstanceUID) == sop)
                stored = path;
        }
        QVERIFY2(!stored.isEmpty(), qPrintable(sop));
        E_TransferSyntax storedXfer = EXS_Unknown;
        QCOMPARE(dicomFileValue(stored, DCM_StudyInstanceUID, &storedXfer), study);
        QCOMPARE(storedXfer, sentXfer);
        // The UIDs taken as they are would have named this.
        const QString naive = QDir::cleanPath(folder + QLatin1Char('/') + study + QLatin1Char('/') + sop + u".dcm"_s);
        if (!naive.startsWith(folder + QLatin1Char('/')))
            QVERIFY2(!QFileInfo::exists(naive), qPrintable(naive));
    }
}

void MiniPacsTest::find_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<DcmTagKey>("answerTag");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("finalStatus");

    const QString success = u"0x0000: Success"_s;
    for (int server : {InProcess, Headless}) {
        const auto row = [&](const char *what, const QString &keys) -> QTestData & {
            return QTest::addRow("%s: %s", serverName[server], what) << server << keys;
        };
        row("study, lower-case pattern",
            QStringLiteral("-S -k QueryRetrieveLevel=STUDY -k PatientName=ivan* -k StudyInstanceUID "
                           "-k NumberOfStudyRelatedInstances"))
            << DCM_NumberOfStudyRelatedInstances << QStringList{QString::number(m_ct.size())} << success;
        row("study, date range and modality",
            QStringLiteral("-S -k QueryRetrieveLevel=STUDY -k StudyDate=20230101-20231231 "
                           "-k ModalitiesInStudy=mr\\PT -k PatientName"))
            << DCM_PatientName << QStringList{u"SMITH^JOHN"_s} << success;
        row("patient", QStringLiteral("-P -k QueryRetrieveLevel=PATIENT -k PatientName=SMITH* "
                                      "-k NumberOfPatientRelatedStudies"))
            << DCM_PatientID << QStringList{u"PID-B"_s} << success;
        row("series of two studies",
            u"-S -k QueryRetrieveLevel=SERIES -k StudyInstanceUID=%1\\%2 -k Modality=m?"_s
                .arg(m_ctStudy, m_mrStudy))
            << DCM_SeriesInstanceUID << QStringList{m_mrSeries} << success;
        row("series, study pattern", u"-S -k QueryRetrieveLevel=SERIES -k StudyInstanceUID=*"_s)
            << DCM_SeriesInstanceUID << QStringList() << success;
        row("image level", u"-S -k QueryRetrieveLevel=IMAGE -k StudyInstanceUID=%1"_s.arg(m_ctStudy))
            << DCM_SOPInstanceUID << QStringList() << u"0xc000"_s;
    }
}

void MiniPacsTest::find()
{
    QFETCH(int, server);
    QFETCH(QString, keys);
    QFETCH(DcmTagKey, answerTag);
    QFETCH(QStringList, answers);
    QFETCH(QString, finalStatus);

    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString output = dcmtk(u"findscu"_s, server,
                                 words(u"-v -d -X -od "_s) + QStringList{out.path()} + words(keys));
    QVERIFY2(output.contains(finalStatus, Qt::CaseInsensitive), qPrintable(output));
    QStringList got;
    for (const QFileInfo &info : QDir(out.path()).entryInfoList({u"rsp*.dcm"_s}, QDir::Files, QDir::Name)) {
        got << dicomFileValue(info.filePath(), answerTag);
        QCOMPARE(dicomFileValue(info.filePath(), DCM_SpecificCharacterSet), u"ISO_IR 192"_s);
    }
    QCOMPARE(got, answers);
}

void MiniPacsTest::move_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("finalStatus");
    QTest::addColumn<int>("arriving");
    for (int server : {InProcess, Headless}) {
        QTest::addRow("%s: configured node", serverName[server])
            << server << u"MOVEDEST"_s << u"0x0000: Success"_s << 3;
        QTest::addRow("%s: unknown AE", serverName[server]) << server << u"NOBODY"_s << u"0xa801"_s << 0;
    }
    QTest::newRow("serve: node of the saved configuration") << int(Headless) << u"SAVEDDEST"_s
                                                           << u"0x0000: Success"_s << 3;
}

void MiniPacsTest::move()
{
    QFETCH(int, server);
    QFETCH(QString, destination);
    QFETCH(QString, finalStatus);
    QFETCH(int, arriving);

    const QDir received(m_storescp->receivedFolder());
    const qsizetype before = received.entryList(QDir::Files).size();
    const QString output = dcmtk(u"movescu"_s, server,
                                 words(u"-v -d -S -aem %1 -k QueryRetrieveLevel=STUDY -k StudyInstanceUID=%2"_s
                                           .arg(destination, m_ctStudy)));
    QVERIFY2(output.contains(finalStatus, Qt::CaseInsensitive), qPrintable(output));
    QCOMPARE(received.entryList(QDir::Files).size() - before, arriving);
}

void MiniPacsTest::sameSopInstanceUid()
{
    const QString sop = u"1.2.826.0.1.3680043.9.7777.3.1"_s;
    const QString first = u"1.2.826.0.1.3680043.9.7777.3"_s;
    const QString other = u"1.2.826.0.1.3680043.9.7777.4"_s;
    const QString original = m_dir.filePath(u"sop-original.dcm"_s);
    const QString again = m_dir.filePath(u"sop-again.dcm"_s);
    const QString intruder = m_dir.filePath(u"sop-intruder.dcm"_s);
    QVERIFY(writeVariant(m_ct.first(), original,
                         {{DCM_SOPInstanceUID, sop}, {DCM_StudyInstanceUID, first},
                          {DCM_SeriesInstanceUID, first + u".1"_s}, {DCM_InstanceNumber, u"1"_s}}));
    QVERIFY(writeVariant(original, again, {{DCM_InstanceNumber, u"7"_s}}));
    QVERIFY(writeVariant(original, intruder,
                         {{DCM_StudyInstanceUID, other}, {DCM_SeriesInstanceUID, other + u".1"_s},
                          {DCM_InstanceNumber, u"9"_s}}));
    const auto storedIn = [&](const QString &study) {
        return QDir(storage(InProcess)).filePath(study + QLatin1Char('/') + sop + u".dcm"_s);
    };

    QSignalSpy changed(m_service.get(), &pacs::MiniPacsService::archiveChanged);
    QCOMPARE(storescu(InProcess, {}, {original}), 1);
    QVERIFY(changed.wait(15000));
    QCOMPARE(dicomFileValue(storedIn(first), DCM_InstanceNumber), u"1"_s);

    // The same study again: the file is replaced, the index keeps one row.
    QCOMPARE(storescu(InProcess, {}, {again}), 1);
    QVERIFY(changed.wait(15000));
    QCOMPARE(dicomFileValue(storedIn(first), DCM_InstanceNumber), u"7"_s);
    const QList<db::SliceRef> rows = m_database.listInstances(first + u".1"_s);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().instance_number, 7);

    // Another study claims the UID: stored apart, logged, the first study untouched.
    QSignalSpy log(m_service.get(), &pacs::MiniPacsService::logAppended);
    QCOMPARE(storescu(InProcess, {}, {intruder}), 1);
    QVERIFY(QTest::qWaitFor([&] {
        return std::any_of(log.begin(), log.end(), [&](const QList<QVariant> &line) {
            return line.first().toString().contains(u"Конфликт SOP Instance UID %1"_s.arg(sop));
        });
    }, 15000));
    QCOMPARE(dicomFileValue(storedIn(other), DCM_InstanceNumber), u"9"_s);
    QCOMPARE(dicomFileValue(storedIn(first), DCM_InstanceNumber), u"7"_s);
    QCOMPARE(m_database.studyOfInstance(sop), first);
    QCOMPARE(m_database.listInstances(first + u".1"_s).first().file_path, storedIn(first));
}

void MiniPacsTest::unindexedFileIsPickedUpAgain()
{
    const QString study = u"1.2.826.0.1.3680043.9.7777.5"_s;
    const QString path = m_dir.filePath(u"locked-out.dcm"_s);
    QVERIFY(writeVariant(m_ct.first(), path,
                         {{DCM_SOPInstanceUID, study + u".1.1"_s}, {DCM_StudyInstanceUID, study},
                          {DCM_SeriesInstanceUID, study + u".1"_s}}));
    {
        // Another writer holds the archive while the object arrives.
        QSqlDatabase locker = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"locker"_s);
        locker.setDatabaseName(databasePath(InProcess));
        QVERIFY(locker.open());
        QVERIFY(QSqlQuery(locker).exec(u"BEGIN IMMEDIATE"_s));
        QSignalSpy log(m_service.get(), &pacs::MiniPacsService::logAppended);
        QCOMPARE(storescu(InProcess, {}, {path}), 1);
        QVERIFY(QTest::qWaitFor([&] {
            return !log.isEmpty() && log.last().first().toString().contains(u"не удалось добавить в архив"_s);
        }, 30000));
        QVERIFY(QSqlQuery(locker).exec(u"ROLLBACK"_s));
        locker.close();
    }
    QSqlDatabase::removeDatabase(u"locker"_s);
    QVERIFY(!m_database.studyExists(study));

    // The next start finds it on disk and indexes it. (On a port of its own:
    // the old one may have been taken meanwhile by any connection on the machine.)
    pacs::MiniPacsService::Settings settings;
    settings.aeTitle = QString::fromLatin1(serverAe[InProcess]);
    settings.port = m_ports[InProcess] = freePort();
    m_service->start(settings);
    QTRY_VERIFY_WITH_TIMEOUT(m_database.studyExists(study), 30000);
}

void MiniPacsTest::silentPeerDoesNotHoldOthersUp()
{
    const pacs::PacsServerConfig node =
        velmaris::testing::loopbackNode(m_ports[InProcess], QString::fromLatin1(serverAe[InProcess]));
    QVERIFY(QTest::qWaitFor([&] { return pacs::echoServer(node, pacs::PacsConfig()); }, 30000));

    // A peer that associates and then says nothing.
    DcmSCU silent;
    silent.setPeerHostName("127.0.0.1");
    silent.setPeerPort(Uint16(m_ports[InProcess]));
    silent.setPeerAETitle(serverAe[InProcess]);
    OFList<OFString> syntaxes;
    syntaxes.push_back(UID_LittleEndianImplicitTransferSyntax);
    silent.addPresentationContext(UID_VerificationSOPClass, syntaxes);
    QVERIFY(silent.initNetwork().good());
    QVERIFY(silent.negotiateAssociation().good());

    // Everyone else waits at most the time-out (3 s here), well within echoscu's own 20 s.
    int code = -1;
    const QString output = dcmtk(u"echoscu"_s, InProcess, words(u"-v -ta 20"_s), {}, &code);
    QVERIFY2(output.contains(u"Received Echo Response (Success)"_s), qPrintable(output));
    QCOMPARE(code, 0);
    silent.abortAssociation();
}

QTEST_MAIN(MiniPacsTest)
#include "test_mini_pacs.moc"
