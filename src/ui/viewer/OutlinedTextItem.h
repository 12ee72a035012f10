#pragma once

#include <QGraphicsSimpleTextItem>

namespace velmaris {

// A text item drawn with a dark outline around its glyphs, so that yellow
// measurement text stays readable on bright bone and contrast as well as on
// black background.
class OutlinedTextItem : public QGraphicsSimpleTextItem
{
public:
    explicit OutlinedTextItem(QGraphicsItem *parent = nullptr);

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

    static constexpr double outlineWidth = 3.0;
};

} // namespace velmaris
