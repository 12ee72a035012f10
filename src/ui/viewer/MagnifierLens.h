#pragma once

#include <QLabel>

class QGraphicsView;

namespace velmaris {

// The tool "Лупа": a square over the panel showing the picture under the
// pointer enlarged beyond what the view shows, while the button is held.
class MagnifierLens : public QLabel
{
    Q_OBJECT
public:
    // A child of `view`, hidden until shown at a point.
    explicit MagnifierLens(QGraphicsView *view);

    // 1.5 … 8.0 times the view's own zoom.
    double factor() const { return m_factor; }
    // One wheel notch: in (true) or out.
    void stepFactor(bool in);
    // Shows the part of `picture` under `viewPos` (a point in the view's
    // viewport). Rows are drawn taller or shorter by `pixelAspect`, so the
    // square lens covers proportionally fewer or more of them.
    void showAt(const QPixmap &picture, double pixelAspect, const QPoint &viewPos);

private:
    QGraphicsView *m_view;
    double m_factor = 2.5;
};

} // namespace velmaris
