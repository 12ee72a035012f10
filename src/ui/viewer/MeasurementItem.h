#pragma once

#include "viewer/MeasurementMode.h"

#include <QGraphicsPathItem>
#include <QList>
#include <QPointF>
#include <QString>

class QGraphicsSimpleTextItem;

namespace velmaris {

// One measurement over a slice: its points in image pixels, drawn as a path,
// and a text label that keeps its size on screen whatever the zoom. The label
// sits at a default anchor of the shape plus an offset the user may drag; an
// arrow's comment sits at its tail, away from what the head points at.
class MeasurementItem : public QGraphicsPathItem
{
public:
    MeasurementItem(render::MeasurementMode kind, int slice, QGraphicsItem *parent = nullptr);

    render::MeasurementMode kind() const { return m_kind; }
    int slice() const { return m_slice; }

    const QList<QPointF> &points() const { return m_points; }
    void setPoints(const QList<QPointF> &points);
    void setPoint(int index, const QPointF &point);
    void appendPoint(const QPointF &point);

    // A polygon or smoothed contour in progress is drawn open, through the
    // placed vertices and the pointer.
    bool isFinished() const { return m_finished; }
    void setFinished(bool finished);

    QString comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }

    QString labelText() const;
    void setLabelText(const QString &text);
    QGraphicsSimpleTextItem *label() const { return m_label; }
    QPointF labelOffset() const { return m_labelOffset; }
    void setLabelOffset(const QPointF &offset);
    // A shift in screen pixels the panel adds to keep the label clear of the
    // panel's edges, of other labels and of what an arrow points at.
    void setLabelShift(const QPointF &screenPixels);

    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return m_highlighted; }

private:
    void rebuild();
    QPointF labelAnchor() const;

    render::MeasurementMode m_kind;
    int m_slice;
    QList<QPointF> m_points;
    bool m_finished = false;
    bool m_highlighted = false;
    QString m_comment;
    QGraphicsSimpleTextItem *m_label;
    QPointF m_labelOffset;
};

} // namespace velmaris
