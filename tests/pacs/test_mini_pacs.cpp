// The Mini-PACS against real peers: DCMTK's storescu, findscu, movescu and
// echoscu, storescp as a move destination and Orthanc, each through the
// service in this process and through `norvane-cli serve`.

#include "pacs/DicomFileValue.h"
#include "PacsPeers.h"

#include "db/Database.h"
#include "dicom/CodecRegistration.h"
#include "pacs/MiniPacsService.h"
#include "pacs/PacsClient.h"
#include "seriesgen/SeriesGenerator.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/scu.h>

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using velmaris::testing::DicomPeer;
using velmaris::testing::freePort;

namespace {

constexpr char pydicomFiles[] = "/usr/lib/python3/dist-packages/pydicom/data/test_files/";

enum Server { InProcess = 0, Headless = 1 };
const char *const serverAe[] = {"VELMARIS", "VELMCLI"};

QString fileValue(const QString &path, const DcmTagKey &tag, E_TransferSyntax *xfer = nullptr)
{
    return velmaris::testing::dicomFileValue(path, tag, xfer);
}

// A copy of `source` with other values for some attributes.
bool writeVariant(const QString &source, const QString &target, const QList<QPair<DcmTagKey, QString>> &values)
{
    DcmFileFormat file;
    if (file.loadFile(OFFilename(QFile::encodeName(source).constData())).bad())
        return false;
    for (const auto &[tag, value] : values)
        file.getDataset()->putAndInsertString(tag, value.toUtf8().constData());
    return file.saveFile(OFFilename(QFile::encodeName(target).constData()), EXS_Unknown).good();
}

// Runs a DCMTK tool to its end; its output, both channels.
QString runTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromLocal8Bit(process.readAll());
}

QStringList dicomFilesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.dcm")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
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
    void orthanc_data();
    void orthanc();
    void sameSopInstanceUid();
    void unindexedFileIsPickedUpAgain();
    void silentPeerDoesNotHoldOthersUp();

private:
    QString storage(int server) const { return m_dir.filePath(QStringLiteral("server%1/minipacs_received").arg(server)); }
    QString databasePath(int server) const { return m_dir.filePath(QStringLiteral("server%1/index.sqlite3").arg(server)); }
    int storescu(int server, const QStringList &flags, const QStringList &files);
    bool indexed(int server, const QString &studyUid);
    QString cliConfigFile() const { return m_dir.filePath(QStringLiteral("config/Brennick/Norvane.conf")); }
    QByteArray orthancRequest(int httpPort, const QString &path, const QByteArray &body);

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

    velmaris::gen::SeriesSpec ct;
    ct.slices = 3;
    ct.patientName = QStringLiteral("IVANOV^PETR");
    ct.patientId = QStringLiteral("PID-A");
    ct.studyDate = QStringLiteral("20240115");
    QVERIFY(velmaris::gen::writeSeries(ct, m_dir.filePath(QStringLiteral("ct")), &m_ct));
    m_ctStudy = ct.studyInstanceUid;
    velmaris::gen::SeriesSpec mr;
    mr.kind = velmaris::gen::Kind::MR;
    mr.compression = velmaris::gen::Compression::JpegLs;
    mr.slices = 2;
    mr.patientName = QStringLiteral("SMITH^JOHN");
    mr.patientId = QStringLiteral("PID-B");
    mr.studyDate = QStringLiteral("20230601");
    QVERIFY(velmaris::gen::writeSeries(mr, m_dir.filePath(QStringLiteral("mr")), &m_mr));
    m_mrStudy = mr.studyInstanceUid;
    m_mrSeries = mr.seriesInstanceUid;

    m_storescp = std::make_unique<DicomPeer>(DicomPeer::Kind::Storescp, QStringLiteral("MOVEDEST"));
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
             QStringLiteral("Мини-PACS запущен: AE «VELMARIS», порт %1").arg(m_ports[InProcess]));

    // The headless server reads its saved PACS configuration from a private store.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    m_cli.setProcessEnvironment(environment);
    m_cli.setProcessChannelMode(QProcess::SeparateChannels);
    const pacs::PacsServerConfig dest = m_storescp->node();
    m_cli.start(QStringLiteral(NORVANE_CLI),
                {QStringLiteral("serve"), QStringLiteral("--db"), databasePath(Headless), QStringLiteral("--aet"),
                 QString::fromLatin1(serverAe[Headless]), QStringLiteral("--port"), QString::number(m_ports[Headless]),
                 QStringLiteral("--node"), QStringLiteral("MOVEDEST=127.0.0.1:%1").arg(dest.port)});
    QVERIFY(m_cli.waitForStarted(30000));
    m_cli.setReadChannel(QProcess::StandardError);
    QTRY_VERIFY_WITH_TIMEOUT(m_cli.canReadLine() || m_cli.state() != QProcess::Running, 30000);
    QVERIFY(QString::fromUtf8(m_cli.readLine()).contains(QStringLiteral("Мини-PACS запущен: AE «VELMCLI»")));
    QVERIFY(m_cliDatabase.open(databasePath(Headless)));

    for (int server : {InProcess, Headless}) {
        QCOMPARE(storescu(server, {}, m_ct), m_ct.size());
        QCOMPARE(storescu(server, {QStringLiteral("-xt")}, m_mr), m_mr.size());
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
        QVERIFY(QString::fromUtf8(m_cli.readAllStandardError()).contains(QStringLiteral("Мини-PACS остановлен")));
    }
}

int MiniPacsTest::storescu(int server, const QStringList &flags, const QStringList &files)
{
    // -R: only the classes of the files, so that those past DCMTK's first 128 are proposed.
    const QString output = runTool(QStringLiteral("storescu"),
                                   QStringList{QStringLiteral("-v"), QStringLiteral("-R"), QStringLiteral("-aec"),
                                               QString::fromLatin1(serverAe[server])}
                                       + flags + QStringList{QStringLiteral("127.0.0.1"), QString::number(m_ports[server])}
                                       + files);
    return int(output.count(QStringLiteral("Received Store Response (Success)")));
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
    const QString jpeg = dir.filePath(QStringLiteral("jpeg.dcm"));
    QVERIFY(writeVariant(QString::fromLatin1(pydicomFiles) + QStringLiteral("SC_rgb_jpeg_dcmtk.dcm"), jpeg,
                         {{DCM_PatientName, QStringLiteral("JPEG^BASELINE")}, {DCM_PatientID, QStringLiteral("PID-J")}}));
    const QString j2k = dir.filePath(QStringLiteral("j2k.dcm"));
    QVERIFY(writeVariant(QString::fromLatin1(pydicomFiles) + QStringLiteral("MR_small_jp2klossless.dcm"), j2k,
                         {{DCM_PatientName, QStringLiteral("JPEG^TWOK")}, {DCM_PatientID, QStringLiteral("PID-K")}}));
    // Classes past the first 128 of DCMTK's list: the last one and two between.
    QStringList beyond;
    const int count = numberOfDcmAllStorageSOPClassUIDs;
    QVERIFY(count > 130);
    for (int index : {128, (128 + count) / 2, count - 1}) {
        const QString path = dir.filePath(QStringLiteral("class%1.dcm").arg(index));
        const QString uid = QStringLiteral("1.2.826.0.1.3680043.9.7777.2.%1").arg(index);
        QVERIFY(writeVariant(m_ct.first(), path,
                             {{DCM_SOPClassUID, QString::fromLatin1(dcmAllStorageSOPClassUIDs[index])},
                              {DCM_SOPInstanceUID, uid},
                              {DCM_StudyInstanceUID, QStringLiteral("1.2.826.0.1.3680043.9.7777.2")},
                              {DCM_SeriesInstanceUID, QStringLiteral("1.2.826.0.1.3680043.9.7777.2.1")},
                              {DCM_PatientName, QStringLiteral("BEYOND^CLASSES")},
                              {DCM_PatientID, QStringLiteral("PID-X")}}));
        beyond << path;
    }
    // A sender's UIDs that, used as names, would climb out of the storage folder.
    const QString hostile = dir.filePath(QStringLiteral("hostile.dcm"));
    QVERIFY(writeVariant(m_ct.first(), hostile,
                         {{DCM_StudyInstanceUID, QStringLiteral("../../..")},
                          {DCM_SeriesInstanceUID, QStringLiteral("../../../series")},
                          {DCM_SOPInstanceUID, QStringLiteral("../../../../hostile")},
                          {DCM_PatientName, QStringLiteral("HOSTILE^UID")},
                          {DCM_PatientID, QStringLiteral("PID-H")}}));

    for (int server : {InProcess, Headless}) {
        const char *name = server == InProcess ? "service" : "serve";
        QTest::addRow("%s: JPEG baseline", name) << server << QStringList{QStringLiteral("-xy")} << QStringList{jpeg};
        QTest::addRow("%s: JPEG 2000", name) << server << QStringList{QStringLiteral("-xv")} << QStringList{j2k};
        QTest::addRow("%s: classes past 128", name) << server << QStringList() << beyond;
        QTest::addRow("%s: hostile UIDs", name) << server << QStringList() << QStringList{hostile};
    }
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
        const QString sop = fileValue(sent, DCM_SOPInstanceUID, &sentXfer);
        const QString study = fileValue(sent, DCM_StudyInstanceUID);
        // Stored inside the folder, in the syntax it came in.
        QString stored;
        for (const QString &path : dicomFilesBelow(folder)) {
            if (fileValue(path, DCM_SOPInstanceUID) == sop)
                stored = path;
        }
        QVERIFY2(!stored.isEmpty(), qPrintable(sop));
        E_TransferSyntax storedXfer = EXS_Unknown;
        QCOMPARE(fileValue(stored, DCM_StudyInstanceUID, &storedXfer), study);
        QCOMPARE(storedXfer, sentXfer);
        // The UIDs taken as they are would have named this.
        const QString naive = QDir::cleanPath(folder + QLatin1Char('/') + study + QLatin1Char('/') + sop + QStringLiteral(".dcm"));
        if (!naive.startsWith(folder + QLatin1Char('/')))
            QVERIFY2(!QFileInfo::exists(naive), qPrintable(naive));
    }
}

void MiniPacsTest::find_data()
{
    QTest::addColumn<int>("server");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("answerTag");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("finalStatus");

    const QString success = QStringLiteral("0x0000: Success");
    for (int server : {InProcess, Headless}) {
        const char *name = server == InProcess ? "service" : "serve";
        QTest::addRow("%s: study, lower-case pattern", name)
            << server
            << QStringList{QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=STUDY"),
                           QStringLiteral("-k"), QStringLiteral("PatientName=ivan*"), QStringLiteral("-k"),
                           QStringLiteral("StudyInstanceUID"), QStringLiteral("-k"), QStringLiteral("NumberOfStudyRelatedInstances")}
            << QStringLiteral("NumberOfStudyRelatedInstances") << QStringList{QString::number(m_ct.size())} << success;
        QTest::addRow("%s: study, date range and modality", name)
            << server
            << QStringList{QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=STUDY"),
                           QStringLiteral("-k"), QStringLiteral("StudyDate=20230101-20231231"), QStringLiteral("-k"),
                           QStringLiteral("ModalitiesInStudy=mr\\PT"), QStringLiteral("-k"), QStringLiteral("PatientName")}
            << QStringLiteral("PatientName") << QStringList{QStringLiteral("SMITH^JOHN")} << success;
        QTest::addRow("%s: patient", name)
            << server
            << QStringList{QStringLiteral("-P"), QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=PATIENT"),
                           QStringLiteral("-k"), QStringLiteral("PatientName=SMITH*"), QStringLiteral("-k"),
                           QStringLiteral("NumberOfPatientRelatedStudies")}
            << QStringLiteral("PatientID") << QStringList{QStringLiteral("PID-B")} << success;
        QTest::addRow("%s: series of two studies", name)
            << server
            << QStringList{QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=SERIES"),
                           QStringLiteral("-k"), QStringLiteral("StudyInstanceUID=%1\\%2").arg(m_ctStudy, m_mrStudy),
                           QStringLiteral("-k"), QStringLiteral("Modality=m?")}
            << QStringLiteral("SeriesInstanceUID") << QStringList{m_mrSeries} << success;
        QTest::addRow("%s: series, study pattern", name)
            << server
            << QStringList{QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=SERIES"),
                           QStringLiteral("-k"), QStringLiteral("StudyInstanceUID=*")}
            << QStringLiteral("SeriesInstanceUID") << QStringList() << success;
        QTest::addRow("%s: image level", name)
            << server
            << QStringList{QStringLiteral("-S"), QStringLiteral("-k"), QStringLiteral("QueryRetrieveLevel=IMAGE"),
                           QStringLiteral("-k"), QStringLiteral("StudyInstanceUID=%1").arg(m_ctStudy)}
            << QStringLiteral("SOPInstanceUID") << QStringList() << QStringLiteral("0xc000");
    }
}

void MiniPacsTest::find()
{
    QFETCH(int, server);
    QFETCH(QStringList, keys);
    QFETCH(QString, answerTag);
    QFETCH(QStringList, answers);
    QFETCH(QString, finalStatus);

    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString output = runTool(QStringLiteral("findscu"),
                                   QStringList{QStringLiteral("-v"), QStringLiteral("-d"), QStringLiteral("-X"),
                                               QStringLiteral("-od"), out.path(), QStringLiteral("-aec"),
                                               QString::fromLatin1(serverAe[server])}
                                       + keys + QStringList{QStringLiteral("127.0.0.1"), QString::number(m_ports[server])});
    QVERIFY2(output.contains(finalStatus, Qt::CaseInsensitive), qPrintable(output));
    const DcmDictEntry *entry = dcmDataDict.rdlock().findEntry(answerTag.toLatin1().constData());
    const DcmTagKey tag = entry->getKey();
    dcmDataDict.rdunlock();
    QStringList got;
    for (const QFileInfo &info : QDir(out.path()).entryInfoList({QStringLiteral("rsp*.dcm")}, QDir::Files, QDir::Name)) {
        got << fileValue(info.filePath(), tag);
        QCOMPARE(fileValue(info.filePath(), DCM_SpecificCharacterSet), QStringLiteral("ISO_IR 192"));
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
        const char *name = server == InProcess ? "service" : "serve";
        QTest::addRow("%s: configured node", name) << server << QStringLiteral("MOVEDEST")
                                                   << QStringLiteral("0x0000: Success") << 3;
        QTest::addRow("%s: unknown AE", name) << server << QStringLiteral("NOBODY") << QStringLiteral("0xa801") << 0;
    }
}

void MiniPacsTest::move()
{
    QFETCH(int, server);
    QFETCH(QString, destination);
    QFETCH(QString, finalStatus);
    QFETCH(int, arriving);

    const QDir received(m_storescp->receivedFolder());
    const qsizetype before = received.entryList(QDir::Files).size();
    const QString output = runTool(
        QStringLiteral("movescu"),
        {QStringLiteral("-v"), QStringLiteral("-d"), QStringLiteral("-S"), QStringLiteral("-aec"),
         QString::fromLatin1(serverAe[server]), QStringLiteral("-aem"), destination, QStringLiteral("-k"),
         QStringLiteral("QueryRetrieveLevel=STUDY"), QStringLiteral("-k"),
         QStringLiteral("StudyInstanceUID=%1").arg(m_ctStudy), QStringLiteral("127.0.0.1"),
         QString::number(m_ports[server])});
    QVERIFY2(output.contains(finalStatus, Qt::CaseInsensitive), qPrintable(output));
    QCOMPARE(received.entryList(QDir::Files).size() - before, arriving);
}

QByteArray MiniPacsTest::orthancRequest(int httpPort, const QString &path, const QByteArray &body)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(httpPort).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    QNetworkReply *reply = manager.post(request, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(120000);
    const QByteArray answer = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    if (answer.isEmpty())
        qWarning() << path << reply->errorString() << reply->readAll();
    reply->deleteLater();
    return answer;
}

void MiniPacsTest::orthanc_data()
{
    QTest::addColumn<int>("server");
    QTest::newRow("service") << int(InProcess);
    QTest::newRow("serve") << int(Headless);
}

void MiniPacsTest::orthanc()
{
    QFETCH(int, server);
    DicomPeer orthanc(DicomPeer::Kind::Orthanc, QStringLiteral("ORTHANC"), QString::fromLatin1(serverAe[server]),
                      m_ports[server]);
    QString error;
    QVERIFY2(orthanc.start(&error), qPrintable(error));
    // Our side learns the node from the PACS configuration.
    if (server == InProcess) {
        m_serviceNodes.append(orthanc.node());
    } else {
        QSettings settings(cliConfigFile(), QSettings::IniFormat);
        pacs::PacsConfig config;
        config.servers = {orthanc.node()};
        pacs::savePacsConfig(settings, config);
    }

    // Orthanc stores a study of its own to us.
    velmaris::gen::SeriesSpec spec;
    spec.slices = 2;
    spec.patientName = QStringLiteral("FROM^ORTHANC");
    QStringList files;
    QVERIFY(velmaris::gen::writeSeries(spec, m_dir.filePath(QStringLiteral("orthanc%1").arg(server)), &files));
    QJsonArray instances;
    for (const QString &path : files) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject added = QJsonDocument::fromJson(orthancRequest(orthanc.httpPort(), QStringLiteral("/instances"), file.readAll())).object();
        instances.append(added.value(QStringLiteral("ID")));
    }
    QVERIFY(!orthancRequest(orthanc.httpPort(), QStringLiteral("/modalities/dest/store"),
                            QJsonDocument(instances).toJson()).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(indexed(server, spec.studyInstanceUid), 30000);

    // And moves one of ours to itself.
    const QJsonObject move{{QStringLiteral("Level"), QStringLiteral("Study")},
                           {QStringLiteral("Resources"), QJsonArray{QJsonObject{{QStringLiteral("StudyInstanceUID"), m_mrStudy}}}},
                           {QStringLiteral("TargetAet"), QStringLiteral("ORTHANC")}};
    QVERIFY(!orthancRequest(orthanc.httpPort(), QStringLiteral("/modalities/dest/move"), QJsonDocument(move).toJson()).isEmpty());
    pacs::StudyQuery query;
    query.patientId = QStringLiteral("PID-B");
    const QList<pacs::StudyResult> there = pacs::findStudies(orthanc.node(), pacs::PacsConfig(), query, &error);
    QCOMPARE(there.size(), 1);
    QCOMPARE(there.first().studyInstanceUid, m_mrStudy);
    QCOMPARE(there.first().numberOfInstances, QString::number(m_mr.size()));
}

void MiniPacsTest::sameSopInstanceUid()
{
    const QString sop = QStringLiteral("1.2.826.0.1.3680043.9.7777.3.1");
    const QString first = QStringLiteral("1.2.826.0.1.3680043.9.7777.3");
    const QString other = QStringLiteral("1.2.826.0.1.3680043.9.7777.4");
    const QDir dir(m_dir.path());
    const QString original = dir.filePath(QStringLiteral("sop-original.dcm"));
    const QString again = dir.filePath(QStringLiteral("sop-again.dcm"));
    const QString intruder = dir.filePath(QStringLiteral("sop-intruder.dcm"));
    QVERIFY(writeVariant(m_ct.first(), original,
                         {{DCM_SOPInstanceUID, sop}, {DCM_StudyInstanceUID, first},
                          {DCM_SeriesInstanceUID, first + QStringLiteral(".1")}, {DCM_InstanceNumber, QStringLiteral("1")}}));
    QVERIFY(writeVariant(original, again, {{DCM_InstanceNumber, QStringLiteral("7")}}));
    QVERIFY(writeVariant(original, intruder,
                         {{DCM_StudyInstanceUID, other}, {DCM_SeriesInstanceUID, other + QStringLiteral(".1")},
                          {DCM_InstanceNumber, QStringLiteral("9")}}));

    QSignalSpy changed(m_service.get(), &pacs::MiniPacsService::archiveChanged);
    QCOMPARE(storescu(InProcess, {}, {original}), 1);
    QVERIFY(changed.wait(15000));
    const QString storedFirst = QDir(storage(InProcess)).filePath(first + QLatin1Char('/') + sop + QStringLiteral(".dcm"));
    QCOMPARE(fileValue(storedFirst, DCM_InstanceNumber), QStringLiteral("1"));

    // The same study again: the file is replaced, the index keeps one row.
    QCOMPARE(storescu(InProcess, {}, {again}), 1);
    QVERIFY(changed.wait(15000));
    QCOMPARE(fileValue(storedFirst, DCM_InstanceNumber), QStringLiteral("7"));
    const QList<db::SliceRef> rows = m_database.listInstances(first + QStringLiteral(".1"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().instance_number, 7);

    // Another study claims the UID: stored apart, logged, the first study untouched.
    QSignalSpy log(m_service.get(), &pacs::MiniPacsService::logAppended);
    QCOMPARE(storescu(InProcess, {}, {intruder}), 1);
    QVERIFY(QTest::qWaitFor([&] {
        for (const QList<QVariant> &line : log) {
            if (line.first().toString().contains(QStringLiteral("Конфликт SOP Instance UID %1").arg(sop)))
                return true;
        }
        return false;
    }, 15000));
    QCOMPARE(fileValue(QDir(storage(InProcess)).filePath(other + QLatin1Char('/') + sop + QStringLiteral(".dcm")),
                       DCM_InstanceNumber),
             QStringLiteral("9"));
    QCOMPARE(fileValue(storedFirst, DCM_InstanceNumber), QStringLiteral("7"));
    QCOMPARE(m_database.studyOfInstance(sop), first);
    QCOMPARE(m_database.listInstances(first + QStringLiteral(".1")).first().file_path, storedFirst);
}

void MiniPacsTest::unindexedFileIsPickedUpAgain()
{
    const QString study = QStringLiteral("1.2.826.0.1.3680043.9.7777.5");
    const QString path = m_dir.filePath(QStringLiteral("locked-out.dcm"));
    QVERIFY(writeVariant(m_ct.first(), path,
                         {{DCM_SOPInstanceUID, study + QStringLiteral(".1.1")}, {DCM_StudyInstanceUID, study},
                          {DCM_SeriesInstanceUID, study + QStringLiteral(".1")}}));
    {
        // Another writer holds the archive while the object arrives.
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        locker.setDatabaseName(databasePath(InProcess));
        QVERIFY(locker.open());
        QVERIFY(QSqlQuery(locker).exec(QStringLiteral("BEGIN IMMEDIATE")));
        QSignalSpy log(m_service.get(), &pacs::MiniPacsService::logAppended);
        QCOMPARE(storescu(InProcess, {}, {path}), 1);
        QVERIFY(QTest::qWaitFor([&] {
            return !log.isEmpty() && log.last().first().toString().contains(QStringLiteral("не удалось добавить в архив"));
        }, 30000));
        QVERIFY(QSqlQuery(locker).exec(QStringLiteral("ROLLBACK")));
        locker.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
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
    pacs::PacsServerConfig node;
    node.host = QStringLiteral("127.0.0.1");
    node.port = m_ports[InProcess];
    node.aeTitle = QString::fromLatin1(serverAe[InProcess]);
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
    const QString output = runTool(QStringLiteral("echoscu"),
                                   {QStringLiteral("-v"), QStringLiteral("-ta"), QStringLiteral("20"),
                                    QStringLiteral("-aec"), QString::fromLatin1(serverAe[InProcess]),
                                    QStringLiteral("127.0.0.1"), QString::number(m_ports[InProcess])},
                                   &code);
    QVERIFY2(output.contains(QStringLiteral("Received Echo Response (Success)")), qPrintable(output));
    QCOMPARE(code, 0);
    silent.abortAssociation();
}

QTEST_MAIN(MiniPacsTest)
#include "test_mini_pacs.moc"
