#include "dicom/DicomFileSummary.h"
#include "dicom/HostileFiles.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/ModalBoxCatcher.h"
#include "ui/PrivateSettings.h"
#include "ui/app/PortableSession.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/GeneratedSlices.h"
#include "ui/viewer/ViewerWindow.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using velmaris::PortableSession;
using velmaris::gen::Kind;
using velmaris::gen::SeriesSpec;
using velmaris::testing::ModalBoxCatcher;
using velmaris::testing::seriesSpec;

// That portable mode leaves no trace on the machine is the start-up test's, which runs the program.
class PortableSessionTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QTemporaryDir m_config;

private slots:
    void initTestCase()
    {
        dicom::registerSummaryMetaType();
        QVERIFY(m_dir.isValid() && m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
    }

    void showsSeriesAsTheyArrive()
    {
        const QString images = m_dir.filePath(QStringLiteral("disc/DICOM"));
        SeriesSpec ct = seriesSpec(3, 8, 8);
        SeriesSpec enhanced = seriesSpec(4, 8, 8, Kind::EnhancedMultiFrame);
        QStringList paths;
        QVERIFY(velmaris::gen::writeSeries(ct, images + QStringLiteral("/ct"), &paths));
        enhanced.studyInstanceUid = ct.studyInstanceUid;
        QVERIFY(velmaris::gen::writeSeries(enhanced, images + QStringLiteral("/mf"), &paths));
        QVERIFY(velmaris::testing::writeBytes(images + QStringLiteral("/readme.txt"), "x"));

        PortableSession session(images);
        QSignalSpy shown(&session, &PortableSession::viewerShown);
        QSignalSpy finished(&session, &PortableSession::importFinished);
        QSignalSpy ended(&session, &PortableSession::ended);
        QVERIFY(session.openDatabase());
        session.start();
        QVERIFY(finished.wait(30000));
        QCOMPARE(shown.size(), 1); // once, at the first file
        QCOMPARE(finished.first().at(0).toBool(), true);
        velmaris::ViewerWindow *viewer = session.viewer();
        QVERIFY(viewer != nullptr);
        QCOMPARE(viewer->studyUid(), ct.studyInstanceUid);
        QCOMPARE(viewer->seriesCount(), 2);
        // The first series that arrived is on screen in the panel.
        const QString shownSeries = viewer->viewport()->seriesUid();
        QVERIFY(shownSeries == ct.seriesInstanceUid || shownSeries == enhanced.seriesInstanceUid);
        QVERIFY(!viewer->viewport()->currentPixmap().isNull());
        QCOMPARE(viewer->viewport()->sliceCount(), viewer->frameCount(shownSeries));
        QCOMPARE(ended.size(), 0);
        viewer->close();
        QTRY_COMPARE(ended.size(), 1);
    }

    void warnsWhenNothingIsFound()
    {
        const QString images = m_dir.filePath(QStringLiteral("empty/DICOM"));
        QVERIFY(QDir().mkpath(images) && velmaris::testing::writeBytes(images + QStringLiteral("/notes.txt"), "x"));
        PortableSession session(images);
        QSignalSpy ended(&session, &PortableSession::ended);
        ModalBoxCatcher catcher;
        QVERIFY(session.openDatabase());
        session.start();
        QVERIFY(ended.wait(30000));
        QCOMPARE(catcher.count, 1);
        QCOMPARE(catcher.text,
                 QStringLiteral("Не найдено ни одного DICOM-файла в папке \"%1\".").arg(QDir(images).absolutePath()));
        QVERIFY(session.viewer() == nullptr);
    }
};

QTEST_MAIN(PortableSessionTest)

#include "test_portable_session.moc"
