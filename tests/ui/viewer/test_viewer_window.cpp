#include "ui/PrivateSettings.h"
#include "app/HotkeyRegistry.h"
#include "ui/viewer/DetachedPanelWindow.h"
#include "ui/viewer/GeneratedSlices.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/LayoutPicker.h"
#include "ui/viewer/SeriesListWidget.h"
#include "ui/viewer/ViewerWindow.h"
#include "ui/dialogs/StudyPickerDialog.h"
#include "viewer/Cursor3D.h"
#include "viewer/FrameDecoder.h"
#include "ui/ModalBoxCatcher.h"
#include "dicom/DicomSummaryReader.h"
#include "db/Database.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGraphicsLineItem>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

#include <memory>

using render::MeasurementMode;
using velmaris::ImageViewportWidget;
using velmaris::SeriesListEntry;
using velmaris::SeriesListWidget;
using velmaris::ViewerWindow;
using velmaris::gen::Kind;

namespace {

// The reference lines drawn over a panel.
QList<QGraphicsLineItem *> lines(const ImageViewportWidget *panel)
{
    QList<QGraphicsLineItem *> out;
    for (QGraphicsItem *item : panel->scene()->items()) {
        if (item->type() == QGraphicsLineItem::Type)
            out << static_cast<QGraphicsLineItem *>(item);
    }
    return out;
}

// A click at an image pixel of a panel, through the panel's own mouse handling.
void clickImage(ImageViewportWidget *panel, const QPointF &imagePixel)
{
    QTest::mouseClick(panel->viewport(), Qt::LeftButton, Qt::NoModifier, panel->mapFromScene(imagePixel));
}

void wheel(ImageViewportWidget *panel, int delta)
{
    const QPointF at = panel->viewport()->rect().center();
    QWheelEvent event(at, panel->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(panel->viewport(), &event);
}

QString status(const ViewerWindow &viewer)
{
    return viewer.statusBar()->currentMessage();
}

const QString seriesMime = QStringLiteral("application/x-dicom-series-uid");

QImage iconImage(const SeriesListWidget &list, int row)
{
    return list.item(row)->icon().pixmap(QSize(120, 120)).toImage().convertToFormat(QImage::Format_RGB32);
}

// What the list should show for frame `frame` of `path`, made without the list.
QImage expectedThumbnail(const QString &path, int frame)
{
    const render::RenderedFrame rendered = render::renderFrame(path, frame, render::WindowRequest{});
    return rendered.image.scaled(120, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestViewerWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QTemporaryDir m_config;
    // Axial CT: 10 slices, z = 100 … 111.25 mm, x and y from −160 mm.
    velmaris::gen::SeriesSpec m_axial = velmaris::testing::seriesSpec(10);
    // Coronal: 5 slices at y = −150 … −145 mm, z from 112 mm downwards.
    velmaris::gen::SeriesSpec m_coronal = velmaris::testing::seriesSpec(5);
    // Without any geometry.
    velmaris::gen::SeriesSpec m_flat = velmaris::testing::seriesSpec(3);
    // Axial in the frame of m_axial, over another range: 5 slices, z = 104 … 114 mm.
    velmaris::gen::SeriesSpec m_shortAxial = velmaris::testing::seriesSpec(5);
    QList<db::SliceRef> m_axialSlices, m_coronalSlices, m_flatSlices, m_shortAxialSlices;

    std::unique_ptr<ViewerWindow> makeViewer(bool portable = false)
    {
        auto viewer = std::make_unique<ViewerWindow>(QStringLiteral("1.2.3"), portable);
        viewer->setAttribute(Qt::WA_DeleteOnClose, false); // owned by the test
        viewer->showSeries(m_axial.seriesInstanceUid, m_axialSlices);
        db::SeriesRecord coronal;
        coronal.series_instance_uid = m_coronal.seriesInstanceUid;
        coronal.modality = QStringLiteral("CT");
        coronal.series_number = QStringLiteral("2");
        coronal.series_description = QStringLiteral("Coronal");
        viewer->showSeries(coronal, m_coronalSlices);
        viewer->showSeries(m_flat.seriesInstanceUid, m_flatSlices);
        viewer->show();
        return viewer;
    }
    // Axial in panel 0, coronal in panel 1 of a 1 × 2 grid.
    std::unique_ptr<ViewerWindow> makePair()
    {
        auto viewer = makeViewer();
        viewer->onGridLayoutChosen(1, 2);
        viewer->setActiveViewport(1);
        viewer->openSeries(m_coronal.seriesInstanceUid);
        return viewer;
    }

    // Writes a fresh series and returns it as the list takes it; every call
    // gets its own files, so no decoder cache is warm for them.
    SeriesListEntry makeEntry(const QString &uid, const QString &description, int slices, int rows, int columns,
                              Kind kind = Kind::CT)
    {
        velmaris::gen::SeriesSpec spec = velmaris::testing::seriesSpec(slices, rows, columns, kind);
        spec.seriesInstanceUid = uid;
        QStringList paths;
        if (!velmaris::gen::writeSeries(spec, m_dir.filePath(QStringLiteral("list%1").arg(++m_seriesCounter)), &paths))
            qFatal("cannot write a test series");
        SeriesListEntry entry{uid, QStringLiteral("CT №%1").arg(m_seriesCounter), description, {}};
        for (int i = 0; i < slices; ++i) {
            db::SliceRef slice;
            const bool multiFrame = paths.size() == 1;
            slice.file_path = multiFrame ? paths.first() : paths.at(i);
            slice.instance_number = multiFrame ? 1 : i + 1;
            slice.frame_index = multiFrame ? i : 0;
            entry.slices.append(slice);
        }
        return entry;
    }
    int m_seriesCounter = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && m_config.isValid());
        velmaris::testing::usePrivateSettings(m_config.path());
        using velmaris::testing::writeSlices;
        m_axialSlices = writeSlices(m_axial, m_dir.filePath("axial"));
        m_coronal.studyInstanceUid = m_shortAxial.studyInstanceUid = m_axial.studyInstanceUid;
        m_coronal.seriesNumber = 2;
        m_coronal.orientation = {1, 0, 0, 0, 0, -1};
        m_coronal.origin = {-160.0, -150.0, 112.0};
        m_flat.seriesNumber = 3;
        m_flat.writeGeometry = false;
        m_shortAxial.seriesNumber = 4;
        m_shortAxial.frameOfReferenceUid = m_axial.frameOfReferenceUid;
        m_shortAxial.origin = {-160.0, -160.0, 104.0};
        m_shortAxial.sliceSpacing = 2.5;
        m_coronalSlices = writeSlices(m_coronal, m_dir.filePath("coronal"));
        m_flatSlices = writeSlices(m_flat, m_dir.filePath("flat"));
        m_shortAxialSlices = writeSlices(m_shortAxial, m_dir.filePath("short"));
        QVERIFY(!m_axialSlices.isEmpty() && !m_coronalSlices.isEmpty() && !m_flatSlices.isEmpty()
                && !m_shortAxialSlices.isEmpty());
    }
    void init()
    {
        QSettings().clear();
        // A closed viewer's last thumbnail may still be rendering; the list tests count renders.
        QThreadPool::globalInstance()->waitForDone();
    }

    void opensWithTheFirstSeriesShown()
    {
        auto viewer = makeViewer();
        QCOMPARE(viewer->windowTitle(), QStringLiteral("Панель просмотра — Velmaris"));
        ImageViewportWidget *panel = viewer->viewport();
        QCOMPARE(panel->seriesUid(), m_axial.seriesInstanceUid);
        // Window actions act on the active panel, bound to the registry's keys.
        QAction *rotate = viewer->action(QStringLiteral("viewer.rotateCw"));
        QCOMPARE(rotate->shortcut(), velmaris::HotkeyRegistry::shortcut(QStringLiteral("viewer.rotateCw")));
        rotate->trigger();
        QCOMPARE(panel->rotationAngle(), 90);
        QTRY_COMPARE(viewer->seriesList()->count(), 3);
        // A series picked in the list goes into the active panel.
        emit viewer->seriesList()->seriesActivated(m_flat.seriesInstanceUid);
        QCOMPARE(panel->seriesUid(), m_flat.seriesInstanceUid);

        // A growing series keeps the slice shown.
        viewer->openSeries(m_axial.seriesInstanceUid);
        panel->showSlice(3);
        viewer->showSeries(m_axial.seriesInstanceUid, m_axialSlices.mid(0, 8));
        QCOMPARE(panel->sliceCount(), 8);
        QCOMPARE(panel->currentSlice(), 3);

        // The wheel pages, or steps through the series when asked to; the last series stays.
        wheel(panel, -120);
        QCOMPARE(panel->currentSlice(), 4);
        QAction *wheelSeries = viewer->action(QStringLiteral("wheelSeries"));
        QCOMPARE(wheelSeries->text(), QStringLiteral("Колесо: серии"));
        wheelSeries->setChecked(true);
        for (const auto *expected : {&m_coronal, &m_flat, &m_flat}) {
            wheel(panel, -120);
            QCOMPARE(panel->seriesUid(), expected->seriesInstanceUid);
        }

        viewer->action(QStringLiteral("resetCalibration"))->trigger();
        QCOMPARE(status(*viewer), QStringLiteral("У серии в активной панели нет ручной калибровки."));

        // The portable viewer says so and has no list to go back to.
        QVERIFY(viewer->action(QStringLiteral("backToList")) != nullptr);
        auto portable = makeViewer(true);
        QCOMPARE(portable->windowTitle(), QStringLiteral("Панель просмотра — Velmaris (портативный режим)"));
        QVERIFY(portable->action(QStringLiteral("backToList")) == nullptr);
    }

    void layoutChangesKeepSeriesWherePanelsStay()
    {
        auto viewer = makePair();
        // One panel is copied at its own size, the whole grid wider.
        QGuiApplication::clipboard()->clear();
        viewer->action(QStringLiteral("viewer.copyOne"))->trigger();
        const QSize one = QGuiApplication::clipboard()->pixmap().size();
        QCOMPARE(one, viewer->viewport()->size());
        viewer->action(QStringLiteral("viewer.copyAll"))->trigger();
        QVERIFY(QGuiApplication::clipboard()->pixmap().width() > one.width());

        viewer->onGridLayoutChosen(2, 2);
        QCOMPARE(viewer->panels().size(), 4);
        QCOMPARE(viewer->panels().at(1)->seriesUid(), m_coronal.seriesInstanceUid);
        // A click activates its panel; a series dropped onto a panel shows there.
        ImageViewportWidget *lower = viewer->panels().at(3);
        QTest::mouseClick(lower->viewport(), Qt::LeftButton, Qt::NoModifier, lower->viewport()->rect().center());
        QCOMPARE(viewer->viewport(), lower);
        emit lower->seriesDropped(m_flat.seriesInstanceUid);
        QCOMPARE(lower->seriesUid(), m_flat.seriesInstanceUid);

        viewer->onGridLayoutChosen(1, 1); // the other panels leave the grid
        QCOMPARE(viewer->panels().size(), 1);
        QCOMPARE(viewer->viewport()->seriesUid(), m_axial.seriesInstanceUid);
        // The keyboard stays with the active panel: Down pages, whatever the tool bar holds.
        viewer->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(viewer.get()));
        QCOMPARE(QApplication::focusWidget(), viewer->viewport());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(viewer->viewport()->currentSlice(), 1);
    }

    void layoutPickerChoosesRowsAndColumns()
    {
        velmaris::LayoutPicker picker;
        QCOMPARE(picker.caption(), QStringLiteral("Выберите раскладку"));
        QSignalSpy chosen(&picker, &velmaris::LayoutPicker::layoutChosen);
        picker.show();
        QTest::mouseMove(&picker, velmaris::LayoutPicker::cellCenter(1, 2));
        QCOMPARE(picker.caption(), QStringLiteral("2 × 3"));
        QTest::mouseClick(&picker, Qt::LeftButton, Qt::NoModifier, velmaris::LayoutPicker::cellCenter(1, 2));
        QCOMPARE(QList<QVariantList>(chosen), (QList<QVariantList>{{2, 3}}));
    }

    // Which slice a follower takes is the viewer links' own table; here the
    // window hands each page to the right rule, once, without feedback.
    void syncedPagingFollowsByPositionOrFractionWithoutFeedback()
    {
        auto viewer = makePair();
        viewer->onGridLayoutChosen(1, 3);
        viewer->showSeries(m_shortAxial.seriesInstanceUid, m_shortAxialSlices);
        viewer->setActiveViewport(2);
        viewer->openSeries(m_shortAxial.seriesInstanceUid);
        const QList<ImageViewportWidget *> panels = viewer->panels(); // 10 axial, 5 coronal, 5 short axial
        panels.at(0)->showSlice(9);
        QCOMPARE(viewer->action(QStringLiteral("syncSlices"))->text(), QStringLiteral("Синхронизация срезов"));
        viewer->action(QStringLiteral("syncSlices"))->setChecked(true);
        QList<std::shared_ptr<QSignalSpy>> pages;
        for (ImageViewportWidget *panel : panels)
            pages << std::make_shared<QSignalSpy>(panel, &ImageViewportWidget::sliceChanged);
        // The coronal crosses the axials: it follows by fraction. The other
        // axial stays level: 111.25 → 111.5, 106.25 → 106.5, 105 → 104.
        for (const QList<int> &c : {QList<int>{9, 4, 3}, {5, 2, 1}, {4, 2, 0}}) {
            panels.at(0)->showSlice(c.at(0));
            QCOMPARE(panels.at(1)->currentSlice(), c.at(1));
            QCOMPARE(panels.at(2)->currentSlice(), c.at(2));
        }
        for (const auto &spy : pages)
            QCOMPARE(spy->size(), 3);
        QCOMPARE(panels.at(0)->currentSlice(), 4);
    }

    void referenceLinesAndTheCursorCrossPanels()
    {
        auto viewer = makeViewer();
        QCOMPARE(status(*viewer), QStringLiteral("Референсные линии: нужно минимум 2 панели с загруженными сериями."));
        viewer->onGridLayoutChosen(1, 2);
        viewer->setActiveViewport(1);
        viewer->openSeries(m_coronal.seriesInstanceUid);
        ImageViewportWidget *axial = viewer->panels().at(0);
        ImageViewportWidget *coronal = viewer->panels().at(1);
        QCOMPARE(lines(axial).size(), 1);
        QCOMPARE(lines(coronal).size(), 1);
        QVERIFY(status(*viewer).isEmpty());
        // The coronal panel's line follows the axial slice: z = 100 + 1.25·i,
        // 0.7 mm per row downwards from z = 112.
        axial->showSlice(8);
        QVERIFY(std::abs(lines(coronal).first()->line().y1() - (112.0 - 110.0) / 0.7) < 1e-6);

        // The 3D cursor moves the other panel to the nearest slice:
        // z = 112 − 0.7·10 = 105 mm lies on axial slice 4 (100 + 4 × 1.25).
        viewer->chooseTool(MeasurementMode::Cursor3D);
        QCOMPARE(axial->measurementMode(), MeasurementMode::Cursor3D);
        clickImage(coronal, QPointF(32.0, 10.0));
        QCOMPARE(axial->currentSlice(), 4);
        // y = −146.25 mm (row 19.64 of the axial) lies on coronal slice 3.
        clickImage(axial, QPointF(20.0, (-146.25 + 160.0) / 0.7));
        QCOMPARE(coronal->currentSlice(), 3);

        viewer->action(QStringLiteral("referenceLines"))->setChecked(false);
        QVERIFY(lines(axial).isEmpty() && lines(coronal).isEmpty());
        // A click of the cursor on a series without coordinates is only refused.
        viewer->setActiveViewport(1);
        viewer->openSeries(m_flat.seriesInstanceUid);
        clickImage(coronal, QPointF(10.0, 10.0));
        QCOMPARE(status(*viewer), render::cursorNoSpatialInfoMessage());
    }

    // The order of the labels is the labeler's own table; here the dialog's
    // choice reaches it and clicks place, remove and clear labels on screen.
    void vertebraLabelsPlacedAndRemovedByClicks()
    {
        auto viewer = makeViewer();
        ImageViewportWidget *panel = viewer->viewport();
        velmaris::testing::ModalAnswerer<QDialog> answerer([](QDialog *dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Метки позвонков"));
            dialog->findChild<QComboBox *>(QStringLiteral("firstLabel"))->setCurrentText(QStringLiteral("L1"));
            dialog->findChild<QComboBox *>(QStringLiteral("clickOrder"))->setCurrentIndex(1); // towards the skull
            dialog->accept();
        });
        viewer->chooseTool(MeasurementMode::VertebraLabels);
        QCOMPARE(answerer.count, 1);
        QCOMPARE(panel->measurementMode(), MeasurementMode::VertebraLabels);

        clickImage(panel, QPointF(32.0, 20.0));
        QCOMPARE(status(*viewer), QStringLiteral("Поставлена метка L1. Следующая: Th12."));
        // A click next to a shown label removes it.
        clickImage(panel, QPointF(33.0, 21.0));
        QCOMPARE(status(*viewer), QStringLiteral("Метка L1 удалена."));
        QCOMPARE(viewer->vertebraLabeler().labels().size(), 0);
        clickImage(panel, QPointF(32.0, 50.0));
        viewer->action(QStringLiteral("clearVertebraLabels"))->trigger();
        QVERIFY(viewer->vertebraLabeler().labels().isEmpty());
    }

    void cinePlaysAtTheChosenRate()
    {
        auto viewer = makeViewer();
        QCOMPARE(viewer->cineRateBox()->suffix(), QStringLiteral(" кадр/сек"));
        viewer->cineRateBox()->setValue(60);
        QCOMPARE(viewer->cineTimer()->interval(), 16);
        viewer->viewport()->showSlice(8);
        viewer->action(QStringLiteral("cine"))->setChecked(true);
        QTRY_COMPARE(viewer->viewport()->currentSlice(), 9);
        QTRY_COMPARE(viewer->viewport()->currentSlice(), 0); // wraps
        viewer->action(QStringLiteral("cine"))->setChecked(false);
        QVERIFY(!viewer->cineTimer()->isActive());
    }

    void detachedPanelsReturnAndCloseWithTheViewer()
    {
        auto owned = makePair();
        ImageViewportWidget *coronal = owned->panels().at(1);
        std::unique_ptr<QMenu> menu(owned->buildSeriesMenu(1, nullptr));
        QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("✓ №2 · Coronal · 5 срез."));
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("🖥 Отсоединить на отдельный экран"));
        menu->actions().last()->trigger();
        QVERIFY(owned->isViewportDetached(1));
        QPointer<velmaris::DetachedPanelWindow> window = owned->detachedWindow(1);
        QCOMPARE(static_cast<QWidget *>(coronal)->window(), window.data());
        menu.reset(owned->buildSeriesMenu(1, nullptr));
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("📌 Прикрепить обратно"));

        // Closing the window puts the panel back into its cell.
        window->close();
        QVERIFY(!owned->isViewportDetached(1));
        QCOMPARE(static_cast<QWidget *>(coronal)->window(), owned.get());
        QCOMPARE(coronal->seriesUid(), m_coronal.seriesInstanceUid);

        owned->toggleDetachViewport(1);
        owned->toggleDetachViewport(0);
        QPointer<velmaris::DetachedPanelWindow> first = owned->detachedWindow(0);
        QPointer<velmaris::DetachedPanelWindow> second = owned->detachedWindow(1);
        QVERIFY(first && second);
        // "Back to the list" closes the viewer, which deletes itself and its detached windows.
        QPointer<ViewerWindow> viewer = owned.release();
        viewer->setAttribute(Qt::WA_DeleteOnClose);
        viewer->action(QStringLiteral("backToList"))->trigger();
        QVERIFY(!first && !second);
        QTRY_VERIFY(!viewer);
    }

    void comparesWithAnotherStudyOfThePatient()
    {
        // An archive with this study, an earlier one of the same patient and
        // one whose series are gone.
        QVector<dicom::DicomFileSummary> summaries;
        const auto add = [&summaries](const db::SliceRef &slice, const char *study, const char *series) {
            auto summary = dicom::readSummary(slice.file_path);
            QVERIFY(summary.has_value());
            summary->study_instance_uid = QLatin1String(study);
            summary->series_instance_uid = QLatin1String(series);
            summary->sop_instance_uid = summary->series_instance_uid + '.' + summary->sop_instance_uid;
            if (summary->study_instance_uid == QLatin1String("9.9.9")) {
                summary->study_date = QStringLiteral("20230105");
                summary->study_description = QStringLiteral("Прошлое КТ");
            }
            summaries << *summary;
        };
        for (const db::SliceRef &slice : m_coronalSlices)
            add(slice, "9.9.9", "9.9.9.1");
        add(m_axialSlices.first(), "1.2.3", "1.2.3.1");
        add(m_axialSlices.first(), "8.8.8", "8.8.8.1");
        db::Database archive(nullptr);
        QVERIFY(archive.open(QStringLiteral(":memory:")));
        QCOMPARE(archive.insertSummaries(summaries), summaries.size());
        QSqlQuery drop(QSqlDatabase::database(archive.connectionName()));
        QVERIFY(drop.exec(QStringLiteral("DELETE FROM instances WHERE series_instance_uid = '8.8.8.1'")));
        QVERIFY(drop.exec(QStringLiteral("DELETE FROM series WHERE study_instance_uid = '8.8.8'")));

        auto viewer = makeViewer();
        viewer->setArchive(&archive);
        // The menu offers the patient's other studies by date and description.
        QStringList offered;
        QTimer inspect;
        connect(&inspect, &QTimer::timeout, this, [&offered] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *action : menu->actions())
                    offered << action->text();
                menu->close();
            }
        });
        inspect.start(10);
        viewer->action(QStringLiteral("compare"))->trigger();
        inspect.stop();
        QVERIFY2(offered.contains(QStringLiteral("05.01.2023 · Прошлое КТ")), qPrintable(offered.join(u'|')));
        QVERIFY(offered.contains(QStringLiteral("Выбрать вручную…")));

        const int before = viewer->seriesList()->count();
        QVERIFY(viewer->addComparisonStudy(QStringLiteral("9.9.9")));
        QCOMPARE(viewer->seriesList()->count(), before + 2); // header and one series
        QCOMPARE(viewer->seriesList()->seriesUidAt(before + 1), QStringLiteral("9.9.9.1"));
        viewer->openSeries(QStringLiteral("9.9.9.1"));
        QCOMPARE(viewer->viewport()->sliceCount(), m_coronalSlices.size());

        velmaris::testing::ModalBoxCatcher catcher;
        QVERIFY(!viewer->addComparisonStudy(QStringLiteral("8.8.8")));
        QCOMPARE(catcher.title, QStringLiteral("Сравнение"));
        QCOMPARE(catcher.text, QStringLiteral("В выбранном исследовании не найдено ни одной серии."));
    }

    // The series list on its own: thumbnails off the GUI thread, headers of compared studies.
    void listAppearsAtOnceThenTheMiddleSlicesArrive()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        const QList<SeriesListEntry> entries{makeEntry(QStringLiteral("2.1"), QStringLiteral("Axial"), 3, 16, 16),
                                             makeEntry(QStringLiteral("2.2"), QString(), 1, 48, 48),
                                             makeEntry(QStringLiteral("2.3"), QStringLiteral("C"), 9, 32, 32)};
        list.setSeries(entries);

        // Filled at once with placeholders; no thumbnail can be in before the
        // event loop has run.
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.item(0)->text(), entries.at(0).label + QStringLiteral("\nAxial\n3 срез."));
        QCOMPARE(list.item(1)->text(), entries.at(1).label + QStringLiteral("\n(без описания)\n1 срез."));
        for (int row = 0; row < 3; ++row)
            QVERIFY(!list.thumbnailReady(list.seriesUidAt(row)) && !list.item(row)->icon().isNull());
        QCOMPARE(finished.count(), 0);
        QTRY_COMPARE(finished.count(), 1);
        for (int row = 0; row < 3; ++row)
            QVERIFY(list.thumbnailReady(list.seriesUidAt(row)));
    }

    void newerListDropsThumbnailsOfTheOlderOne()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        const SeriesListEntry square = makeEntry(QStringLiteral("5.1"), QStringLiteral("Old"), 3, 64, 64);
        const SeriesListEntry pending = makeEntry(QStringLiteral("5.2"), QStringLiteral("Old"), 3, 64, 64);
        const SeriesListEntry tall = makeEntry(QStringLiteral("5.3"), QStringLiteral("New"), 3, 96, 32);
        // The newer list lists 5.1 again but without slices: any icon it gets
        // can only be the first list's late result.
        SeriesListEntry reused = square;
        reused.slices.clear();
        const render::DecoderStatistics before = render::decoderStatistics();
        list.setSeries({square, pending});
        list.setSeries({reused, tall});
        QVERIFY(finished.wait());
        const render::DecoderStatistics after = render::decoderStatistics();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(list.count(), 2);
        QVERIFY(!list.thumbnailReady(QStringLiteral("5.1")));
        QVERIFY(iconImage(list, 0) != expectedThumbnail(square.slices.at(1).file_path, 0));
        QVERIFY(list.thumbnailReady(QStringLiteral("5.3")));
        QCOMPARE(iconImage(list, 1).size(), QSize(40, 120));
        QCOMPARE(iconImage(list, 1), expectedThumbnail(tall.slices.at(1).file_path, 0));
        // The job already running finished; the one still queued never started.
        QCOMPARE(after.renderImageLoads - before.renderImageLoads, quint64(2));
    }

    void seriesItemsDragAndActivate()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        QSignalSpy activated(&list, &SeriesListWidget::seriesActivated);
        list.setSeries({makeEntry(QStringLiteral("7.1"), QStringLiteral("Own"), 1, 16, 16)});
        list.addComparison(QStringLiteral("header"), {makeEntry(QStringLiteral("7.2"), QStringLiteral("Other"), 1, 16, 16)});
        list.resize(300, 600);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(list.rowOfSeries(QStringLiteral("7.2")), 2);
        QVERIFY(list.thumbnailReady(QStringLiteral("7.2")));

        QAbstractItemModel *model = list.model();
        QVERIFY(model->mimeTypes().contains(seriesMime));
        std::unique_ptr<QMimeData> dragged(model->mimeData({model->index(2, 0)}));
        QVERIFY(dragged && dragged->hasFormat(seriesMime));
        QCOMPARE(dragged->data(seriesMime), QByteArray("7.2"));
        QVERIFY(!std::unique_ptr<QMimeData>(model->mimeData({model->index(1, 0)})));

        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(0)).center());
        QCOMPARE(QList<QVariantList>(activated), (QList<QVariantList>{{QStringLiteral("7.1")}}));
    }

    void comparisonHeaderTextFormatsDateAndFillsEmptyValues()
    {
        QCOMPARE(SeriesListWidget::comparisonHeaderText("20240115", "Иванов^Иван^Иванович", "КТ груди"),
                 QStringLiteral("── 15.01.2024 · Иванов Иван Иванович ──\nКТ груди"));
        QCOMPARE(SeriesListWidget::comparisonHeaderText("20231201", "", ""),
                 QStringLiteral("── 01.12.2023 · (без имени) ──\n(без описания)"));
    }

    void pickerReturnsTheChosenStudy()
    {
        QList<db::StudyRecord> studies(3);
        for (int i = 0; i < 3; ++i)
            studies[i].study_instance_uid = QStringLiteral("9.%1").arg(i);
        velmaris::StudyPickerDialog dialog(studies);
        auto *table = dialog.findChild<QTableWidget *>();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->horizontalHeaderItem(3)->text(), QStringLiteral("Описание исследования"));
        table->selectRow(1);
        dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.selectedStudyUid(), QStringLiteral("9.1"));
    }
};

QTEST_MAIN(TestViewerWindow)
#include "test_viewer_window.moc"
