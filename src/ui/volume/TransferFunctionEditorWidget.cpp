#include "ui/volume/TransferFunctionEditorWidget.h"

#include <QColorDialog>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {

constexpr double handleRadius = 6.0;
constexpr double margin = 12.0;

} // namespace

TransferFunctionEditorWidget::TransferFunctionEditorWidget(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(480, 220);
}

void TransferFunctionEditorWidget::setHuRange(double minimum, double maximum)
{
    m_huMin = std::isfinite(minimum) ? minimum : -1024.0;
    m_huMax = std::isfinite(maximum) ? maximum : 3071.0;
    if (m_huMax - m_huMin < 1.0)
        m_huMax = m_huMin + 1.0;
    update();
}

void TransferFunctionEditorWidget::setPreset(const render::TransferFunctionPreset &preset)
{
    m_preset = preset;
    if (!m_preset.nodes.isEmpty())
        setHuRange(std::min(m_huMin, m_preset.nodes.first().hu - 50.0), std::max(m_huMax, m_preset.nodes.last().hu + 50.0));
    m_dragged = -1;
    update();
}

QRectF TransferFunctionEditorWidget::plotRect() const
{
    return QRectF(rect()).adjusted(margin, margin, -margin, -margin - 14.0);
}

QPointF TransferFunctionEditorWidget::nodePosition(int index) const
{
    const QRectF plot = plotRect();
    const render::TransferFunctionNode &node = m_preset.nodes.at(index);
    return {plot.left() + (node.hu - m_huMin) / (m_huMax - m_huMin) * plot.width(),
            plot.bottom() - std::clamp(node.opacity, 0.0, 1.0) * plot.height()};
}

int TransferFunctionEditorWidget::nodeAt(const QPointF &position) const
{
    int best = -1;
    double bestDistance = handleRadius + 3.0;
    for (int i = 0; i < m_preset.nodes.size(); ++i) {
        const QPointF d = nodePosition(i) - position;
        const double distance = std::hypot(d.x(), d.y());
        if (distance <= bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

double TransferFunctionEditorWidget::huAt(double x) const
{
    const QRectF plot = plotRect();
    return m_huMin + std::clamp((x - plot.left()) / std::max(plot.width(), 1.0), 0.0, 1.0) * (m_huMax - m_huMin);
}

double TransferFunctionEditorWidget::opacityAt(double y) const
{
    const QRectF plot = plotRect();
    return std::clamp((plot.bottom() - y) / std::max(plot.height(), 1.0), 0.0, 1.0);
}

void TransferFunctionEditorWidget::changed(bool final)
{
    update();
    emit presetChangedDraft(m_preset);
    if (final)
        emit presetChangedFinal(m_preset);
}

void TransferFunctionEditorWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(24, 24, 24));
    const QRectF plot = plotRect();
    painter.setPen(QColor(70, 70, 70));
    painter.drawRect(plot);
    painter.setPen(QColor(150, 150, 150));
    painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), 14), Qt::AlignLeft,
                     QStringLiteral("%1 HU").arg(m_huMin, 0, 'f', 0));
    painter.drawText(QRectF(plot.left(), plot.bottom() + 2, plot.width(), 14), Qt::AlignRight,
                     QStringLiteral("%1 HU").arg(m_huMax, 0, 'f', 0));
    if (m_preset.nodes.isEmpty())
        return;
    // The colour band under the curve: what each HU looks like.
    for (int x = int(plot.left()); x < int(plot.right()); ++x) {
        const render::Rgba c = m_preset.evaluate(huAt(x + 0.5));
        painter.setPen(QColor::fromRgbF(float(c[0]), float(c[1]), float(c[2]), float(0.25 + 0.75 * c[3])));
        painter.drawLine(QPointF(x + 0.5, plot.bottom()), QPointF(x + 0.5, plot.bottom() - c[3] * plot.height()));
    }
    QPainterPath curve;
    curve.moveTo(plot.left(), nodePosition(0).y());
    for (int i = 0; i < m_preset.nodes.size(); ++i)
        curve.lineTo(nodePosition(i));
    curve.lineTo(plot.right(), nodePosition(int(m_preset.nodes.size()) - 1).y());
    painter.setPen(QPen(QColor(240, 240, 240), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(curve);
    for (int i = 0; i < m_preset.nodes.size(); ++i) {
        painter.setPen(QPen(i == m_dragged ? QColor(255, 235, 25) : QColor(255, 255, 255), 1.5));
        painter.setBrush(m_preset.nodes.at(i).color);
        painter.drawEllipse(nodePosition(i), handleRadius, handleRadius);
    }
}

void TransferFunctionEditorWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int node = nodeAt(event->position());
    if (event->modifiers() & Qt::ControlModifier) {
        if (node >= 0) {
            if (m_preset.nodes.size() > 2) {
                m_preset.nodes.removeAt(node);
                changed(true);
            }
            return;
        }
        const double hu = huAt(event->position().x());
        const render::Rgba c = m_preset.evaluate(hu);
        render::TransferFunctionNode added{hu, QColor::fromRgbF(float(c[0]), float(c[1]), float(c[2])),
                                           opacityAt(event->position().y())};
        const auto at = std::upper_bound(m_preset.nodes.begin(), m_preset.nodes.end(), hu,
                                         [](double value, const render::TransferFunctionNode &n) { return value < n.hu; });
        m_preset.nodes.insert(at, added);
        changed(true);
        return;
    }
    m_dragged = node;
    m_moved = false;
    update();
}

void TransferFunctionEditorWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragged < 0 || !(event->buttons() & Qt::LeftButton))
        return;
    // A node stays between its neighbours, so the nodes stay in HU order.
    const double low = m_dragged > 0 ? m_preset.nodes.at(m_dragged - 1).hu : -1e9;
    const double high = m_dragged + 1 < m_preset.nodes.size() ? m_preset.nodes.at(m_dragged + 1).hu : 1e9;
    render::TransferFunctionNode &node = m_preset.nodes[m_dragged];
    node.hu = std::clamp(huAt(event->position().x()), low, high);
    node.opacity = opacityAt(event->position().y());
    m_moved = true;
    changed(false);
}

void TransferFunctionEditorWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_dragged < 0)
        return;
    m_dragged = -1;
    if (m_moved)
        changed(true);
    else
        update();
}

void TransferFunctionEditorWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    const int node = nodeAt(event->position());
    if (node < 0 || event->button() != Qt::LeftButton)
        return;
    m_dragged = -1;
    const QColor colour = QColorDialog::getColor(m_preset.nodes.at(node).color, this, QStringLiteral("Цвет узла кривой"));
    if (!colour.isValid())
        return;
    m_preset.nodes[node].color = colour;
    changed(true);
}

} // namespace velmaris
