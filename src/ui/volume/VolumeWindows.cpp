#include "ui/volume/VolumeWindows.h"

#include "db/StudyCatalog.h"
#include "ui/volume/VirtualEndoscopyWindow.h"
#include "ui/volume/Vrt3DWindow.h"

namespace velmaris {

namespace {

// Windows of one patient share a key; without the archive the study stands in.
QString patientKeyOf(const QString &studyUid, db::Database *archive)
{
    if (archive != nullptr)
        if (const std::optional<db::StudyRecord> study = db::StudyCatalog(archive).study(studyUid))
            if (!study->patient_id.isEmpty() || !study->patient_name.isEmpty())
                return study->patient_id + QLatin1Char('\n') + study->patient_name;
    return studyUid;
}

} // namespace

void openVrt3DWindow(const QString &seriesDescription, const QList<db::SliceRef> &slices, const QString &studyUid,
                     db::Database *archive)
{
    Vrt3DWindow::open({seriesDescription, slices, studyUid, patientKeyOf(studyUid, archive)});
}

void openEndoscopyWindow(const QString &seriesDescription, const QList<db::SliceRef> &slices, const QString &studyUid,
                         db::Database *archive)
{
    VirtualEndoscopyWindow::open({seriesDescription, slices, studyUid, patientKeyOf(studyUid, archive)});
}

} // namespace velmaris
