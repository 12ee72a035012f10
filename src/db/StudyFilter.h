#pragma once

#include "db/StudyTableRow.h"

#include <QDate>
#include <QStringList>

namespace db {

// The browser's three filters over study rows: text, modalities, date range.
struct StudyFilter
{
    // In the order of the date combo box.
    enum class DateRange { Any, Today, Yesterday, LastTenDays, LastMonth, ExactDate, Between };

    QString text;
    QStringList modalities; // selected codes; empty: no modality test
    DateRange range = DateRange::Any;
    QDate first;  // the exact date, or the start of a range
    QDate second; // the end of a range

    // The inclusive [from, to] the range stands for relative to today; an
    // invalid pair means "no date test".
    QPair<QDate, QDate> dateBounds(const QDate &today) const;

    bool accepts(const StudyTableRow &row, const QDate &today) const;
};

} // namespace db
