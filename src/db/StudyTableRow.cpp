#include "db/StudyTableRow.h"

#include "dicom/DicomText.h"

namespace db {

QString formatStudyDateTime(const QString &date, const QString &time)
{
    QString text = date.size() == 8
                       ? QStringLiteral("%1-%2-%3").arg(date.left(4), date.mid(4, 2), date.mid(6, 2))
                       : date;
    const QString shownTime = dicom::displayDicomTime(time);
    if (!shownTime.isEmpty())
        text += QStringLiteral(" %1").arg(shownTime);
    return text;
}

QList<StudyTableRow> buildStudyRows(const QList<StudyRecord> &studies)
{
    QList<StudyTableRow> rows;
    rows.reserve(studies.size());
    int unnamed = 0;
    for (const StudyRecord &study : studies) {
        StudyTableRow row;
        const QString shownName = dicom::displayPersonName(study.patient_name);
        const QString name = shownName.isEmpty() ? QStringLiteral("No Name") : shownName;
        row.text[StudyTableRow::PatientName] = study.is_protected ? QStringLiteral("🔒 %1").arg(name) : name;
        row.text[StudyTableRow::PatientId] = study.patient_id.isEmpty()
                                                 ? QStringLiteral("%1").arg(++unnamed, 4, 10, QLatin1Char('0'))
                                                 : study.patient_id;
        row.text[StudyTableRow::DateTime] = formatStudyDateTime(study.study_date, study.study_time);
        row.text[StudyTableRow::Description] = study.study_description;
        row.text[StudyTableRow::Modalities] = study.modalities;
        row.text[StudyTableRow::Counts] = QStringLiteral("%1 / %2").arg(study.series_count).arg(study.instance_count);
        row.studyUid = study.study_instance_uid;
        row.isProtected = study.is_protected;
        row.modalityList = study.modalities;
        rows.append(row);
    }
    return rows;
}

} // namespace db
