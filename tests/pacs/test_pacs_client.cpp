// The client operations and the storage listener against real peers started
// here: Orthanc, DCMTK's dcmqrscp, and storescp as move destination and as a
// node without C-GET.

#include "pacs/DicomFileValue.h"
#include "PacsPeers.h"

#include "dicom/CodecRegistration.h"
#include "pacs/PacsClient.h"
#include "pacs/StorageListener.h"
#include "pacs/UniqueFile.h"
#include "seriesgen/SeriesGenerator.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <set>

using namespace Qt::StringLiterals;
using velmaris::testing::DicomPeer;
using velmaris::testing::dicomFileValue;
using velmaris::testing::loopbackNode;
using velmaris::testing::patientSeries;

Q_DECLARE_METATYPE(pacs::StudyQuery)
Q_DECLARE_METATYPE(pacs::PacsServerConfig)

namespace {

enum Peer { Orthanc, Dcmqrscp, Storescp };

QStringList filesIn(const QString &folder)
{
    QStringList files;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files))
        files << info.absoluteFilePath();
    return files;
}

// A path below a plain file: a folder there can never be made, whoever runs the test.
QString unmakeableFolder(const QString &dir)
{
    QFile blocker(QDir(dir).filePath(u"blocker"_s));
    return blocker.open(QIODevice::WriteOnly) ? blocker.fileName() + u"/x"_s : QString();
}

// A storage listener on its own thread, as the coordinator runs it; what it
// announces is collected on the test's thread.
class RunningListener : public QObject
{
public:
    RunningListener(quint16 port, const QString &folder)
        : listener(new pacs::StorageListener(port, u"NORVANE"_s, folder))
    {
        listener->moveToThread(&thread);
        connect(&thread, &QThread::started, listener, &pacs::StorageListener::run);
        connect(listener, &pacs::StorageListener::fileReceived, this, [this](const QString &p) { files << p; });
        connect(listener, &pacs::StorageListener::errorOccurred, this, [this](const QString &m) { errors << m; });
        connect(listener, &pacs::StorageListener::listening, this, [this] { listening = true; });
        connect(listener, &pacs::StorageListener::stopped, this, [this] { stopped = true; });
        connect(listener, &pacs::StorageListener::stopped, &thread, &QThread::quit, Qt::DirectConnection);
        connect(&thread, &QThread::finished, listener, &QObject::deleteLater);
        thread.start();
    }
    ~RunningListener() override
    {
        listener->stop();
        thread.wait();
    }

    QThread thread;
    pacs::StorageListener *listener;
    QStringList files;
    QStringList errors;
    bool listening = false;
    bool stopped = false;
};

} // namespace

class PacsClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void echo_data();
    void echo();
    void find_data();
    void find();
    void get_data();
    void get();
    void move();
    void sendKeepsCompressedSyntaxes();
    void uniqueFileNames();
    void cliVerbs();
    void listenerReceives_data();
    void listenerReceives();
    void listenerPortTaken();

private:
    DicomPeer &peer(int which) { return *m_peers.at(which); }

    dicom::CodecRegistration m_codecs;
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<DicomPeer>> m_peers;
    QTcpServer m_silentNode; // listens and never answers
    // Study A: CT, uncompressed, Cyrillic name; B: MR, JPEG-LS; C: JPEG 2000.
    QStringList m_files[3];
    QString m_studyUid[3];
    const QString m_nameA = u"Иванов^Пётр"_s;
    QStringList m_enhanced; // a storage class outside the ten the listener takes
};

void PacsClientTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    using namespace velmaris::gen;
    SeriesSpec a = patientSeries(3, m_nameA, u"PID-A"_s, u"20240115"_s);
    QVERIFY(writeSeries(a, m_dir.filePath(u"a"_s), &m_files[0]));
    SeriesSpec b = patientSeries(2, u"Smith^John"_s, u"PID-B"_s, u"20230601"_s, Kind::MR, Compression::JpegLs);
    QVERIFY(writeSeries(b, m_dir.filePath(u"b"_s), &m_files[1]));
    m_studyUid[0] = a.studyInstanceUid;
    m_studyUid[1] = b.studyInstanceUid;
    SeriesSpec enhanced;
    enhanced.kind = Kind::EnhancedMultiFrame;
    enhanced.slices = 2;
    QVERIFY(writeSeries(enhanced, m_dir.filePath(u"enhanced"_s), &m_enhanced));

    // A third-party JPEG 2000 file, given a patient of its own.
    const QString c = m_dir.filePath(u"c.dcm"_s);
    QVERIFY(velmaris::testing::writeVariant(
        u"/usr/lib/python3/dist-packages/pydicom/data/test_files/MR_small_jp2klossless.dcm"_s, c,
        {{DCM_PatientName, u"Jp2k^Test"_s}, {DCM_PatientID, u"PID-C"_s}, {DCM_StudyDate, u"20220301"_s}}));
    m_files[2] = QStringList{c};
    m_studyUid[2] = dicomFileValue(c, DCM_StudyInstanceUID);
    QVERIFY(!m_studyUid[2].isEmpty());

    auto storescp = std::make_unique<DicomPeer>(DicomPeer::Kind::Storescp, u"MOVEDEST"_s);
    QString error;
    QVERIFY2(storescp->start(&error), qPrintable(error));
    const int destinationPort = storescp->node().port;
    m_peers.push_back(std::make_unique<DicomPeer>(DicomPeer::Kind::Orthanc, u"ORTHANC"_s,
                                                  u"MOVEDEST"_s, destinationPort));
    m_peers.push_back(std::make_unique<DicomPeer>(DicomPeer::Kind::Dcmqrscp, u"TINYPACS"_s,
                                                  u"MOVEDEST"_s, destinationPort));
    for (auto &started : m_peers)
        QVERIFY2(started->start(&error), qPrintable(error));
    m_peers.push_back(std::move(storescp));

    // Every file of the archive must arrive, the compressed ones included:
    // Orthanc takes them as they are, dcmqrscp only decoded.
    for (int which : {Orthanc, Dcmqrscp}) {
        QVERIFY2(pacs::storeFiles(peer(which).node(), pacs::PacsConfig(), m_files[0] + m_files[1] + m_files[2],
                                  &error),
                 qPrintable(error));
    }
    QVERIFY(m_silentNode.listen(QHostAddress::LocalHost, 0));
}

void PacsClientTest::echo_data()
{
    QTest::addColumn<pacs::PacsServerConfig>("node");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("errorContains");
    QTest::newRow("dcmqrscp") << peer(Dcmqrscp).node() << true << QString();
    QTest::newRow("wrong called AE") << loopbackNode(peer(Orthanc).node().port, u"NOBODY"_s) << false << u"Rejected"_s;
    QTest::newRow("closed port") << loopbackNode(velmaris::testing::freePort(), u"ANY"_s) << false << QString();
    QTest::newRow("port 0") << loopbackNode(0, u"ANY"_s) << false << u"Неверный порт 0"_s;
    QTest::newRow("port 70000") << loopbackNode(70000, u"ANY"_s) << false << u"Неверный порт 70000"_s;
    QTest::newRow("silent node") << loopbackNode(m_silentNode.serverPort(), u"ANY"_s) << false
                                 << u"не ответил за 2 с"_s;
}

void PacsClientTest::echo()
{
    QFETCH(pacs::PacsServerConfig, node);
    QFETCH(bool, ok);
    QFETCH(QString, errorContains);
    // A silent node is given up on after this; the usual half minute would
    // only slow the test.
    qputenv("VELMARIS_PACS_TIMEOUT_S", "2");
    QString error;
    const bool answered = pacs::echoServer(node, pacs::PacsConfig(), &error);
    qunsetenv("VELMARIS_PACS_TIMEOUT_S");
    QCOMPARE(answered, ok);
    QCOMPARE(error.isEmpty(), ok);
    QVERIFY2(error.contains(errorContains), qPrintable(error));
}

void PacsClientTest::find_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<pacs::StudyQuery>("query");
    QTest::addColumn<QList<int>>("studies");
    for (int which : {Orthanc, Dcmqrscp}) {
        const char *name = which == Orthanc ? "orthanc" : "dcmqrscp";
        const auto row = [&](const char *what) -> QTestData & { return QTest::addRow("%s: %s", name, what) << which; };
        row("everything") << pacs::StudyQuery{} << QList<int>{0, 1, 2};
        row("Cyrillic name with wildcard") << pacs::StudyQuery{u"Иванов*"_s, {}, {}, {}, {}} << QList<int>{0};
        row("patient ID") << pacs::StudyQuery{{}, u"PID-B"_s, {}, {}, {}} << QList<int>{1};
        row("date range") << pacs::StudyQuery{{}, {}, {}, u"20230101"_s, u"20231231"_s} << QList<int>{1};
        row("open end") << pacs::StudyQuery{{}, {}, {}, u"20240101"_s, {}} << QList<int>{0};
        row("open start") << pacs::StudyQuery{{}, {}, {}, {}, u"20221231"_s} << QList<int>{2};
        // dcmqrscp does not match on Modalities in Study.
        if (which == Orthanc)
            row("modalities") << pacs::StudyQuery{{}, {}, u"MR\\PT"_s, {}, {}} << QList<int>{1, 2};
    }
}

void PacsClientTest::find()
{
    QFETCH(int, which);
    QFETCH(pacs::StudyQuery, query);
    QFETCH(QList<int>, studies);
    QString error;
    const QList<pacs::StudyResult> results = pacs::findStudies(peer(which).node(), pacs::PacsConfig(), query, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList found, expected;
    for (const pacs::StudyResult &result : results) {
        found << result.studyInstanceUid;
        if (result.studyInstanceUid == m_studyUid[0]) {
            QCOMPARE(result.patientName, m_nameA);
            QCOMPARE(result.patientId, u"PID-A"_s);
            QCOMPARE(result.studyDate, u"20240115"_s);
        }
    }
    for (int study : studies)
        expected << m_studyUid[study];
    found.sort();
    expected.sort();
    QCOMPARE(found, expected);
}

void PacsClientTest::get_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("study");
    QTest::addColumn<bool>("folderMakeable");
    QTest::addColumn<QString>("error"); // its start; empty: success
    // One peer per service: dcmqrscp's C-GET is shown by the download window.
    const char *studies[] = {"uncompressed", "JPEG-LS", "JPEG 2000"};
    for (int study = 0; study < 3; ++study)
        QTest::addRow("orthanc: %s", studies[study]) << int(Orthanc) << study << true << QString();
    // Every object refused (0xA700) and none counted or announced.
    QTest::newRow("orthanc: folder cannot be made")
        << int(Orthanc) << 0 << false << u"Не удалось сохранить 3 из 3 полученных объектов"_s;
    QTest::newRow("storescp has no C-GET") << int(Storescp) << 0 << true
                                           << u"Сервер не поддерживает Study Root Query/Retrieve (C-GET)"_s;
}

void PacsClientTest::get()
{
    QFETCH(int, which);
    QFETCH(int, study);
    QFETCH(bool, folderMakeable);
    QFETCH(QString, error);
    const QString folder = folderMakeable ? m_dir.filePath(u"get/%1"_s.arg(QTest::currentDataTag()))
                                          : unmakeableFolder(m_dir.path());
    QStringList announced;
    int stored = -1;
    QString message;
    const bool ok = pacs::getStudy(peer(which).node(), pacs::PacsConfig(), m_studyUid[study], folder, &stored,
                                   &message, [&](const QString &path) { announced << path; });
    QVERIFY2(message.startsWith(error), qPrintable(message));
    QCOMPARE(message.isEmpty(), error.isEmpty());
    QCOMPARE(ok, error.isEmpty());
    const QStringList files = filesIn(folder);
    if (!ok) {
        QVERIFY(files.isEmpty());
        QVERIFY(announced.isEmpty());
        QVERIFY(stored <= 0);
        return;
    }
    // One file per object: none replaced another.
    QCOMPARE(stored, int(m_files[study].size()));
    QCOMPARE(announced.size(), files.size());
    QStringList sent, received;
    for (const QString &path : m_files[study])
        sent << dicomFileValue(path, DCM_SOPInstanceUID);
    for (const QString &path : files)
        received << dicomFileValue(path, DCM_SOPInstanceUID);
    sent.sort();
    received.sort();
    QCOMPARE(received, sent);
}

void PacsClientTest::move()
{
    const QString received = peer(Storescp).receivedFolder();
    for (int which : {Orthanc, Dcmqrscp}) {
        const qsizetype before = filesIn(received).size();
        pacs::PacsConfig local;
        local.localAeTitle = u"MOVEDEST"_s; // a blank destination means our own title
        QString error;
        QVERIFY2(pacs::moveStudy(peer(which).node(), local, m_studyUid[0], &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(received).size(), before + 3, 30000);
        local.moveDestinationAeTitle = u"UNKNOWNAE"_s;
        QVERIFY(!pacs::moveStudy(peer(which).node(), local, m_studyUid[0], &error));
        QVERIFY2(error.contains(u"UNKNOWNAE"_s), qPrintable(error));
    }
}

void PacsClientTest::sendKeepsCompressedSyntaxes()
{
    // An unreadable file between two compressed ones: the others still go,
    // and a peer that takes the files' own syntaxes gets them exactly as stored.
    const QString junk = m_dir.filePath(u"junk.dcm"_s);
    {
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a DICOM file") > 0);
    }
    const QString received = peer(Storescp).receivedFolder();
    const QStringList before = filesIn(received);
    QList<QPair<int, int>> calls;
    QString error;
    QVERIFY(!pacs::storeFiles(peer(Storescp).node(), pacs::PacsConfig(), {m_files[1].at(0), junk, m_files[2].at(0)},
                              &error, [&](int done, int total) { calls.append({done, total}); }));
    QCOMPARE(error, u"Отправлено 2 из 3 — не удалось отправить 1 файлов"_s);
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    QTRY_COMPARE_WITH_TIMEOUT(filesIn(received).size(), before.size() + 2, 30000);
    std::set<E_TransferSyntax> syntaxes;
    for (const QString &path : filesIn(received)) {
        E_TransferSyntax xfer = EXS_Unknown;
        if (!before.contains(path) && !dicomFileValue(path, DCM_SOPInstanceUID, &xfer).isEmpty())
            syntaxes.insert(xfer);
    }
    QVERIFY(syntaxes == (std::set<E_TransferSyntax>{EXS_JPEGLSLossless, EXS_JPEG2000LosslessOnly}));
}

void PacsClientTest::uniqueFileNames()
{
    // Two objects within one millisecond, beside a file already there.
    const QString folder = m_dir.filePath(u"unique"_s);
    QVERIFY(QDir().mkpath(folder));
    QFile existing(QDir(folder).filePath(u"1700000000000.dcm"_s));
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep") == 4);
    existing.close();
    const QStringList made{pacs::createUniqueFile(folder, 1700000000000), pacs::createUniqueFile(folder, 1700000000000)};
    QVERIFY(!made.contains(QString()) && made.first() != made.last() && !made.contains(existing.fileName()));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep"));
    QCOMPARE(filesIn(folder).size(), 3);
}

void PacsClientTest::cliVerbs()
{
    const pacs::PacsServerConfig node = peer(Orthanc).node();
    QByteArray out, err;
    const auto run = [&](QStringList arguments, int port = 0) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_CONFIG_HOME"_s, m_dir.filePath(u"config"_s));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(NORVANE_CLI), arguments << u"--host"_s << node.host << u"--port"_s
                                                         << QString::number(port ? port : node.port) << u"--aet"_s
                                                         << node.aeTitle);
        const bool ended = process.waitForFinished(120000);
        out = process.readAllStandardOutput();
        err = process.readAllStandardError();
        return ended ? process.exitCode() : -1;
    };
    QCOMPARE(run({u"echo"_s}), 0);

    QCOMPARE(run({u"find"_s, u"--patient-id"_s, u"PID-A"_s}), 0);
    QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    const QJsonObject study = QJsonDocument::fromJson(lines.first()).object();
    QCOMPARE(study.value(u"study_instance_uid"_s).toString(), m_studyUid[0]);
    QCOMPARE(study.value(u"patient_name"_s).toString(), m_nameA);

    const QString folder = m_dir.filePath(u"cli-get"_s);
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(run({u"get"_s, m_studyUid[0], u"--out"_s, folder, u"--db"_s, folder + u".sqlite3"_s}), 0);
    QVERIFY2(err.isEmpty(), err.constData());
    lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    const QJsonObject counts = QJsonDocument::fromJson(lines.last()).object();
    QCOMPARE(counts.value(u"stored"_s).toInt(), 3);
    QCOMPARE(counts.value(u"indexed"_s).toInt(), 3);
    QCOMPARE(filesIn(folder).size(), 3);

    QCOMPARE(run({u"move"_s, m_studyUid[1], u"--dest"_s, u"MOVEDEST"_s}), 0);
    QCOMPARE(run({u"send"_s, m_files[0].at(0), m_files[0].at(1)}), 0);
    QCOMPARE(err, QByteArray("1/2\n2/2\n"));
    QCOMPARE(run({u"echo"_s}, 70000), 2);
    QVERIFY(err.startsWith("Неверный порт: 70000"));
}

void PacsClientTest::listenerReceives_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("objects written") << u"written"_s;
    // Acknowledging an object that is not on disk would lose it unseen.
    QTest::newRow("folder cannot be made") << u"unwritable"_s;
    QTest::newRow("no Verification offered") << u"echo"_s;
    QTest::newRow("Enhanced CT refused") << u"enhanced"_s;
}

void PacsClientTest::listenerReceives()
{
    QFETCH(QString, what);
    const QString folder = what == QLatin1String("unwritable") ? unmakeableFolder(m_dir.path())
        : m_dir.filePath(u"in/%1"_s.arg(QTest::currentDataTag()));
    const int port = velmaris::testing::freePort();
    RunningListener running(quint16(port), folder);
    QTRY_VERIFY(running.listening);
    const pacs::PacsServerConfig node = loopbackNode(port, u"NORVANE"_s);
    QString error;
    if (what == QLatin1String("echo")) {
        QVERIFY(!pacs::echoServer(node, pacs::PacsConfig(), &error));
        QVERIFY(!error.isEmpty());
        return;
    }
    const bool written = what == QLatin1String("written");
    QCOMPARE(pacs::storeFiles(node, pacs::PacsConfig(), what == QLatin1String("enhanced") ? m_enhanced : m_files[0],
                              &error),
             written);
    if (!written) {
        QVERIFY(filesIn(folder).isEmpty());
        QVERIFY(running.files.isEmpty());
    }
    if (what == QLatin1String("unwritable")) {
        QCOMPARE(error, u"Отправлено 0 из 3 — не удалось отправить 3 файлов"_s);
        QTRY_COMPARE(running.errors.size(), 3);
        QVERIFY2(running.errors.first().startsWith(u"Не удалось сохранить принятый файл"_s),
                 qPrintable(running.errors.first()));
    }
    if (!written)
        return;
    QTRY_COMPARE(running.files.size(), 3);
    QStringList announced = running.files;
    announced.sort();
    QStringList onDisk = filesIn(folder);
    onDisk.sort();
    QCOMPARE(announced, onDisk);
    QVERIFY(running.errors.isEmpty());
}

void PacsClientTest::listenerPortTaken()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    RunningListener running(holder.serverPort(), m_dir.filePath(u"taken"_s));
    // Said once, then the listener ends by itself instead of failing on
    // every pass.
    QTRY_VERIFY(running.stopped);
    QCOMPARE(running.errors.size(), 1);
    QVERIFY2(running.errors.first().startsWith(u"Ошибка приёма соединения: "_s), qPrintable(running.errors.first()));
    QVERIFY(!running.listening);
}

QTEST_GUILESS_MAIN(PacsClientTest)
#include "test_pacs_client.moc"
