#include "ui/viewer/LayoutPicker.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace velmaris {

namespace {
const QString idleCaption = QStringLiteral("Выберите раскладку");
} // namespace

LayoutPicker::LayoutPicker(QWidget *parent) : QWidget(parent, Qt::Popup), m_caption(idleCaption)
{
    // Wide enough for the caption in the application's font, at least the
    // cells with their margins.
    const int captionWidth = fontMetrics().horizontalAdvance(idleCaption) + 2 * margin;
    setFixedSize(std::max(2 * margin + 3 * cellSize, captionWidth),
                 2 * margin + 3 * cellSize + fontMetrics().height() + margin);
    setMouseTracking(true);
}

QPoint LayoutPicker::cellCenter(int row, int column)
{
    return {margin + column * cellSize + cellSize / 2, margin + row * cellSize + cellSize / 2};
}

QPoint LayoutPicker::cellAt(const QPoint &pos) const
{
    const int column = (pos.x() - margin) / cellSize;
    const int row = (pos.y() - margin) / cellSize;
    if (pos.x() < margin || pos.y() < margin || column > 2 || row > 2)
        return {-1, -1};
    return {column, row};
}

void LayoutPicker::setHover(const QPoint &cell)
{
    if (cell == m_hover)
        return;
    m_hover = cell;
    m_caption = cell.x() < 0 ? idleCaption : QStringLiteral("%1 × %2").arg(cell.y() + 1).arg(cell.x() + 1);
    update();
}

void LayoutPicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRect cell(margin + column * cellSize, margin + row * cellSize, cellSize - 2, cellSize - 2);
            const bool lit = m_hover.x() >= 0 && column <= m_hover.x() && row <= m_hover.y();
            painter.fillRect(cell, lit ? QColor(0x33, 0xaa, 0xff) : palette().base().color());
            painter.setPen(palette().mid().color());
            painter.drawRect(cell);
        }
    }
    painter.setPen(palette().text().color());
    painter.drawText(QRect(0, margin + 3 * cellSize, width(), height() - margin - 3 * cellSize), Qt::AlignCenter,
                     m_caption);
}

void LayoutPicker::mouseMoveEvent(QMouseEvent *event)
{
    setHover(cellAt(event->position().toPoint()));
}

void LayoutPicker::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint cell = cellAt(event->position().toPoint());
    if (cell.x() < 0)
        return;
    emit layoutChosen(cell.y() + 1, cell.x() + 1);
    close();
}

void LayoutPicker::leaveEvent(QEvent *)
{
    setHover({-1, -1});
}

} // namespace velmaris
