#pragma once

#include <QString>

namespace db {

// One study as the browser lists it.
struct StudyRecord
{
    QString study_instance_uid;
    QString patient_id;
    QString patient_name;
    QString birth_date;
    QString sex;
    double weight_kg = 0.0;
    QString study_date;
    QString study_time;
    QString study_description;
    QString accession_number;
    qint32 series_count = 0;
    qint32 instance_count = 0; // instances rows, so frames count singly
    bool is_protected = false;
    QString modalities;        // distinct series modalities, comma-separated

    bool operator==(const StudyRecord &) const = default;
};

} // namespace db
