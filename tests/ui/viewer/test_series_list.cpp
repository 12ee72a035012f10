#include "ui/viewer/SeriesListWidget.h"
#include "ui/viewer/StudyPickerDialog.h"

#include "seriesgen/SeriesGenerator.h"
#include "viewer/FrameDecoder.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using velmaris::SeriesListEntry;
using velmaris::SeriesListWidget;
using velmaris::StudyPickerDialog;

namespace {

const QString seriesMime = QStringLiteral("application/x-dicom-series-uid");

// Icons and reference images compared in one pixel format.
QImage comparable(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage iconImage(const SeriesListWidget &list, int row)
{
    return comparable(list.item(row)->icon().pixmap(QSize(120, 120)).toImage());
}

// What the list should show for frame `frame` of `path`, made without the list.
QImage expectedThumbnail(const QString &path, int frame)
{
    const render::RenderedFrame rendered = render::renderFrame(path, frame, render::WindowRequest{});
    return comparable(rendered.image.scaled(120, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace

class SeriesListTest : public QObject
{
    Q_OBJECT

private:
    // Writes a fresh series and returns it as the list takes it; every call
    // gets its own files, so no decoder cache is warm for them.
    SeriesListEntry makeEntry(const QString &uid, const QString &description, int slices, int rows,
                              int columns, velmaris::gen::Kind kind = velmaris::gen::Kind::CT)
    {
        velmaris::gen::SeriesSpec spec;
        spec.kind = kind;
        spec.slices = slices;
        spec.rows = rows;
        spec.columns = columns;
        spec.seriesInstanceUid = uid;
        QStringList paths;
        const QString dir = m_dir.filePath(QStringLiteral("s%1").arg(++m_seriesCounter));
        if (!velmaris::gen::writeSeries(spec, dir, &paths))
            qFatal("cannot write a test series");
        SeriesListEntry entry;
        entry.seriesUid = uid;
        entry.label = QStringLiteral("CT №%1").arg(m_seriesCounter);
        entry.description = description;
        for (int i = 0; i < slices; ++i) {
            db::SliceRef slice;
            slice.file_path = paths.size() == 1 ? paths.first() : paths.at(i);
            slice.instance_number = paths.size() == 1 ? 1 : i + 1;
            slice.frame_index = paths.size() == 1 ? i : 0;
            entry.slices.append(slice);
        }
        return entry;
    }

    QTemporaryDir m_dir;
    int m_seriesCounter = 0;

private slots:
    void itemTextsShowLabelDescriptionAndSliceCount()
    {
        SeriesListWidget list;
        const SeriesListEntry described = makeEntry(QStringLiteral("1.2.1"), QStringLiteral("Axial"), 3, 16, 16);
        const SeriesListEntry bare = makeEntry(QStringLiteral("1.2.2"), QString(), 1, 16, 16);
        list.setSeries({described, bare});

        QCOMPARE(list.count(), 2);
        QCOMPARE(list.item(0)->text(), described.label + QStringLiteral("\nAxial\n3 срез."));
        QCOMPARE(list.item(1)->text(), bare.label + QStringLiteral("\n(без описания)\n1 срез."));
        QCOMPARE(list.seriesUidAt(1), QStringLiteral("1.2.2"));
        QCOMPARE(list.rowOfSeries(QStringLiteral("1.2.1")), 0);
        QCOMPARE(list.rowOfSeries(QStringLiteral("absent")), -1);
        QCOMPARE(list.iconSize(), QSize(120, 120));
        // At the viewer's width each caption line has the icon's width and
        // more, under the icon rather than squeezed beside it.
        list.resize(180, 600);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QRect cell = list.visualItemRect(list.item(0));
        QVERIFY(cell.width() >= list.fontMetrics().horizontalAdvance(described.label + QStringLiteral(" Axial")));
        QVERIFY(cell.height() >= 120 + 3 * list.fontMetrics().lineSpacing());
        QVERIFY(list.viewport()->rect().contains(cell));
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        QVERIFY(finished.wait());
    }

    void listAppearsBeforeThumbnailsWhichThenAllArrive()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        const QList<SeriesListEntry> entries{makeEntry(QStringLiteral("2.1"), QStringLiteral("A"), 4, 64, 64),
                                             makeEntry(QStringLiteral("2.2"), QStringLiteral("B"), 3, 48, 48),
                                             makeEntry(QStringLiteral("2.3"), QStringLiteral("C"), 2, 32, 32)};
        list.setSeries(entries);

        // Filled at once with placeholders; no thumbnail can be in before the
        // event loop has run.
        QCOMPARE(list.count(), 3);
        for (const SeriesListEntry &entry : entries) {
            QVERIFY(!list.thumbnailReady(entry.seriesUid));
            QVERIFY(!list.item(list.rowOfSeries(entry.seriesUid))->icon().isNull());
        }
        QCOMPARE(finished.count(), 0);

        QVERIFY(finished.wait());
        QCOMPARE(finished.count(), 1);
        for (const SeriesListEntry &entry : entries)
            QVERIFY(list.thumbnailReady(entry.seriesUid));
    }

    void iconIsTheMiddleSliceScaledIntoTheIconSquare()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        // 5 slices of 64 rows × 96 columns: slice 2 is the middle one, shown 120 × 80.
        const SeriesListEntry entry = makeEntry(QStringLiteral("3.1"), QStringLiteral("Wide"), 5, 64, 96);
        list.setSeries({entry});
        QVERIFY(finished.wait());

        const QImage icon = iconImage(list, 0);
        QCOMPARE(icon.size(), QSize(120, 80));
        QCOMPARE(icon, expectedThumbnail(entry.slices.at(2).file_path, 0));
        QVERIFY(icon != expectedThumbnail(entry.slices.at(0).file_path, 0));

        // Pixels of 1.4 mm (rows) × 0.7 mm (columns): 67.2 × 89.6 mm, so the
        // icon stands upright in those proportions.
        SeriesListEntry tall = makeEntry(QStringLiteral("3.2"), QStringLiteral("Tall"), 1, 64, 96);
        tall.slices.first().pixel_spacing_y = 1.4;
        tall.slices.first().pixel_spacing_x = 0.7;
        list.setSeries({tall});
        QVERIFY(finished.wait());
        QCOMPARE(iconImage(list, 0).size(), QSize(90, 120));
    }

    void multiFrameSeriesUsesItsMiddleFrame()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        const SeriesListEntry entry = makeEntry(QStringLiteral("4.1"), QStringLiteral("Cine"), 5, 32, 32,
                                                velmaris::gen::Kind::ClassicMultiFrame);
        list.setSeries({entry});
        QVERIFY(finished.wait());

        const QString path = entry.slices.first().file_path;
        QCOMPARE(entry.slices.at(2).frame_index, 2);
        const QImage icon = iconImage(list, 0);
        QCOMPARE(icon.size(), QSize(120, 120));
        QCOMPARE(icon, expectedThumbnail(path, 2));
        QVERIFY(icon != expectedThumbnail(path, 0));
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
        const QImage icon = iconImage(list, 1);
        QCOMPARE(icon.size(), QSize(40, 120));
        QCOMPARE(icon, expectedThumbnail(tall.slices.at(1).file_path, 0));
        // The job already running finished; the one still queued never started.
        QCOMPARE(after.renderImageLoads - before.renderImageLoads, quint64(2));
    }

    void listWithoutThumbnailsReportsFinishedOnce()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        SeriesListEntry empty;
        empty.seriesUid = QStringLiteral("10.1");
        empty.label = QStringLiteral("SR №1");
        list.setSeries({empty});
        list.setSeries({empty});
        list.addComparison(QStringLiteral("header"), {});
        QCOMPARE(finished.count(), 0);
        QVERIFY(finished.wait());
        QCoreApplication::processEvents();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(list.item(0)->text(), QStringLiteral("SR №1\n(без описания)\n0 срез."));
        QVERIFY(!list.thumbnailReady(QStringLiteral("10.1")));
    }

    void onlyTheMiddleSliceOfEachSeriesIsDecoded()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        const QList<SeriesListEntry> entries{makeEntry(QStringLiteral("6.1"), QStringLiteral("A"), 7, 32, 32),
                                             makeEntry(QStringLiteral("6.2"), QStringLiteral("B"), 9, 32, 32)};
        const render::DecoderStatistics before = render::decoderStatistics();
        list.setSeries(entries);
        QVERIFY(finished.wait());
        const render::DecoderStatistics after = render::decoderStatistics();

        QCOMPARE(after.renderProbes - before.renderProbes, quint64(2));
        QCOMPARE(after.renderImageLoads - before.renderImageLoads, quint64(2));
        QCOMPARE(after.valueFileLoads, before.valueFileLoads);
    }

    void seriesItemsDragTheirUidAndHeadersNothing()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        list.setSeries({makeEntry(QStringLiteral("7.1"), QStringLiteral("Own"), 1, 16, 16)});
        list.addComparison(QStringLiteral("header"),
                           {makeEntry(QStringLiteral("7.2"), QStringLiteral("Other"), 1, 16, 16)});
        QVERIFY(finished.wait());

        QCOMPARE(list.count(), 3);
        QCOMPARE(list.item(1)->text(), QStringLiteral("header"));
        QCOMPARE(list.seriesUidAt(1), QString());
        QCOMPARE(list.rowOfSeries(QStringLiteral("7.2")), 2);
        QVERIFY(list.thumbnailReady(QStringLiteral("7.2")));

        const Qt::ItemFlags seriesFlags = list.item(2)->flags();
        QVERIFY(seriesFlags.testFlag(Qt::ItemIsDragEnabled));
        QVERIFY(seriesFlags.testFlag(Qt::ItemIsSelectable));
        const Qt::ItemFlags headerFlags = list.item(1)->flags();
        QVERIFY(!headerFlags.testFlag(Qt::ItemIsDragEnabled));
        QVERIFY(!headerFlags.testFlag(Qt::ItemIsSelectable));

        QAbstractItemModel *model = list.model();
        QVERIFY(model->mimeTypes().contains(seriesMime));
        std::unique_ptr<QMimeData> dragged(model->mimeData({model->index(2, 0)}));
        QVERIFY(dragged);
        QVERIFY(dragged->hasFormat(seriesMime));
        QCOMPARE(dragged->data(seriesMime), QByteArray("7.2"));
        std::unique_ptr<QMimeData> headerDrag(model->mimeData({model->index(1, 0)}));
        QVERIFY(!headerDrag);
    }

    void clickOnSeriesItemActivatesItAndOnHeaderNothing()
    {
        SeriesListWidget list;
        list.resize(300, 600);
        list.setSeries({makeEntry(QStringLiteral("8.1"), QStringLiteral("Own"), 1, 16, 16)});
        list.addComparison(QStringLiteral("header"), {});
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy activated(&list, &SeriesListWidget::seriesActivated);

        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(1)).center());
        QCOMPARE(activated.count(), 0);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(0)).center());
        QCOMPARE(activated.count(), 1);
        QCOMPARE(activated.first().first().toString(), QStringLiteral("8.1"));
    }

    void comparisonHeaderTextFormatsDateAndFillsEmptyValues_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all given") << "20240115" << "Иванов^Иван^Иванович" << "КТ груди"
                                   << "── 15.01.2024 · Иванов Иван Иванович ──\nКТ груди";
        QTest::newRow("empty name and description") << "20231201" << "" << ""
                                                     << "── 01.12.2023 · (без имени) ──\n(без описания)";
        QTest::newRow("unparsable date as stored") << "2024" << "X" << "Y" << "── 2024 · X ──\nY";
    }

    void comparisonHeaderTextFormatsDateAndFillsEmptyValues()
    {
        QFETCH(QString, date);
        QFETCH(QString, other);
        QFETCH(QString, description);
        QFETCH(QString, expected);
        QCOMPARE(SeriesListWidget::comparisonHeaderText(date, other, description), expected);
    }

    void pickerReturnsTheChosenStudy()
    {
        QList<db::StudyRecord> studies;
        for (int i = 0; i < 3; ++i) {
            db::StudyRecord study;
            study.study_instance_uid = QStringLiteral("9.%1").arg(i);
            study.patient_id = QStringLiteral("PID");
            study.patient_name = QStringLiteral("Test^Patient");
            study.study_date = QStringLiteral("2024010%1").arg(i + 1);
            study.study_description = QStringLiteral("Study %1").arg(i);
            studies.append(study);
        }
        StudyPickerDialog dialog(studies);
        auto *table = dialog.findChild<QTableWidget *>();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->horizontalHeaderItem(3)->text(), QStringLiteral("Описание исследования"));
        QPushButton *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        QVERIFY(!ok->isEnabled());
        QCOMPARE(dialog.selectedStudyUid(), QString());

        table->selectRow(1);
        QVERIFY(ok->isEnabled());
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        ok->click();
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.selectedStudyUid(), QStringLiteral("9.1"));
    }
};

QTEST_MAIN(SeriesListTest)
#include "test_series_list.moc"
