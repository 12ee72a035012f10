#include "ui/viewer/LinkMarks.h"

#include <QGraphicsLineItem>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QPainterPath>
#include <QPen>

namespace velmaris {

LinkMarks::LinkMarks(QGraphicsScene *scene) : m_scene(scene)
{
    QPen pen(QColor(0xff, 0x40, 0x40), 0);
    pen.setCosmetic(true);
    m_cursor = m_scene->addPath(QPainterPath(), pen);
    m_cursor->setZValue(2);
    m_cursor->setVisible(false);
}

void LinkMarks::setReferenceLines(const QList<QLineF> &lines)
{
    qDeleteAll(m_referenceLines);
    m_referenceLines.clear();
    QPen pen(QColor(0x33, 0xaa, 0xff), 0);
    pen.setCosmetic(true);
    pen.setStyle(Qt::DashLine);
    for (const QLineF &line : lines) {
        QGraphicsLineItem *item = m_scene->addLine(line, pen);
        item->setZValue(0.5);
        m_referenceLines.append(item);
    }
}

void LinkMarks::setCursor(const std::optional<QPointF> &imagePixel)
{
    if (!imagePixel) {
        m_cursor->setVisible(false);
        return;
    }
    constexpr double arm = 4.0;
    QPainterPath cross;
    cross.moveTo(*imagePixel - QPointF(arm, 0));
    cross.lineTo(*imagePixel + QPointF(arm, 0));
    cross.moveTo(*imagePixel - QPointF(0, arm));
    cross.lineTo(*imagePixel + QPointF(0, arm));
    m_cursor->setPath(cross);
    m_cursor->setVisible(true);
}

} // namespace velmaris
