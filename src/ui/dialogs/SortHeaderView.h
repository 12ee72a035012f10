#pragma once

#include <QHeaderView>

namespace velmaris {

// A clickable table header whose sort arrow points up over an ascending column
// (А→Я, oldest first), as the arrows of the system's file lists do. Qt's own
// header draws the opposite arrow, which reads as the wrong order.
class SortHeaderView : public QHeaderView
{
    Q_OBJECT
public:
    explicit SortHeaderView(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void initStyleOptionForIndex(QStyleOptionHeader *option, int logicalIndex) const override;
};

} // namespace velmaris
