// The study browser with 10,000 studies and 1,000,000 instance rows: time to
// load and show the list, and to apply a filter change, beside the bare
// listStudies query measured in the same run.
//
//   bench_study_browser [studies=10000] [instancesPerStudy=100]

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

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

template<typename Fn>
double medianMs(int runs, Fn &&fn)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        fn();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
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
    const double queryMs = medianMs(5, [&] { window.database()->listStudies(); });
    const double loadMs = medianMs(5, [&] {
        window.reloadStudies();
        QCoreApplication::processEvents();
    });
    QLineEdit *text = window.filterBar()->textField();
    int toggle = 0;
    const double textMs = medianMs(7, [&] {
        text->setText(++toggle % 2 ? QStringLiteral("иван") : QStringLiteral("петр"));
        QCoreApplication::processEvents();
    });
    text->clear();
    QComboBox *range = window.filterBar()->rangeBox();
    const double rangeMs = medianMs(7, [&] {
        range->setCurrentIndex(range->currentIndex() == 4 ? 3 : 4);
        QCoreApplication::processEvents();
    });

    std::printf("%d studies, %d instance rows, offscreen, median\n", window.studyTable()->rowCount(), studies * perStudy);
    std::printf("listStudies alone (reference)   %8.1f ms\n", queryMs);
    std::printf("load and show the list          %8.1f ms  %.2f x reference (goal 300 ms)\n", loadMs, loadMs / queryMs);
    std::printf("text filter change              %8.1f ms  (goal 50 ms)\n", textMs);
    std::printf("date range change               %8.1f ms  (goal 50 ms)\n", rangeMs);
    return 0;
}
