#include "ui/viewer/SeriesListWidget.h"
#include "ui/dialogs/StudyPickerDialog.h"

#include "ui/viewer/GeneratedSlices.h"
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
using velmaris::gen::Kind;

namespace {

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

class SeriesListTest : public QObject
{
    Q_OBJECT

    // Writes a fresh series and returns it as the list takes it; every call
    // gets its own files, so no decoder cache is warm for them.
    SeriesListEntry makeEntry(const QString &uid, const QString &description, int slices, int rows, int columns,
                              Kind kind = Kind::CT)
    {
        velmaris::gen::SeriesSpec spec = velmaris::testing::seriesSpec(slices, rows, columns, kind);
        spec.seriesInstanceUid = uid;
        QStringList paths;
        if (!velmaris::gen::writeSeries(spec, m_dir.filePath(QStringLiteral("s%1").arg(++m_seriesCounter)), &paths))
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

    QTemporaryDir m_dir;
    int m_seriesCounter = 0;

private slots:
    void listAppearsAtOnceThenTheMiddleSlicesArrive()
    {
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        const QList<SeriesListEntry> entries{makeEntry(QStringLiteral("2.1"), QStringLiteral("Axial"), 3, 16, 16),
                                             makeEntry(QStringLiteral("2.2"), QString(), 1, 48, 48),
                                             makeEntry(QStringLiteral("2.3"), QStringLiteral("C"), 9, 32, 32)};
        const render::DecoderStatistics before = render::decoderStatistics();
        list.setSeries(entries);

        // Filled at once with placeholders; no thumbnail can be in before the
        // event loop has run.
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.item(0)->text(), entries.at(0).label + QStringLiteral("\nAxial\n3 срез."));
        QCOMPARE(list.item(1)->text(), entries.at(1).label + QStringLiteral("\n(без описания)\n1 срез."));
        QCOMPARE(list.seriesUidAt(1), QStringLiteral("2.2"));
        QCOMPARE(list.rowOfSeries(QStringLiteral("2.3")), 2);
        QCOMPARE(list.rowOfSeries(QStringLiteral("absent")), -1);
        for (int row = 0; row < 3; ++row)
            QVERIFY(!list.thumbnailReady(list.seriesUidAt(row)) && !list.item(row)->icon().isNull());
        QCOMPARE(finished.count(), 0);
        // At the viewer's width each caption line has the icon's width and
        // more, under the icon rather than squeezed beside it.
        list.resize(180, 600);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QRect cell = list.visualItemRect(list.item(0));
        QVERIFY(cell.width() >= list.fontMetrics().horizontalAdvance(entries.at(0).label + QStringLiteral(" Axial")));
        QVERIFY(cell.height() >= 120 + 3 * list.fontMetrics().lineSpacing());
        QVERIFY(list.viewport()->rect().contains(cell));

        QTRY_COMPARE(finished.count(), 1);
        for (int row = 0; row < 3; ++row)
            QVERIFY(list.thumbnailReady(list.seriesUidAt(row)));
        // One slice of each series was decoded, for its picture only.
        const render::DecoderStatistics after = render::decoderStatistics();
        QCOMPARE(after.renderProbes - before.renderProbes, quint64(3));
        QCOMPARE(after.renderImageLoads - before.renderImageLoads, quint64(3));
        QCOMPARE(after.valueFileLoads, before.valueFileLoads);
    }

    void iconIsTheMiddleFrameInTrueProportions_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<double>("rowSpacing"); // 0: as written (square)
        QTest::addColumn<QSize>("size");
        QTest::newRow("5 wide slices") << int(Kind::CT) << 64 << 96 << 0.0 << QSize(120, 80);
        QTest::newRow("5 frames in one file") << int(Kind::ClassicMultiFrame) << 32 << 32 << 0.0 << QSize(120, 120);
        // Pixels of 1.4 mm (rows) × 0.7 mm (columns): 89.6 × 67.2 mm stand upright.
        QTest::newRow("non-square pixels") << int(Kind::CT) << 64 << 96 << 1.4 << QSize(90, 120);
    }
    void iconIsTheMiddleFrameInTrueProportions()
    {
        QFETCH(int, kind);
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(double, rowSpacing);
        QFETCH(QSize, size);
        SeriesListWidget list;
        QSignalSpy finished(&list, &SeriesListWidget::thumbnailsFinished);
        SeriesListEntry entry = makeEntry(QStringLiteral("3.1"), QStringLiteral("Wide"), 5, rows, columns, Kind(kind));
        for (db::SliceRef &slice : entry.slices) {
            slice.pixel_spacing_x = 0.7;
            slice.pixel_spacing_y = rowSpacing > 0 ? rowSpacing : 0.7;
        }
        list.setSeries({entry});
        QVERIFY(finished.wait());
        const QImage icon = iconImage(list, 0);
        QCOMPARE(icon.size(), size);
        if (rowSpacing > 0)
            return;
        QCOMPARE(icon, expectedThumbnail(entry.slices.at(2).file_path, entry.slices.at(2).frame_index));
        QVERIFY(icon != expectedThumbnail(entry.slices.at(0).file_path, 0));
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

    void seriesItemsDragAndActivateHeadersNothing()
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
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.item(1)->text(), QStringLiteral("header"));
        QCOMPARE(list.seriesUidAt(1), QString());
        QCOMPARE(list.rowOfSeries(QStringLiteral("7.2")), 2);
        QVERIFY(list.thumbnailReady(QStringLiteral("7.2")));
        QVERIFY(list.item(2)->flags().testFlags(Qt::ItemIsDragEnabled | Qt::ItemIsSelectable));
        QVERIFY(!list.item(1)->flags().testAnyFlags(Qt::ItemIsDragEnabled | Qt::ItemIsSelectable));

        QAbstractItemModel *model = list.model();
        QVERIFY(model->mimeTypes().contains(seriesMime));
        std::unique_ptr<QMimeData> dragged(model->mimeData({model->index(2, 0)}));
        QVERIFY(dragged && dragged->hasFormat(seriesMime));
        QCOMPARE(dragged->data(seriesMime), QByteArray("7.2"));
        QVERIFY(!std::unique_ptr<QMimeData>(model->mimeData({model->index(1, 0)})));

        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(1)).center());
        QCOMPARE(activated.count(), 0);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.item(0)).center());
        QCOMPARE(QList<QVariantList>(activated), (QList<QVariantList>{{QStringLiteral("7.1")}}));
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
        QList<db::StudyRecord> studies(3);
        for (int i = 0; i < 3; ++i) {
            studies[i].study_instance_uid = QStringLiteral("9.%1").arg(i);
            studies[i].patient_name = QStringLiteral("Test^Patient");
            studies[i].study_date = QStringLiteral("2024010%1").arg(i + 1);
            studies[i].study_description = QStringLiteral("Study %1").arg(i);
        }
        velmaris::StudyPickerDialog dialog(studies);
        auto *table = dialog.findChild<QTableWidget *>();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->horizontalHeaderItem(3)->text(), QStringLiteral("Описание исследования"));
        QPushButton *ok = dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        QVERIFY(!ok->isEnabled());
        QCOMPARE(dialog.selectedStudyUid(), QString());
        table->selectRow(1);
        QVERIFY(ok->isEnabled());
        ok->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.selectedStudyUid(), QStringLiteral("9.1"));
    }
};

QTEST_MAIN(SeriesListTest)
#include "test_series_list.moc"
