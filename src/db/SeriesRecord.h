#pragma once

#include <QString>

namespace db {

struct SeriesRecord
{
    QString series_instance_uid;
    QString study_instance_uid;
    QString modality;
    QString series_description;
    QString series_number;
    qint32 instance_count = 0;
    QString body_part_examined;
    QString laterality;

    bool operator==(const SeriesRecord &) const = default;
};

} // namespace db
