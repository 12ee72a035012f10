#include "db/Database.h"
#include "dicom/HostileFiles.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/ModalBoxCatcher.h"
#include "ui/PrivateSettings.h"
#include "ui/browser/MainWindow.h"
#include "ui/dialogs/StudyTable.h"
#include "ui/viewer/GeneratedSlices.h"

#include <QProgressBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using velmaris::MainWindow;
using velmaris::testing::ModalBoxCatcher;

// What the import service counts is its own; here the window starts it,
// shows its progress and tells its outcome.
class MainWindowImportTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_data;
    velmaris::gen::SeriesSpec m_spec;

    // A folder of `dicomFiles` generated slices of 8 × 8 and `otherFiles` text files.
    QString makeFolder(int dicomFiles, int otherFiles)
    {
        static int counter = 0;
        const QString folder = m_root.filePath(QStringLiteral("import%1").arg(++counter));
        m_spec = velmaris::testing::seriesSpec(dicomFiles, 8, 8);
        QStringList paths;
        if (!velmaris::gen::writeSeries(m_spec, folder + QStringLiteral("/series"), &paths))
            return QString();
        for (int i = 0; i < otherFiles; ++i)
            velmaris::testing::writeBytes(folder + QStringLiteral("/other%1.txt").arg(i), "x");
        return folder;
    }

private slots:
    void initTestCase()
    {
        dicom::registerSummaryMetaType();
        QVERIFY(m_root.isValid() && m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
    }
    void init() { m_data = std::make_unique<QTemporaryDir>(); }

    void importsFolderWithStatusAndProgress()
    {
        const QString folder = makeFolder(30, 5);
        MainWindow window(m_data->filePath(QStringLiteral("data/Norvane")));
        QVERIFY(QFileInfo::exists(m_data->filePath(QStringLiteral("data/Norvane/index.sqlite3"))));
        QVERIFY(window.statusText().startsWith(QStringLiteral("Готово")));
        QVERIFY(window.importProgressBar()->isHidden());

        QSignalSpy finished(&window, &MainWindow::importFinished);
        window.startFolderImport(folder);
        QVERIFY(window.isImportRunning());
        QVERIFY(!window.importProgressBar()->isHidden());
        QCOMPARE(window.statusText(), QStringLiteral("Сканирование: %1").arg(folder));
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.first(), (QVariantList{30, 5}));
        QCOMPARE(window.statusText(), QStringLiteral("Импорт завершён: добавлено 30, пропущено 5"));
        QVERIFY(window.importProgressBar()->isHidden());
        QVERIFY(!window.isImportRunning());

        // The same folder again finds the same files and adds no duplicates.
        window.startFolderImport(folder);
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.last().at(0).toInt(), 30);
        QCOMPARE(window.studyTable()->rowCount(), 1);
        QCOMPARE(window.database()->listInstances(m_spec.seriesInstanceUid).size(), 30);
    }

    void secondImportIsRefusedWhileOneRuns()
    {
        const QString folder = makeFolder(40, 0);
        MainWindow window(m_data->path());
        QSignalSpy finished(&window, &MainWindow::importFinished);
        ModalBoxCatcher catcher;
        window.startFolderImport(folder);
        window.startFolderImport(folder); // asks the user to wait, changes nothing
        QCOMPARE(catcher.count, 1);
        QCOMPARE(catcher.title, QStringLiteral("Импорт уже выполняется"));
        QCOMPARE(catcher.text, QStringLiteral("Дождитесь завершения текущего импорта."));
        // The box's own event loop may already have delivered the end of the import.
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QCOMPARE(finished.first().at(0).toInt(), 40);
        // Once finished, a new import may start.
        window.startFolderImport(folder);
        QVERIFY(finished.wait(30000));
        QCOMPARE(catcher.count, 1);
    }

    void rejectedSummaryCountsAsSkipped()
    {
        const QString folder = makeFolder(10, 0);
        {
            // The index itself refuses one file: a real SQLite constraint.
            db::Database prepare(nullptr);
            QVERIFY(prepare.open(m_data->filePath(QStringLiteral("index.sqlite3"))));
            QSqlQuery q(QSqlDatabase::database(prepare.connectionName()));
            QVERIFY2(q.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON instances WHEN NEW.sop_instance_uid "
                                           "= '%1' BEGIN SELECT RAISE(ABORT, 'refused'); END;")
                                .arg(velmaris::gen::sopInstanceUid(m_spec, 4))),
                     qPrintable(q.lastError().text()));
        }
        MainWindow window(m_data->path());
        QSignalSpy finished(&window, &MainWindow::importFinished);
        window.startFolderImport(folder);
        QVERIFY(finished.wait(30000));
        QCOMPARE(window.statusText(), QStringLiteral("Импорт завершён: добавлено 9, пропущено 1"));
        QCOMPARE(window.database()->listInstances(m_spec.seriesInstanceUid).size(), 9);
        QVERIFY(QFileInfo::exists(QDir(folder).filePath(QStringLiteral("series/IMG0005.dcm")))); // never touched
    }

    void missingFolderReportsError()
    {
        MainWindow window(m_data->path());
        QSignalSpy finished(&window, &MainWindow::importFinished);
        ModalBoxCatcher catcher;
        const QString missing = m_root.filePath(QStringLiteral("nowhere"));
        window.startFolderImport(missing);
        QVERIFY(finished.wait(30000));
        QTRY_COMPARE(catcher.count, 1);
        QCOMPARE(catcher.title, QStringLiteral("Ошибка импорта"));
        QCOMPARE(catcher.text, QStringLiteral("Путь не существует или не является папкой: %1").arg(missing));
        QCOMPARE(window.statusText(), QStringLiteral("Импорт завершён: добавлено 0, пропущено 0"));
    }
};

QTEST_MAIN(MainWindowImportTest)
#include "test_main_window_import.moc"
