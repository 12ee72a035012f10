#pragma once

#include "db/SeriesRecord.h"
#include "db/SliceRef.h"
#include "db/StudyRecord.h"
#include "dicom/DicomFileSummary.h"
#include "dicom/DicomTagEntry.h"

#include <QJsonObject>

// JSON forms of the archive's records, keyed by the index's column names.
namespace velmaris::cli {

QJsonObject toJson(const dicom::DicomFileSummary &summary);
QJsonObject toJson(const db::StudyRecord &study);
QJsonObject toJson(const db::SeriesRecord &series);
QJsonObject toJson(const db::SliceRef &slice);
QJsonObject toJson(const dicom::DicomTagEntry &tag);

} // namespace velmaris::cli
