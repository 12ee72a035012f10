#include "db/StudyTableRow.h"

#include "dicom/DicomText.h"

#include <QHash>
#include <QStringList>

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

namespace {

// For each Patient ID met with more than one name, those names as shown, in
// alphabetical order. Studies without a name say nothing about whose ID it is, and
// the empty ID is no shared ID: each such study gets a number of its own.
QHash<QString, QStringList> namesOfSharedIds(const QList<StudyRecord> &studies)
{
    QHash<QString, QStringList> shown;
    QHash<QString, QStringList> compared;
    for (const StudyRecord &study : studies) {
        const QString key = dicom::normalizedPersonName(study.patient_name);
        if (study.patient_id.isEmpty() || key.isEmpty())
            continue;
        QStringList &keys = compared[study.patient_id];
        if (keys.contains(key))
            continue;
        keys.append(key);
        shown[study.patient_id].append(dicom::displayPersonName(study.patient_name));
    }
    for (auto it = shown.begin(); it != shown.end();) {
        if (it->size() < 2) {
            it = shown.erase(it);
        } else {
            it->sort(Qt::CaseInsensitive);
            ++it;
        }
    }
    return shown;
}

} // namespace

QList<StudyTableRow> buildStudyRows(const QList<StudyRecord> &studies)
{
    const QHash<QString, QStringList> sharedIds = namesOfSharedIds(studies);
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
        const auto shared = sharedIds.constFind(study.patient_id);
        if (shared != sharedIds.cend()) {
            row.text[StudyTableRow::PatientId] += QStringLiteral(" ⚠");
            row.patientIdToolTip = QStringLiteral("Этот ID пациента встречается с разными именами: %1")
                                       .arg(shared->join(QStringLiteral(", ")));
        }
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
