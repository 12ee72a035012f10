#pragma once

#include "db/StudyRecord.h"

#include <QList>
#include <QString>

namespace db {

// One row of the browser's study table: the six column texts and the data the
// window keeps with them.
struct StudyTableRow
{
    enum Column { PatientName, PatientId, DateTime, Description, Modalities, Counts, ColumnCount };

    QString text[ColumnCount];
    QString studyUid;
    bool isProtected = false;
    QString modalityList;
    // Set when the study's Patient ID is met with other names in the list:
    // the ID then carries a "⚠" and this text names them all.
    QString patientIdToolTip;
};

// Rows in list order. Studies without a patient ID are numbered "0001",
// "0002" … in that order, so they can still be told apart and searched.
// Names are shown with blanks for the DICOM "^" separators.
QList<StudyTableRow> buildStudyRows(const QList<StudyRecord> &studies);

// "20240131" + "083005.123" or "08:30:05" → "2024-01-31 08:30:05"; other dates
// as stored.
QString formatStudyDateTime(const QString &date, const QString &time);

} // namespace db
