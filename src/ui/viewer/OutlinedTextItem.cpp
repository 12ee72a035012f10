#include "ui/viewer/OutlinedTextItem.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

namespace velmaris {

OutlinedTextItem::OutlinedTextItem(QGraphicsItem *parent) : QGraphicsSimpleTextItem(parent) {}

QRectF OutlinedTextItem::boundingRect() const
{
    const double reach = outlineWidth / 2 + 1;
    return QGraphicsSimpleTextItem::boundingRect().adjusted(-reach, -reach, reach, reach);
}

QPainterPath OutlinedTextItem::shape() const
{
    QPainterPath path;
    path.addRect(boundingRect());
    return path;
}

void OutlinedTextItem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    // The glyphs as one path, laid out line by line like the plain item.
    const QFontMetricsF metrics(font());
    QPainterPath glyphs;
    double baseline = metrics.ascent();
    for (const QString &line : text().split(QLatin1Char('\n'))) {
        glyphs.addText(0, baseline, font(), line);
        baseline += metrics.lineSpacing();
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPen outline(QColor(0, 0, 0, 220), outlineWidth);
    outline.setJoinStyle(Qt::RoundJoin);
    painter->strokePath(glyphs, outline);
    painter->fillPath(glyphs, brush());
    painter->restore();
}

} // namespace velmaris
