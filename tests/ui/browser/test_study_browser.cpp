#include "db/Database.h"
#include "db/IndexDamage.h"
#include "dicom/HostileFiles.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/ModalBoxCatcher.h"
#include "ui/PrivateSettings.h"
#include "ui/browser/MainWindow.h"
#include "ui/dialogs/StudyTable.h"
#include "ui/browser/StudyFilterBar.h"
#include "ui/viewer/GeneratedSlices.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/ViewerWindow.h"

#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using velmaris::MainWindow;
using velmaris::testing::ModalBoxCatcher;

namespace {

// A study whose instances point at the given files.
QVector<dicom::DicomFileSummary> studyFiles(const QString &uid, const QString &patient, const QString &date,
                                            const QStringList &files)
{
    QVector<dicom::DicomFileSummary> out;
    for (int i = 0; i < files.size(); ++i) {
        dicom::DicomFileSummary s;
        s.patient_id = patient;
        s.patient_name = patient + QStringLiteral("^Тест");
        s.study_instance_uid = uid;
        s.study_date = date;
        s.series_instance_uid = uid + QStringLiteral(".1");
        s.series_number = QStringLiteral("1");
        s.modality = QStringLiteral("CT");
        s.sop_instance_uid = uid + QStringLiteral(".1.%1").arg(i);
        s.file_path = files.at(i);
        out << s;
    }
    return out;
}

int visibleRows(const QTableWidget *table)
{
    int n = 0;
    for (int r = 0; r < table->rowCount(); ++r)
        n += table->isRowHidden(r) ? 0 : 1;
    return n;
}

QStringList columnOf(const QTableWidget *table, int column, int role)
{
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r)
        out << table->item(r, column)->data(role).toString();
    return out;
}

int rowOf(const QTableWidget *table, const QString &uid)
{
    return int(columnOf(table, 0, Qt::UserRole).indexOf(uid));
}

} // namespace

class StudyBrowserTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    QTemporaryDir m_config;
    QString m_data;

    QString file(const QString &relative)
    {
        const QString path = m_root->filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        velmaris::testing::writeBytes(path, "DICOM bytes");
        return path;
    }

    std::unique_ptr<MainWindow> makeWindow()
    {
        auto window = std::make_unique<MainWindow>(m_data);
        window->show();
        return window;
    }

    // A folder of `dicomFiles` generated slices of 8 × 8.
    QString makeImportFolder(int dicomFiles, velmaris::gen::SeriesSpec &spec)
    {
        const QString folder = m_root->filePath(QStringLiteral("import"));
        spec = velmaris::testing::seriesSpec(dicomFiles, 8, 8);
        QStringList paths;
        return velmaris::gen::writeSeries(spec, folder + QStringLiteral("/series"), &paths) ? folder : QString();
    }
    QString importData() const { return m_root->filePath(QStringLiteral("importdata")); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
        qRegisterMetaType<velmaris::ViewerWindow *>();
        dicom::registerSummaryMetaType();
    }
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_data = m_root->filePath(QStringLiteral("data"));
        QSettings().clear();
        db::Database seed(nullptr);
        QDir().mkpath(m_data);
        QVERIFY(seed.open(m_data + QStringLiteral("/index.sqlite3")));
        QVector<dicom::DicomFileSummary> all;
        all += studyFiles(QStringLiteral("1.1"), QStringLiteral("Иванов"), QStringLiteral("20240110"),
                          {file(QStringLiteral("data/imported_from_zip/s1/a.dcm")),
                           file(QStringLiteral("data/imported_from_zip/s1/b.dcm")),
                           file(QStringLiteral("data/pacs_downloads_old/c.dcm")),
                           file(QStringLiteral("elsewhere/d.dcm"))});
        all += studyFiles(QStringLiteral("1.2"), QStringLiteral("Петров"), QStringLiteral("20240220"),
                          {file(QStringLiteral("data/minipacs_received/e.dcm"))});
        all += studyFiles(QStringLiteral("1.3"), QStringLiteral("Сидоров"), QStringLiteral("20240305"),
                          {file(QStringLiteral("elsewhere/f.dcm"))});
        QCOMPARE(seed.insertSummaries(all), all.size());
    }

    void opensNewestFirstAndSeriesByNumber()
    {
        // Two newer studies on one day, whose names sort the other way round;
        // the first with series out of order.
        QVector<dicom::DicomFileSummary> more =
            studyFiles(QStringLiteral("2.1"), QStringLiteral("Антонов"), QStringLiteral("20240401"),
                       {file(QStringLiteral("more/a")), file(QStringLiteral("more/b")), file(QStringLiteral("more/c"))});
        const QStringList numbers{QStringLiteral("10"), QStringLiteral("2"), QStringLiteral("9")};
        for (int i = 0; i < more.size(); ++i) {
            more[i].series_instance_uid = QStringLiteral("2.1.%1").arg(i);
            more[i].series_number = numbers.at(i);
            more[i].study_time = QStringLiteral("080000");
        }
        more += studyFiles(QStringLiteral("2.2"), QStringLiteral("Яковлев"), QStringLiteral("20240401"),
                           {file(QStringLiteral("more/d"))});
        more.last().study_time = QStringLiteral("07:30:00");
        {
            db::Database seed(nullptr);
            QVERIFY(seed.open(m_data + QStringLiteral("/index.sqlite3")));
            QCOMPARE(seed.insertSummaries(more), more.size());
        }

        auto window = makeWindow();
        QCOMPARE(columnOf(window->studyTable(), 0, Qt::UserRole),
                 (QStringList{QStringLiteral("2.1"), QStringLiteral("2.2"), QStringLiteral("1.3"), QStringLiteral("1.2"),
                              QStringLiteral("1.1")}));
        // Series by number, ascending.
        window->selectStudy(QStringLiteral("2.1"));
        QCOMPARE(columnOf(window->seriesTable(), 0, Qt::DisplayRole),
                 (QStringList{QStringLiteral("2"), QStringLiteral("9"), QStringLiteral("10")}));
    }

    void filterRightClickAndProtection()
    {
        auto window = makeWindow();
        QTableWidget *table = window->studyTable();
        // The filter bar hides the rows it does not match (its rules are the row tests' table).
        window->filterBar()->textField()->setText(QStringLiteral("петр"));
        QCOMPARE(visibleRows(table), 1);
        QVERIFY(!table->isRowHidden(rowOf(table, QStringLiteral("1.2"))));
        window->filterBar()->textField()->clear();

        // A right click selects the row under it before the menu opens.
        table->selectRow(rowOf(table, QStringLiteral("1.1")));
        const int target = rowOf(table, QStringLiteral("1.3"));
        const QPoint where = table->visualRect(table->model()->index(target, 2)).center();
        QTest::mouseClick(table->viewport(), Qt::RightButton, {}, where);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, where, table->viewport()->mapToGlobal(where));
        QCoreApplication::sendEvent(table->viewport(), &menuEvent);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QApplication::activePopupWidget()->close();
        QCOMPARE(window->selectedStudyUids(), QStringList{QStringLiteral("1.3")});

        // Protecting a selection locks its rows and its deletion.
        table->setSelectionMode(QAbstractItemView::MultiSelection);
        table->clearSelection();
        table->selectRow(rowOf(table, QStringLiteral("1.1")));
        table->selectRow(rowOf(table, QStringLiteral("1.2")));
        window->toggleProtectionOfSelection();
        table->selectAll();
        std::unique_ptr<QMenu> menu(window->createStudyContextMenu());
        const QList<QAction *> actions = menu->actions();
        int disabledDeletes = 0;
        for (QAction *action : actions)
            disabledDeletes += action->text().startsWith(QStringLiteral("Удалить")) && !action->isEnabled() ? 1 : 0;
        QCOMPARE(disabledDeletes, 2);
        QCOMPARE(actions.first()->text(), QStringLiteral("Снять защиту от удаления"));
        for (const QList<db::StudyRecord> studies = window->database()->listStudies(); const auto &s : studies)
            QCOMPARE(s.is_protected, s.study_instance_uid != QLatin1String("1.3"));
    }

    void deleteKeepsUnmanagedFiles_data()
    {
        QTest::addColumn<bool>("completely");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::newRow("from the list") << false << QMessageBox::Yes;
        QTest::newRow("completely, yes") << true << QMessageBox::Yes;
        QTest::newRow("completely, no") << true << QMessageBox::No;
    }

    void deleteKeepsUnmanagedFiles()
    {
        QFETCH(bool, completely);
        QFETCH(QMessageBox::StandardButton, answer);
        auto window = makeWindow();
        window->studyTable()->selectRow(rowOf(window->studyTable(), QStringLiteral("1.1")));
        ModalBoxCatcher catcher;
        catcher.answer = answer;
        if (completely) {
            window->deleteSelectionCompletely();
            QCOMPARE(catcher.title, QStringLiteral("Удалить полностью"));
            QVERIFY2(catcher.text.contains(QStringLiteral("Будет удалено файлов с диска: 2.")), qPrintable(catcher.text));
            // A sibling folder that merely starts like a managed one is not managed.
            QVERIFY2(catcher.text.contains(QStringLiteral("\n2 файл(ов) из обычного")), qPrintable(catcher.text));
        } else {
            window->deleteSelectionFromList();
            QCOMPARE(catcher.title, QStringLiteral("Удалить запись"));
        }

        const bool deleted = answer == QMessageBox::Yes;
        QCOMPARE(window->database()->studyExists(QStringLiteral("1.1")), !deleted);
        QCOMPARE(window->studyTable()->rowCount(), deleted ? 2 : 3);
        const bool managedGone = deleted && completely;
        QCOMPARE(QFileInfo::exists(m_root->filePath(QStringLiteral("data/imported_from_zip/s1/a.dcm"))), !managedGone);
        QCOMPARE(QFileInfo::exists(m_root->filePath(QStringLiteral("data/imported_from_zip/s1"))), !managedGone);
        for (const char *kept : {"data/pacs_downloads_old/c.dcm", "elsewhere/d.dcm", "data/minipacs_received/e.dcm"})
            QVERIFY2(QFileInfo::exists(m_root->filePath(QLatin1String(kept))), kept);
    }

    void indexFailureDuringDeleteIsReported()
    {
        auto window = makeWindow();
        // The index refuses to drop the study row: a real SQLite failure.
        QSqlQuery trigger(QSqlDatabase::database(window->database()->connectionName()));
        QVERIFY(trigger.exec(QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON studies "
                                            "BEGIN SELECT RAISE(ABORT, 'study is kept'); END;")));
        window->studyTable()->selectRow(rowOf(window->studyTable(), QStringLiteral("1.1")));
        ModalBoxCatcher catcher;
        catcher.answer = QMessageBox::Yes;
        window->deleteSelectionCompletely();
        QCOMPARE(catcher.count, 2); // the question, then the failure
        QVERIFY2(catcher.text.startsWith(QStringLiteral("Файлы удалены (2), но не удалось удалить запись в базе:\n")),
                 qPrintable(catcher.text));
        QVERIFY(catcher.text.contains(QStringLiteral("study is kept")));
        QVERIFY(window->database()->studyExists(QStringLiteral("1.1")));
        QVERIFY(rowOf(window->studyTable(), QStringLiteral("1.1")) >= 0);
    }

    void damagedIndexIsReportedAndLeftAlone_data()
    {
        QTest::addColumn<bool>("whileShown");
        QTest::addColumn<velmaris::testing::IndexDamage>("damage");
        QTest::newRow("one page overwritten before the start") << false << velmaris::testing::IndexDamage::PageOverwritten;
        // Every page the list needs, so that the open index cannot answer from its cache.
        QTest::newRow("damaged while the list is shown") << true << velmaris::testing::IndexDamage::AllButFirstPage;
    }

    void damagedIndexIsReportedAndLeftAlone()
    {
        QFETCH(bool, whileShown);
        QFETCH(velmaris::testing::IndexDamage, damage);
        const QString path = QDir(m_data).filePath(QStringLiteral("index.sqlite3"));
        QFile index(path);
        QVERIFY(index.open(QIODevice::ReadOnly));
        const QByteArray healthy = index.readAll();
        const QByteArray damaged = velmaris::testing::damagedIndex(healthy, damage);
        index.close();
        QVERIFY(!damaged.isEmpty());

        ModalBoxCatcher catcher;
        std::unique_ptr<MainWindow> window;
        if (whileShown) {
            window = makeWindow();
            QCOMPARE(window->studyTable()->rowCount(), 3);
            QVERIFY(velmaris::testing::writeBytes(path, damaged));
            window->reloadStudies();
            QCOMPARE(catcher.count, 1);
            QVERIFY2(catcher.text.startsWith(QStringLiteral("Не удалось прочитать локальную базу исследований:\n"
                                                            "database disk image is malformed")),
                     qPrintable(catcher.text));
            // A failed read is no empty archive: the list stays as it was.
            QCOMPARE(visibleRows(window->studyTable()), 3);
            // The series of a study cannot be read either; none are shown for it.
            window->selectStudy(QStringLiteral("1.1"));
            QCOMPARE(catcher.count, 2);
            QCOMPARE(window->seriesTable()->rowCount(), 0);
        } else {
            QVERIFY(velmaris::testing::writeBytes(path, damaged));
            window = makeWindow();
            QCOMPARE(catcher.count, 1);
            // SQLite's own words follow.
            const QString refusal = QStringLiteral("Не удалось открыть локальную базу исследований:\n"
                                                   "Индекс архива повреждён: ");
            QVERIFY2(catcher.text.startsWith(refusal) && catcher.text.size() > refusal.size(), qPrintable(catcher.text));
            QCOMPARE(window->studyTable()->rowCount(), 0);
        }
        QCOMPARE(catcher.title, QStringLiteral("Ошибка базы данных"));
        QVERIFY(window->isVisible());
        window.reset();
        QVERIFY(index.open(QIODevice::ReadOnly));
        QCOMPARE(index.readAll(), damaged);
        QCOMPARE(QDir(m_data).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("index.sqlite3")});
    }

    void dropsFoldersAndArchivesOnly_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("folder") << "elsewhere" << true;
        QTest::newRow("zip") << "drop/study.ZIP" << true;
        QTest::newRow("other file") << "drop/notes.txt" << false;
    }

    void dropsFoldersAndArchivesOnly()
    {
        QFETCH(QString, relative);
        QFETCH(bool, accepted);
        auto window = makeWindow();
        const QString path = m_root->filePath(relative);
        if (!QFileInfo(path).isDir())
            file(relative);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window.get(), &enter);
        QCOMPARE(enter.isAccepted(), accepted);
    }

    // The last study at start-up, a chosen series, and "back to list" that
    // leaves the viewer aside until the next one replaces it.
    void viewerOpensLastStudyChosenSeriesAndHandsOver()
    {
        QSettings().setValue(QStringLiteral("startup/action"), QStringLiteral("lastViewer"));
        QSettings().setValue(QStringLiteral("startup/lastStudyUid"), QStringLiteral("9.9.9"));
        {
            auto window = makeWindow();
            QSignalSpy opened(window.get(), &MainWindow::viewerOpened);
            QCoreApplication::processEvents();
            QCOMPARE(opened.size(), 0);
        }
        QSettings().setValue(QStringLiteral("startup/lastStudyUid"), QStringLiteral("1.2"));
        auto window = std::make_unique<MainWindow>(m_data);
        QSignalSpy opened(window.get(), &MainWindow::viewerOpened);
        QVERIFY(opened.wait(5000));
        auto *viewer = opened.first().first().value<velmaris::ViewerWindow *>();
        QCOMPARE(viewer->studyUid(), QStringLiteral("1.2"));
        viewer->close();

        // A series chosen in the browser is the one the viewer shows.
        window->openViewer(QStringLiteral("1.1"), QStringLiteral("1.1.1"));
        QCOMPARE(opened.size(), 2);
        viewer = opened.last().first().value<velmaris::ViewerWindow *>();
        QCOMPARE(viewer->viewport()->seriesUid(), QStringLiteral("1.1.1"));
        QPointer<velmaris::ViewerWindow> first = viewer;
        first->action(QStringLiteral("backToList"))->trigger();
        QVERIFY(first && first->isHidden()); // stepped aside, not closed yet
        window->openViewer(QStringLiteral("1.3"));
        auto *second = opened.last().first().value<velmaris::ViewerWindow *>();
        QTRY_VERIFY(first.isNull()); // replaced
        QCOMPARE(second->studyUid(), QStringLiteral("1.3"));
        second->close();
    }

    // What the import service counts is its own; here the window starts it,
    // shows its progress, refuses a second one meanwhile and tells the outcome:
    // of a folder, of a folder that is not there, of a broken archive.
    void importsAreShownRefusedAndTold()
    {
        velmaris::gen::SeriesSpec spec;
        const QString folder = makeImportFolder(40, spec);
        MainWindow window(importData());
        QSignalSpy finished(&window, &MainWindow::importFinished);
        ModalBoxCatcher catcher;
        window.startFolderImport(folder);
        QVERIFY(!window.importProgressBar()->isHidden());
        QCOMPARE(window.statusText(), QStringLiteral("Сканирование: %1").arg(folder));
        window.startFolderImport(folder); // asks the user to wait, changes nothing
        QCOMPARE(catcher.count, 1);
        QCOMPARE(catcher.title, QStringLiteral("Импорт уже выполняется"));
        QCOMPARE(catcher.text, QStringLiteral("Дождитесь завершения текущего импорта."));
        // The box's own event loop may already have delivered the end of the import.
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
        QCOMPARE(window.statusText(), QStringLiteral("Импорт завершён: добавлено 40, пропущено 0"));
        QVERIFY(window.importProgressBar()->isHidden());
        QCOMPARE(window.studyTable()->rowCount(), 1);
        QCOMPARE(window.database()->listInstances(spec.seriesInstanceUid).size(), 40);

        // Once finished, a new import may start.
        const QString missing = m_root->filePath(QStringLiteral("nowhere"));
        window.startFolderImport(missing);
        QVERIFY(finished.wait(30000));
        QTRY_COMPARE(catcher.count, 2);
        QCOMPARE(catcher.title, QStringLiteral("Ошибка импорта"));
        QCOMPARE(catcher.text, QStringLiteral("Путь не существует или не является папкой: %1").arg(missing));

        const QString archive = file(QStringLiteral("drop/broken.zip"));
        window.startArchiveImport(archive);
        QCOMPARE(window.statusText(), QStringLiteral("Распаковка и импорт архива: %1").arg(archive));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 3, 30000);
        QTRY_COMPARE(catcher.count, 3);
        QCOMPARE(catcher.title, QStringLiteral("Ошибка импорта архива"));
        QVERIFY(catcher.text.startsWith(QStringLiteral("Не удалось открыть ZIP-архив")));
        QCOMPARE(window.statusText(), QStringLiteral("Импорт из архива завершён: добавлено 0, пропущено 0"));
    }
};


QTEST_MAIN(StudyBrowserTest)
#include "test_study_browser.moc"
