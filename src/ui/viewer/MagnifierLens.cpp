#include "ui/viewer/MagnifierLens.h"

#include <QGraphicsView>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace velmaris {

MagnifierLens::MagnifierLens(QGraphicsView *view) : QLabel(view), m_view(view)
{
    setFixedSize(180, 180);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
}

void MagnifierLens::stepFactor(bool in)
{
    m_factor = std::clamp(m_factor * (in ? 1.25 : 0.8), 1.5, 8.0);
}

void MagnifierLens::showAt(const QPixmap &picture, double pixelAspect, const QPoint &viewPos)
{
    if (picture.isNull())
        return;
    const QSize box = size();
    // The picture under the pointer, enlarged by the factor over what the
    // view shows now.
    const QTransform view = m_view->transform();
    const double viewScale = std::max(std::hypot(view.m11(), view.m12()), 1e-6);
    const double sourceWidth = box.width() / (viewScale * m_factor);
    const double sourceHeight = sourceWidth / pixelAspect;
    const QPointF centre = m_view->mapToScene(viewPos);
    const QRectF source(centre - QPointF(sourceWidth / 2, sourceHeight / 2), QSizeF(sourceWidth, sourceHeight));
    QPixmap lens(box);
    lens.fill(Qt::black);
    {
        QPainter painter(&lens);
        painter.drawPixmap(QRectF(QPointF(0, 0), QSizeF(box)), picture, source);
        painter.setPen(QColor(0xff, 0xd6, 0x33));
        painter.drawRect(lens.rect().adjusted(0, 0, -1, -1));
    }
    setPixmap(lens);
    move(m_view->viewport()->mapTo(m_view, viewPos) - QPoint(box.width() / 2, box.height() / 2));
    show();
    raise();
}

} // namespace velmaris
