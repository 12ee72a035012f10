#include "ui/cpr/CprSectionsView.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace velmaris {

QString CprSectionsView::title()
{
    return QStringLiteral("Перпендикулярные срезы (±1 см, шаг 1 мм)");
}

CprSectionsView::CprSectionsView(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(200, 160);
}

void CprSectionsView::setSections(const QList<QImage> &sections, const QList<double> &offsetsMm,
                                  const QString &summary)
{
    m_sections = sections;
    m_offsets = offsetsMm;
    m_summary = summary;
    update();
}

void CprSectionsView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.setPen(QColor(0xff, 0xd6, 0x33));
    painter.drawText(QPointF(6, 16), title());
    painter.drawText(QPointF(6, 32), m_summary);
    if (m_sections.isEmpty())
        return;
    // The squarest grid that holds every section.
    const int count = int(m_sections.size());
    const QRectF area = QRectF(rect()).adjusted(4, 40, -4, -4);
    int bestColumns = 1;
    double bestSide = 0.0;
    for (int columns = 1; columns <= count; ++columns) {
        const int rows = (count + columns - 1) / columns;
        const double side = std::min(area.width() / columns, area.height() / rows);
        if (side > bestSide) {
            bestSide = side;
            bestColumns = columns;
        }
    }
    for (int i = 0; i < count; ++i) {
        const QRectF cell(area.left() + (i % bestColumns) * bestSide, area.top() + (i / bestColumns) * bestSide,
                          bestSide - 2, bestSide - 2);
        painter.drawImage(cell, m_sections[i]);
        const bool centre = i < m_offsets.size() && std::fabs(m_offsets[i]) < 1e-9;
        painter.setPen(centre ? QColor(0x33, 0xaa, 0xff) : QColor(0xff, 0xd6, 0x33));
        if (centre)
            painter.drawRect(cell);
        if (i < m_offsets.size())
            painter.drawText(cell.bottomLeft() + QPointF(3, -3), QStringLiteral("%1 мм").arg(m_offsets[i], 0, 'f', 0));
    }
}

} // namespace velmaris
