#include "ui/cpr/CprImageView.h"

#include "viewer/MeasurementLabels.h"
#include "viewer/RoiStatistics.h"
#include "volume/StenosisMeasurement.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {

constexpr double grabDistance = 8.0;
const QColor overlayColour(0xff, 0xd6, 0x33);

} // namespace

QString CprImageView::typeName(CprTool tool)
{
    switch (tool) {
    case CprTool::Ruler: return QStringLiteral("ruler");
    case CprTool::VesselDiameter: return QStringLiteral("vesselDiameter");
    case CprTool::RoiHu: return QStringLiteral("roiHu");
    case CprTool::StenosisDiameter: return QStringLiteral("stenosisDiameter");
    case CprTool::StenosisArea: return QStringLiteral("stenosisArea");
    case CprTool::Cursor:
    case CprTool::Zoom: break;
    }
    return {};
}

CprImageView::CprImageView(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(160, 160);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
}

void CprImageView::setImage(std::shared_ptr<const render::CurvedMprImage> image)
{
    m_image = std::move(image);
    update();
}

void CprImageView::setTool(CprTool tool)
{
    m_tool = tool;
    m_drawing = -1;
}

void CprImageView::setMeasurements(const QList<render::CprMeasurement> &measurements)
{
    m_measurements = measurements;
    m_drawing = -1;
    update();
    emit measurementsChanged();
}

void CprImageView::addMeasurement(const render::CprMeasurement &measurement)
{
    m_measurements.append(measurement);
    update();
    emit measurementsChanged();
}

QPointF CprImageView::pixelMm() const
{
    if (!m_image)
        return {1.0, 1.0};
    // Horizontal: columns are centre-line samples, rows run across the line.
    if (m_image->layout == render::CprLayout::Horizontal)
        return {m_image->stepMm, m_image->pixelMm};
    return {m_image->pixelMm, m_image->stepMm};
}

int CprImageView::sampleAt(const QPointF &imagePos) const
{
    if (!m_image || m_image->samples <= 0)
        return -1;
    const double along = m_image->layout == render::CprLayout::Horizontal ? imagePos.x() : imagePos.y();
    return std::clamp(int(std::floor(along)), 0, m_image->samples - 1);
}

QRectF CprImageView::imageRect() const
{
    if (!m_image || m_image->isNull())
        return {};
    const QPointF mm = pixelMm();
    const double w = m_image->image.width() * mm.x();
    const double h = m_image->image.height() * mm.y();
    const double scale = std::min((width() - 4) / w, (height() - 4) / h) * m_zoom;
    const QSizeF size(w * scale, h * scale);
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2) + m_pan, size);
}

QPointF CprImageView::imagePosAt(const QPointF &widgetPos) const
{
    const QRectF rect = imageRect();
    if (rect.isEmpty())
        return {};
    return {(widgetPos.x() - rect.left()) / rect.width() * m_image->image.width(),
            (widgetPos.y() - rect.top()) / rect.height() * m_image->image.height()};
}

QPointF CprImageView::widgetPosOf(const QPointF &imagePos) const
{
    const QRectF rect = imageRect();
    if (rect.isEmpty())
        return {};
    return {rect.left() + imagePos.x() / m_image->image.width() * rect.width(),
            rect.top() + imagePos.y() / m_image->image.height() * rect.height()};
}

double CprImageView::lengthMm(const QList<QPointF> &points) const
{
    if (points.size() < 2)
        return 0.0;
    const QPointF mm = pixelMm();
    const QPointF d = points.last() - points.first();
    return std::hypot(d.x() * mm.x(), d.y() * mm.y());
}

double CprImageView::areaMm2(const QList<QPointF> &points) const
{
    const QPointF mm = pixelMm();
    double twice = 0.0;
    for (qsizetype i = 0; i < points.size(); ++i) {
        const QPointF &a = points[i];
        const QPointF &b = points[(i + 1) % points.size()];
        twice += a.x() * b.y() - b.x() * a.y();
    }
    return std::fabs(twice) / 2.0 * mm.x() * mm.y();
}

QString CprImageView::roiText(const QList<QPointF> &points) const
{
    if (points.size() < 2 || !m_image)
        return {};
    const QRectF box = QRectF(points.first(), points.last()).normalized();
    const QPointF c = box.center();
    const double rx = box.width() / 2, ry = box.height() / 2;
    render::RoiStatistics stats;
    double sum = 0.0, sumSq = 0.0;
    for (int y = int(std::floor(box.top())); y <= int(std::ceil(box.bottom())); ++y) {
        for (int x = int(std::floor(box.left())); x <= int(std::ceil(box.right())); ++x) {
            if (rx <= 0 || ry <= 0 || std::pow((x + 0.5 - c.x()) / rx, 2) + std::pow((y + 0.5 - c.y()) / ry, 2) > 1.0)
                continue;
            const float v = m_image->valueAt(x, y);
            if (!std::isfinite(v))
                continue;
            stats.minimum = stats.count == 0 ? v : std::min(stats.minimum, double(v));
            stats.maximum = stats.count == 0 ? v : std::max(stats.maximum, double(v));
            sum += v;
            sumSq += double(v) * v;
            ++stats.count;
        }
    }
    if (stats.count > 0) {
        stats.mean = sum / stats.count;
        stats.standardDeviation = std::sqrt(std::max(0.0, sumSq / stats.count - stats.mean * stats.mean));
    }
    return render::roiStatisticsLabel(stats);
}

QString CprImageView::labelOf(int index) const
{
    const render::CprMeasurement &m = m_measurements.at(index);
    if (m.type == typeName(CprTool::Ruler))
        return render::lengthLabel(lengthMm(m.points), 1.0);
    if (m.type == typeName(CprTool::VesselDiameter))
        return render::vesselDiameterLabel(lengthMm(m.points));
    if (m.type == typeName(CprTool::RoiHu))
        return roiText(m.points);
    const bool byArea = m.type == typeName(CprTool::StenosisArea);
    if (!byArea && m.type != typeName(CprTool::StenosisDiameter))
        return {};
    // The pair this one belongs to: same-kind measurements in drawing order.
    QList<int> sameKind;
    for (int i = 0; i < m_measurements.size(); ++i)
        if (m_measurements[i].type == m.type)
            sameKind.append(i);
    const int position = int(sameKind.indexOf(index));
    auto value = [&](int i) {
        return byArea ? areaMm2(m_measurements[i].points) : lengthMm(m_measurements[i].points);
    };
    if (position % 2 == 1) {
        const double whole = value(sameKind[position - 1]);
        return byArea ? render::areaLumenLabel(whole, value(index)) : render::diameterLumenLabel(whole, value(index));
    }
    if (position + 1 < sameKind.size()) {
        const double lumen = value(sameKind[position + 1]);
        return byArea ? render::areaStenosisLabel(value(index), lumen)
                      : render::diameterStenosisLabel(value(index), lumen);
    }
    return byArea ? render::areaStenosisFirstLabel(value(index)) : render::diameterStenosisFirstLabel(value(index));
}

QStringList CprImageView::labels() const
{
    QStringList texts;
    for (int i = 0; i < m_measurements.size(); ++i)
        texts.append(labelOf(i));
    return texts;
}

int CprImageView::measurementNear(const QPointF &widgetPos) const
{
    for (int i = int(m_measurements.size()) - 1; i >= 0; --i)
        for (const QPointF &p : m_measurements[i].points) {
            const QPointF w = widgetPosOf(p);
            if (std::hypot(w.x() - widgetPos.x(), w.y() - widgetPos.y()) <= grabDistance)
                return i;
        }
    return -1;
}

void CprImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QRectF target = imageRect();
    if (target.isEmpty())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_image->image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QStringList texts = labels();
    for (int i = 0; i < m_measurements.size(); ++i) {
        const render::CprMeasurement &m = m_measurements[i];
        if (m.points.isEmpty())
            continue;
        painter.setPen(QPen(overlayColour, 1.5));
        painter.setBrush(Qt::NoBrush);
        if (m.type == typeName(CprTool::RoiHu) && m.points.size() >= 2) {
            painter.drawEllipse(QRectF(widgetPosOf(m.points.first()), widgetPosOf(m.points.last())).normalized());
        } else {
            QPainterPath path(widgetPosOf(m.points.first()));
            for (qsizetype k = 1; k < m.points.size(); ++k)
                path.lineTo(widgetPosOf(m.points[k]));
            if (m.type == typeName(CprTool::StenosisArea))
                path.closeSubpath();
            painter.drawPath(path);
        }
        const QPointF anchor = widgetPosOf(m.points.last()) + QPointF(8 + m.labelOffsetX, -8 + m.labelOffsetY);
        painter.setPen(Qt::black);
        painter.drawText(anchor + QPointF(1, 1), texts[i]);
        painter.setPen(overlayColour);
        painter.drawText(anchor, texts[i]);
    }
}

void CprImageView::mousePressEvent(QMouseEvent *event)
{
    m_lastPos = event->position();
    if (!m_image || m_image->isNull())
        return;
    if (event->button() == Qt::RightButton) {
        // A right click on a measurement deletes it; elsewhere it pans.
        const int near = measurementNear(event->position());
        if (near >= 0) {
            m_measurements.removeAt(near);
            update();
            emit measurementsChanged();
        } else {
            m_panning = true;
        }
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF at = imagePosAt(event->position());
    switch (m_tool) {
    case CprTool::Cursor:
        emit sampleClicked(sampleAt(at));
        return;
    case CprTool::Zoom: m_zooming = true; return;
    default: break;
    }
    render::CprMeasurement m;
    m.type = typeName(m_tool);
    m.points = {at, at};
    m_measurements.append(m);
    m_drawing = int(m_measurements.size()) - 1;
    update();
}

void CprImageView::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF delta = event->position() - m_lastPos;
    m_lastPos = event->position();
    if (m_panning) {
        m_pan += delta;
        update();
        return;
    }
    if (m_zooming) {
        m_zoom = std::clamp(m_zoom * std::pow(1.01, -delta.y()), 0.2, 20.0);
        update();
        return;
    }
    if (!m_image || m_image->isNull())
        return;
    const QPointF at = imagePosAt(event->position());
    if (m_drawing >= 0) {
        QList<QPointF> &points = m_measurements[m_drawing].points;
        // The area outline follows the pointer; the others are two-point.
        if (m_measurements[m_drawing].type == typeName(CprTool::StenosisArea))
            points.append(at);
        else
            points.last() = at;
        update();
        return;
    }
    const float value = m_image->valueAt(int(std::floor(at.x())), int(std::floor(at.y())));
    if (std::isfinite(value))
        emit hoverText(QStringLiteral("HU: %1").arg(double(value), 0, 'f', 0));
}

void CprImageView::mouseReleaseEvent(QMouseEvent *)
{
    m_panning = m_zooming = false;
    if (m_drawing < 0)
        return;
    const render::CprMeasurement &m = m_measurements[m_drawing];
    const QPointF mm = pixelMm();
    const QPointF d = m.points.last() - m.points.first();
    // A click without a drag leaves nothing to measure.
    const bool empty = m.type == typeName(CprTool::StenosisArea) ? m.points.size() < 4
                                                                  : std::hypot(d.x() * mm.x(), d.y() * mm.y()) < 0.1;
    if (empty)
        m_measurements.removeAt(m_drawing);
    m_drawing = -1;
    update();
    emit measurementsChanged();
}

void CprImageView::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta != 0) {
        m_zoom = std::clamp(m_zoom * (delta > 0 ? 1.15 : 1.0 / 1.15), 0.2, 20.0);
        update();
    }
    event->accept();
}

} // namespace velmaris
