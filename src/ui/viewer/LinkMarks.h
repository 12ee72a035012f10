#pragma once

#include <QLineF>
#include <QList>
#include <QPointF>

#include <optional>

class QGraphicsItem;
class QGraphicsPathItem;
class QGraphicsScene;

namespace velmaris {

// What the links between panels draw over a panel's picture, in image
// pixels: the reference lines of the other panels' slices (dashed blue) and
// the 3D cursor (a red cross). The items belong to the scene.
class LinkMarks
{
public:
    explicit LinkMarks(QGraphicsScene *scene);
    LinkMarks(const LinkMarks &) = delete;
    LinkMarks &operator=(const LinkMarks &) = delete;

    void setReferenceLines(const QList<QLineF> &lines);
    // None hides the cursor.
    void setCursor(const std::optional<QPointF> &imagePixel);

private:
    QGraphicsScene *m_scene;
    QList<QGraphicsItem *> m_referenceLines;
    QGraphicsPathItem *m_cursor;
};

} // namespace velmaris
