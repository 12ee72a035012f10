#include "ui/dialogs/SortHeaderView.h"

#include <QStyleOptionHeader>

namespace velmaris {

SortHeaderView::SortHeaderView(Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent)
{
    // What a table view sets up on the header it makes for itself.
    setSectionsClickable(true);
    // No bold captions over a selected row: the wider text no longer fit
    // its column, and the row shows its selection itself.
    setHighlightSections(false);
}

void SortHeaderView::initStyleOptionForIndex(QStyleOptionHeader *option, int logicalIndex) const
{
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    // Qt hands the style "SortDown" for ascending order; the styles draw
    // that as a downward arrow.
    if (option->sortIndicator == QStyleOptionHeader::SortDown)
        option->sortIndicator = QStyleOptionHeader::SortUp;
    else if (option->sortIndicator == QStyleOptionHeader::SortUp)
        option->sortIndicator = QStyleOptionHeader::SortDown;
}

} // namespace velmaris
