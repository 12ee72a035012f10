#include "db/StudyFilter.h"

#include "dicom/DicomText.h"

#include <algorithm>

namespace db {

QPair<QDate, QDate> StudyFilter::dateBounds(const QDate &today) const
{
    switch (range) {
    case DateRange::Any:
        return {};
    case DateRange::Today:
        return {today, today};
    case DateRange::Yesterday:
        return {today.addDays(-1), today.addDays(-1)};
    case DateRange::LastTenDays:
        return {today.addDays(-10), today};
    case DateRange::LastMonth:
        return {today.addMonths(-1), today};
    case DateRange::ExactDate:
        return {first, first};
    case DateRange::Between:
        return {first, second};
    }
    return {};
}

bool StudyFilter::accepts(const StudyTableRow &row, const QDate &today) const
{
    const QString needle = text.trimmed();
    if (!needle.isEmpty()) {
        // Names are shown with blanks, but a name copied from elsewhere
        // ("Иванов^Иван") is typed with the DICOM separators.
        const QString shownNeedle = dicom::displayPersonName(needle);
        const auto found = [&row](const QString &part) {
            return !part.isEmpty()
                   && (row.text[StudyTableRow::PatientName].contains(part, Qt::CaseInsensitive)
                       || row.text[StudyTableRow::PatientId].contains(part, Qt::CaseInsensitive));
        };
        if (!found(needle) && !found(shownNeedle))
            return false;
    }
    if (!modalities.isEmpty()) {
        // A substring test: "MR" also finds a list holding a longer code.
        const bool any = std::any_of(modalities.begin(), modalities.end(), [&row](const QString &code) {
            return row.modalityList.contains(code, Qt::CaseInsensitive);
        });
        if (!any)
            return false;
    }
    const auto [from, to] = dateBounds(today);
    if (range == DateRange::Any || !from.isValid() || !to.isValid())
        return true;
    const QDate date = QDate::fromString(row.text[StudyTableRow::DateTime].left(10), QStringLiteral("yyyy-MM-dd"));
    return date.isValid() && date >= from && date <= to;
}

} // namespace db
