// The study browser with 10,000 studies and 1,000,000 instance rows: time to
// load and show the list, and to apply a filter change, beside the bare
// listStudies query measured in the same run. Median (min-max) of at least 5
// runs, the list and its reference interleaved.
//
//   bench_study_browser [studies=10000] [instancesPerStudy=100]

#include "BenchSeries.h"
#include "db/Database.h"
#include "ui/browser/MainWindow.h"
#include "ui/dialogs/StudyTable.h"
#include "ui/browser/StudyFilterBar.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

using velmaris::bench::Runs;

template<typename Fn>
Runs timedRuns(int runs, Fn &&fn)
{
    Runs out;
    for (int i = 0; i < runs; ++i)
        out.ms.push_back(velmaris::bench::timeMs(fn));
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Norvane"));
    QApplication::setOrganizationName(QStringLiteral("Brennick"));
    const int studies = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int perStudy = argc > 2 ? std::atoi(argv[2]) : 100;
    const QString data = home.filePath(QStringLiteral("data"));
    {
        db::Database database(nullptr);
        QDir().mkpath(data);
        database.open(data + QStringLiteral("/index.sqlite3"));
        QVector<dicom::DicomFileSummary> batch;
        const QStringList names{QStringLiteral("Иванов"), QStringLiteral("Петрова"), QStringLiteral("Smith"),
                                QStringLiteral("Кузнецов"), QStringLiteral("Орлова")};
        const QStringList modalities{QStringLiteral("CT"), QStringLiteral("MR"), QStringLiteral("CR"), QStringLiteral("US")};
        for (int s = 0; s < studies; ++s) {
            for (int i = 0; i < perStudy; ++i) {
                dicom::DicomFileSummary summary;
                summary.patient_id = QStringLiteral("P%1").arg(s / 2);
                summary.patient_name = names.at(s % names.size()) + QStringLiteral("^%1").arg(s / 2);
                summary.study_instance_uid = QStringLiteral("1.2.826.0.1.%1").arg(s);
                summary.study_date = QDate(2020, 1, 1).addDays(s % 1800).toString(QStringLiteral("yyyyMMdd"));
                summary.study_time = QStringLiteral("101500");
                summary.series_instance_uid = summary.study_instance_uid + QStringLiteral(".%1").arg(i / 10);
                summary.series_number = QString::number(i / 10 + 1);
                summary.modality = modalities.at(s % modalities.size());
                summary.sop_instance_uid = summary.series_instance_uid + QStringLiteral(".%1").arg(i);
                summary.file_path = QStringLiteral("/archive/%1/%2.dcm").arg(s).arg(i);
                batch.append(summary);
            }
            if (batch.size() >= 20000) {
                database.insertSummaries(batch);
                batch.clear();
            }
        }
        database.insertSummaries(batch);
    }

    velmaris::MainWindow window(data);
    window.show();
    QCoreApplication::processEvents();
    const std::vector<Runs> load = velmaris::bench::interleaved(5, {[&] { window.database()->listStudies(); },
                                                                     [&] {
                                                                         window.reloadStudies();
                                                                         QCoreApplication::processEvents();
                                                                     }});
    QLineEdit *text = window.filterBar()->textField();
    int toggle = 0;
    const Runs textRuns = timedRuns(7, [&] {
        text->setText(++toggle % 2 ? QStringLiteral("иван") : QStringLiteral("петр"));
        QCoreApplication::processEvents();
    });
    text->clear();
    QComboBox *range = window.filterBar()->rangeBox();
    const Runs rangeRuns = timedRuns(7, [&] {
        range->setCurrentIndex(range->currentIndex() == 4 ? 3 : 4);
        QCoreApplication::processEvents();
    });

    const double queryMs = load[0].median();
    const double loadMs = load[1].median();
    std::printf("bench_study_browser: %d studies, %d instance rows, offscreen, median (min-max)\n",
                window.studyTable()->rowCount(), studies * perStudy);
    std::printf("  listStudies alone (reference)   %s\n", qPrintable(load[0].text()));
    std::printf("  load and show the list          %s  %.2f x reference (goal 300 ms)\n", qPrintable(load[1].text()),
                loadMs / queryMs);
    std::printf("  text filter change              %s  (goal 50 ms)\n", qPrintable(textRuns.text()));
    std::printf("  date range change               %s  (goal 50 ms)\n", qPrintable(rangeRuns.text()));
    velmaris::bench::tableRow(QStringLiteral("study browser: load and show 10,000 studies"), load[1],
                              QStringLiteral("listStudies alone"), load[0], "ms", loadMs / queryMs,
                              QStringLiteral("<= 300 ms"), loadMs <= 300.0);
    return 0;
}
