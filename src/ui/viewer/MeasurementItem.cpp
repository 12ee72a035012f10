#include "ui/viewer/MeasurementItem.h"

#include "ui/viewer/OutlinedTextItem.h"
#include "viewer/SmoothContour.h"

#include <QBrush>
#include <QGraphicsSimpleTextItem>
#include <QLineF>
#include <QPainterPath>
#include <QPen>


namespace velmaris {

namespace {

const QColor overlayColour(0xff, 0xd6, 0x33);
const QColor highlightColour(0x33, 0xaa, 0xff);
constexpr double arrowHeadLength = 6.0;

using render::MeasurementMode;

QPainterPath polylinePath(const QList<QPointF> &points, bool closed)
{
    QPainterPath path;
    if (points.isEmpty())
        return path;
    path.moveTo(points.first());
    for (qsizetype i = 1; i < points.size(); ++i)
        path.lineTo(points.at(i));
    if (closed && points.size() > 2)
        path.closeSubpath();
    return path;
}

QRectF cornersRect(const QList<QPointF> &points)
{
    return points.size() < 2 ? QRectF() : QRectF(points.at(0), points.at(1)).normalized();
}

} // namespace

MeasurementItem::MeasurementItem(MeasurementMode kind, int slice, QGraphicsItem *parent)
    : QGraphicsPathItem(parent)
    , m_kind(kind)
    , m_slice(slice)
    , m_label(new OutlinedTextItem(this))
{
    // Lines keep one screen pixel of width and the label its size at any zoom.
    QPen pen(overlayColour, 0);
    pen.setCosmetic(true);
    setPen(pen);
    m_label->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    m_label->setBrush(overlayColour);
    setZValue(1);
}

void MeasurementItem::setPoints(const QList<QPointF> &points)
{
    m_points = points;
    rebuild();
}

void MeasurementItem::setPoint(int index, const QPointF &point)
{
    if (index < 0 || index >= m_points.size())
        return;
    m_points[index] = point;
    rebuild();
}

void MeasurementItem::appendPoint(const QPointF &point)
{
    m_points.append(point);
    rebuild();
}

void MeasurementItem::setFinished(bool finished)
{
    m_finished = finished;
    rebuild();
}

QString MeasurementItem::labelText() const
{
    return m_label->text();
}

void MeasurementItem::setLabelText(const QString &text)
{
    m_label->setText(text);
}

void MeasurementItem::setLabelOffset(const QPointF &offset)
{
    m_labelOffset = offset;
    m_label->setPos(labelAnchor() + m_labelOffset);
}

void MeasurementItem::setLabelShift(const QPointF &screenPixels)
{
    m_label->setTransform(QTransform::fromTranslate(screenPixels.x(), screenPixels.y()));
}

void MeasurementItem::setHighlighted(bool highlighted)
{
    m_highlighted = highlighted;
    QPen outline = pen();
    outline.setColor(highlighted ? highlightColour : overlayColour);
    setPen(outline);
    m_label->setBrush(highlighted ? highlightColour : overlayColour);
}

QPointF MeasurementItem::labelAnchor() const
{
    if (m_points.isEmpty())
        return {};
    switch (m_kind) {
    case MeasurementMode::CobbAngle:
        if (m_points.size() >= 4)
            return ((m_points.at(0) + m_points.at(1)) / 2 + (m_points.at(2) + m_points.at(3)) / 2) / 2;
        return m_points.size() >= 2 ? (m_points.at(0) + m_points.at(1)) / 2 : m_points.first();
    case MeasurementMode::EllipseRoi:
    case MeasurementMode::EllipseArea:
        return cornersRect(m_points).topRight();
    case MeasurementMode::Angle:
    case MeasurementMode::Text:
    case MeasurementMode::Arrow:
        return m_points.first();
    default:
        return m_points.last();
    }
}

void MeasurementItem::rebuild()
{
    QPainterPath path;
    switch (m_kind) {
    case MeasurementMode::EllipseRoi:
    case MeasurementMode::EllipseArea:
        path.addEllipse(cornersRect(m_points));
        break;
    case MeasurementMode::Angle:
        if (m_points.size() >= 2) {
            path.moveTo(m_points.at(0));
            path.lineTo(m_points.at(1));
        }
        if (m_points.size() >= 3) {
            path.moveTo(m_points.at(0));
            path.lineTo(m_points.at(2));
        }
        break;
    case MeasurementMode::CobbAngle:
        for (qsizetype i = 0; i + 1 < m_points.size(); i += 2) {
            path.moveTo(m_points.at(i));
            path.lineTo(m_points.at(i + 1));
        }
        break;
    case MeasurementMode::Polygon:
    case MeasurementMode::FreehandRoi:
        path = polylinePath(m_points, m_finished || m_kind == MeasurementMode::FreehandRoi);
        break;
    case MeasurementMode::SmoothContour:
        path = m_finished ? render::closedSmoothContour(m_points) : render::openSmoothContour(m_points);
        break;
    case MeasurementMode::Arrow:
        if (m_points.size() >= 2) {
            const QLineF line(m_points.at(0), m_points.at(1));
            path.moveTo(line.p1());
            path.lineTo(line.p2());
            if (line.length() > 0) {
                QLineF head(line.p2(), line.p1());
                head.setLength(arrowHeadLength);
                QLineF left = head;
                left.setAngle(head.angle() + 25);
                QLineF right = head;
                right.setAngle(head.angle() - 25);
                path.moveTo(left.p2());
                path.lineTo(line.p2());
                path.lineTo(right.p2());
            }
        }
        break;
    case MeasurementMode::Text:
        break;
    default:
        path = polylinePath(m_points, false);
        break;
    }
    setPath(path);
    m_label->setPos(labelAnchor() + m_labelOffset);
}

} // namespace velmaris
