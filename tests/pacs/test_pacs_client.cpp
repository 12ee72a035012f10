// The client operations against real peers started here: Orthanc, DCMTK's
// dcmqrscp, and storescp as move destination and as a node without C-GET.

#include "pacs/DicomFileValue.h"
#include "PacsPeers.h"

#include "dicom/CodecRegistration.h"
#include "pacs/PacsClient.h"
#include "pacs/UniqueFile.h"
#include "seriesgen/SeriesGenerator.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <set>

using velmaris::testing::DicomPeer;

Q_DECLARE_METATYPE(pacs::StudyQuery)

namespace {

enum Peer { Orthanc, Dcmqrscp, Storescp, NoPeer };
constexpr char pydicomFiles[] = "/usr/lib/python3/dist-packages/pydicom/data/test_files/";

QStringList filesIn(const QString &folder)
{
    QStringList files;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files))
        files << info.absoluteFilePath();
    return files;
}

QString fileValue(const QString &path, const DcmTagKey &tag, E_TransferSyntax *xfer = nullptr)
{
    return velmaris::testing::dicomFileValue(path, tag, xfer);
}

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
    void getIntoUnwritableFolder_data();
    void getIntoUnwritableFolder();
    void move_data();
    void move();
    void send_data();
    void send();
    void compressedFilesKeepTheirSyntax();
    void uniqueFileNames();
    void cliVerbs_data();
    void cliVerbs();

private:
    DicomPeer &peer(int which) { return *m_peers.at(which); }

    dicom::CodecRegistration m_codecs;
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<DicomPeer>> m_peers;
    QTcpServer m_silentNode; // listens and never answers
    // Study A: CT, uncompressed, Cyrillic name; B: MR, JPEG-LS; C: JPEG 2000.
    QStringList m_files[3];
    QString m_studyUid[3];
    QString m_nameA;
};

void PacsClientTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    velmaris::gen::SeriesSpec a;
    a.slices = 3;
    a.patientName = m_nameA = QStringLiteral("Иванов^Пётр");
    a.patientId = QStringLiteral("PID-A");
    a.studyDate = QStringLiteral("20240115");
    QVERIFY(velmaris::gen::writeSeries(a, m_dir.filePath(QStringLiteral("a")), &m_files[0]));
    velmaris::gen::SeriesSpec b;
    b.kind = velmaris::gen::Kind::MR;
    b.compression = velmaris::gen::Compression::JpegLs;
    b.slices = 2;
    b.patientName = QStringLiteral("Smith^John");
    b.patientId = QStringLiteral("PID-B");
    b.studyDate = QStringLiteral("20230601");
    QVERIFY(velmaris::gen::writeSeries(b, m_dir.filePath(QStringLiteral("b")), &m_files[1]));
    m_studyUid[0] = a.studyInstanceUid;
    m_studyUid[1] = b.studyInstanceUid;

    // A third-party JPEG 2000 file, given a patient of its own.
    DcmFileFormat j2k;
    QVERIFY(j2k.loadFile(OFFilename(QByteArray(QByteArray(pydicomFiles) + "MR_small_jp2klossless.dcm").constData())).good());
    DcmDataset *dataset = j2k.getDataset();
    dataset->putAndInsertString(DCM_PatientName, "Jp2k^Test");
    dataset->putAndInsertString(DCM_PatientID, "PID-C");
    dataset->putAndInsertString(DCM_StudyDate, "20220301");
    const QString c = m_dir.filePath(QStringLiteral("c.dcm"));
    QVERIFY(j2k.saveFile(OFFilename(QFile::encodeName(c).constData()), EXS_Unknown).good());
    m_files[2] = QStringList{c};
    m_studyUid[2] = fileValue(c, DCM_StudyInstanceUID);
    QVERIFY(!m_studyUid[2].isEmpty());

    auto storescp = std::make_unique<DicomPeer>(DicomPeer::Kind::Storescp, QStringLiteral("MOVEDEST"));
    QString error;
    QVERIFY2(storescp->start(&error), qPrintable(error));
    const int destinationPort = storescp->node().port;
    m_peers.push_back(std::make_unique<DicomPeer>(DicomPeer::Kind::Orthanc, QStringLiteral("ORTHANC"),
                                                  QStringLiteral("MOVEDEST"), destinationPort));
    m_peers.push_back(std::make_unique<DicomPeer>(DicomPeer::Kind::Dcmqrscp, QStringLiteral("TINYPACS"),
                                                  QStringLiteral("MOVEDEST"), destinationPort));
    for (auto &started : m_peers)
        QVERIFY2(started->start(&error), qPrintable(error));
    m_peers.push_back(std::move(storescp));

    // Every file of the archive must arrive, the compressed ones included:
    // Orthanc takes them as they are, dcmqrscp only decoded.
    const QStringList all = m_files[0] + m_files[1] + m_files[2];
    for (int which : {Orthanc, Dcmqrscp}) {
        QVERIFY2(pacs::storeFiles(peer(which).node(), pacs::PacsConfig(), all, &error), qPrintable(error));
    }
    QVERIFY(m_silentNode.listen(QHostAddress::LocalHost, 0));
}

void PacsClientTest::echo_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("aeTitle"); // empty: the peer's own
    QTest::addColumn<int>("port");        // 0: the peer's own
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("errorContains");
    QTest::newRow("orthanc") << int(Orthanc) << QString() << 0 << true << QString();
    QTest::newRow("dcmqrscp") << int(Dcmqrscp) << QString() << 0 << true << QString();
    QTest::newRow("orthanc, wrong called AE") << int(Orthanc) << QStringLiteral("NOBODY") << 0 << false
                                              << QStringLiteral("Rejected");
    QTest::newRow("dcmqrscp, wrong called AE") << int(Dcmqrscp) << QStringLiteral("NOBODY") << 0 << false
                                               << QStringLiteral("Rejected");
    QTest::newRow("closed port") << int(NoPeer) << QStringLiteral("ANY") << velmaris::testing::freePort() << false
                                 << QString();
    QTest::newRow("port 0") << int(NoPeer) << QStringLiteral("ANY") << -1 << false
                            << QStringLiteral("Неверный порт 0");
    QTest::newRow("port 70000") << int(NoPeer) << QStringLiteral("ANY") << 70000 << false
                                << QStringLiteral("Неверный порт 70000");
    QTest::newRow("silent node") << int(NoPeer) << QStringLiteral("ANY") << int(m_silentNode.serverPort()) << false
                                 << QStringLiteral("не ответил за 2 с");
}

void PacsClientTest::echo()
{
    QFETCH(int, which);
    QFETCH(QString, aeTitle);
    QFETCH(int, port);
    QFETCH(bool, ok);
    QFETCH(QString, errorContains);
    pacs::PacsServerConfig node;
    if (which != NoPeer)
        node = peer(which).node();
    else
        node.host = QStringLiteral("127.0.0.1");
    if (!aeTitle.isEmpty())
        node.aeTitle = aeTitle;
    if (port != 0)
        node.port = port < 0 ? 0 : port;
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
        row("Cyrillic name with wildcard") << pacs::StudyQuery{QStringLiteral("Иванов*"), {}, {}, {}, {}}
                                           << QList<int>{0};
        row("patient ID") << pacs::StudyQuery{{}, QStringLiteral("PID-B"), {}, {}, {}} << QList<int>{1};
        row("date range") << pacs::StudyQuery{{}, {}, {}, QStringLiteral("20230101"), QStringLiteral("20231231")}
                          << QList<int>{1};
        row("open end") << pacs::StudyQuery{{}, {}, {}, QStringLiteral("20240101"), {}} << QList<int>{0};
        row("open start") << pacs::StudyQuery{{}, {}, {}, {}, QStringLiteral("20221231")} << QList<int>{2};
        // dcmqrscp does not match on Modalities in Study.
        if (which == Orthanc)
            row("modalities") << pacs::StudyQuery{{}, {}, QStringLiteral("MR\\PT"), {}, {}} << QList<int>{1, 2};
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
    std::set<QString> found;
    for (const pacs::StudyResult &result : results) {
        found.insert(result.studyInstanceUid);
        if (result.studyInstanceUid == m_studyUid[0]) {
            QCOMPARE(result.patientName, m_nameA);
            QCOMPARE(result.patientId, QStringLiteral("PID-A"));
            QCOMPARE(result.studyDate, QStringLiteral("20240115"));
        }
    }
    std::set<QString> expected;
    for (int study : studies)
        expected.insert(m_studyUid[study]);
    QVERIFY(found == expected);
    QCOMPARE(results.size(), qsizetype(studies.size()));
}

void PacsClientTest::get_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("study");
    QTest::addColumn<QString>("error");
    const char *studies[] = {"uncompressed", "JPEG-LS", "JPEG 2000"};
    for (int which : {Orthanc, Dcmqrscp})
        for (int study = 0; study < 3; ++study)
            QTest::addRow("%s: %s", which == Orthanc ? "orthanc" : "dcmqrscp", studies[study])
                << which << study << QString();
    QTest::newRow("storescp has no C-GET") << int(Storescp) << 0
                                           << QStringLiteral("Сервер не поддерживает Study Root Query/Retrieve (C-GET)");
}

void PacsClientTest::get()
{
    QFETCH(int, which);
    QFETCH(int, study);
    QFETCH(QString, error);
    const QString folder = m_dir.filePath(QStringLiteral("get/%1").arg(QTest::currentDataTag()));
    QStringList announced;
    int stored = -1;
    QString message;
    const bool ok = pacs::getStudy(peer(which).node(), pacs::PacsConfig(), m_studyUid[study], folder, &stored,
                                   &message, [&](const QString &path) { announced << path; });
    QCOMPARE(message, error);
    QCOMPARE(ok, error.isEmpty());
    const QStringList files = filesIn(folder);
    if (!ok) {
        QVERIFY(files.isEmpty());
        return;
    }
    // One file per object: none replaced another.
    QCOMPARE(stored, int(m_files[study].size()));
    QCOMPARE(files.size(), m_files[study].size());
    QCOMPARE(announced.size(), files.size());
    std::set<QString> sent, received;
    for (const QString &path : m_files[study])
        sent.insert(fileValue(path, DCM_SOPInstanceUID));
    for (const QString &path : files)
        received.insert(fileValue(path, DCM_SOPInstanceUID));
    QVERIFY(sent == received);
}

void PacsClientTest::getIntoUnwritableFolder_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("orthanc") << int(Orthanc);
    QTest::newRow("dcmqrscp") << int(Dcmqrscp);
}

void PacsClientTest::getIntoUnwritableFolder()
{
    QFETCH(int, which);
    // A folder below a plain file can never be made, whoever runs the test.
    const QString blocker = m_dir.filePath(QStringLiteral("blocker"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    int stored = -1;
    int announced = 0;
    QString error;
    QVERIFY(!pacs::getStudy(peer(which).node(), pacs::PacsConfig(), m_studyUid[0], blocker + QStringLiteral("/x"),
                            &stored, &error, [&](const QString &) { ++announced; }));
    QCOMPARE(stored, 0);
    QCOMPARE(announced, 0);
    QVERIFY2(error.startsWith(QStringLiteral("Не удалось сохранить 3 из 3 полученных объектов")), qPrintable(error));
}

void PacsClientTest::move_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("orthanc") << int(Orthanc);
    QTest::newRow("dcmqrscp") << int(Dcmqrscp);
}

void PacsClientTest::move()
{
    QFETCH(int, which);
    const QString received = peer(Storescp).receivedFolder();
    const qsizetype before = filesIn(received).size();
    pacs::PacsConfig local;
    local.localAeTitle = QStringLiteral("MOVEDEST"); // a blank destination means our own title
    QString error;
    QVERIFY2(pacs::moveStudy(peer(which).node(), local, m_studyUid[0], &error), qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(filesIn(received).size(), before + 3, 30000);

    local.moveDestinationAeTitle = QStringLiteral("UNKNOWNAE");
    QVERIFY(!pacs::moveStudy(peer(which).node(), local, m_studyUid[0], &error));
    QVERIFY2(error.contains(QStringLiteral("UNKNOWNAE")), qPrintable(error));
}

void PacsClientTest::send_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("orthanc") << int(Orthanc);
    QTest::newRow("dcmqrscp") << int(Dcmqrscp);
    QTest::newRow("storescp") << int(Storescp);
}

void PacsClientTest::send()
{
    QFETCH(int, which);
    const QString junk = m_dir.filePath(QStringLiteral("junk.dcm"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a DICOM file");
    file.close();
    QList<QPair<int, int>> calls;
    QString error;
    QVERIFY(!pacs::storeFiles(peer(which).node(), pacs::PacsConfig(), {m_files[0].at(0), junk, m_files[0].at(1)},
                              &error, [&](int done, int total) { calls.append({done, total}); }));
    QCOMPARE(error, QStringLiteral("Отправлено 2 из 3 — не удалось отправить 1 файлов"));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
}

void PacsClientTest::compressedFilesKeepTheirSyntax()
{
    // A peer that takes the files' own syntaxes gets them exactly as stored.
    const QString received = peer(Storescp).receivedFolder();
    const QStringList before = filesIn(received);
    QString error;
    QVERIFY2(pacs::storeFiles(peer(Storescp).node(), pacs::PacsConfig(), {m_files[1].at(0), m_files[2].at(0)},
                              &error),
             qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(filesIn(received).size(), before.size() + 2, 30000);
    std::set<E_TransferSyntax> syntaxes;
    for (const QString &path : filesIn(received)) {
        if (before.contains(path))
            continue;
        E_TransferSyntax xfer = EXS_Unknown;
        fileValue(path, DCM_SOPInstanceUID, &xfer);
        syntaxes.insert(xfer);
    }
    QVERIFY(syntaxes == (std::set<E_TransferSyntax>{EXS_JPEGLSLossless, EXS_JPEG2000LosslessOnly}));
}

void PacsClientTest::uniqueFileNames()
{
    // Two objects within one millisecond, beside a file already there.
    const QString folder = m_dir.filePath(QStringLiteral("unique"));
    QVERIFY(QDir().mkpath(folder));
    QFile existing(QDir(folder).filePath(QStringLiteral("1700000000000.dcm")));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep");
    existing.close();
    const QString first = pacs::createUniqueFile(folder, 1700000000000);
    const QString second = pacs::createUniqueFile(folder, 1700000000000);
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    QVERIFY(first != second && first != existing.fileName() && second != existing.fileName());
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep"));
    QCOMPARE(filesIn(folder).size(), 3);
}

void PacsClientTest::cliVerbs_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("orthanc") << int(Orthanc);
    QTest::newRow("dcmqrscp") << int(Dcmqrscp);
}

void PacsClientTest::cliVerbs()
{
    QFETCH(int, which);
    const pacs::PacsServerConfig node = peer(which).node();
    const QStringList nodeArgs{QStringLiteral("--host"), node.host, QStringLiteral("--port"),
                               QString::number(node.port), QStringLiteral("--aet"), node.aeTitle};
    const auto run = [&](const QStringList &arguments, QByteArray *out, QByteArray *err, bool withNode = true) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(NORVANE_CLI), withNode ? arguments + nodeArgs : arguments);
        if (!process.waitForFinished(120000))
            return -1;
        *out = process.readAllStandardOutput();
        *err = process.readAllStandardError();
        return process.exitCode();
    };
    QByteArray out, err;
    QCOMPARE(run({QStringLiteral("echo")}, &out, &err), 0);

    QCOMPARE(run({QStringLiteral("find"), QStringLiteral("--patient-id"), QStringLiteral("PID-A")}, &out, &err), 0);
    QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    const QJsonObject study = QJsonDocument::fromJson(lines.first()).object();
    QCOMPARE(study.value(QStringLiteral("study_instance_uid")).toString(), m_studyUid[0]);
    QCOMPARE(study.value(QStringLiteral("patient_name")).toString(), m_nameA);

    const QString folder = m_dir.filePath(QStringLiteral("cli-get/%1").arg(QTest::currentDataTag()));
    const QString index = folder + QStringLiteral(".sqlite3");
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(run({QStringLiteral("get"), m_studyUid[0], QStringLiteral("--out"), folder, QStringLiteral("--db"), index},
                 &out, &err),
             0);
    QVERIFY2(err.isEmpty(), err.constData());
    lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    const QJsonObject counts = QJsonDocument::fromJson(lines.last()).object();
    QCOMPARE(counts.value(QStringLiteral("stored")).toInt(), 3);
    QCOMPARE(counts.value(QStringLiteral("indexed")).toInt(), 3);
    QCOMPARE(filesIn(folder).size(), 3);

    QCOMPARE(run({QStringLiteral("move"), m_studyUid[1], QStringLiteral("--dest"), QStringLiteral("MOVEDEST")}, &out,
                 &err),
             0);

    QCOMPARE(run({QStringLiteral("send"), m_files[0].at(0), m_files[0].at(1)}, &out, &err), 0);
    QCOMPARE(err, QByteArray("1/2\n2/2\n"));

    QCOMPARE(run({QStringLiteral("echo"), QStringLiteral("--host"), node.host, QStringLiteral("--port"),
                  QStringLiteral("70000"), QStringLiteral("--aet"), node.aeTitle},
                 &out, &err, false),
             2);
    QVERIFY(err.startsWith("Неверный порт: 70000"));
}

QTEST_GUILESS_MAIN(PacsClientTest)
#include "test_pacs_client.moc"
