#include "ui/cpr/CprReferencePanel.h"

#include "volume/MprReslicer.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace velmaris {

using render::operator-;

namespace {

// How near a point (widget pixels) a press picks it up.
constexpr double grabDistance = 8.0;
// Points this close to the shown slice (mm) are drawn as lying on it.
constexpr double onSliceMm = 2.0;

} // namespace

CprReferencePanel::CprReferencePanel(CprReferencePlane plane, QWidget *parent) : QWidget(parent), m_plane(plane)
{
    setMinimumSize(120, 120);
    setMouseTracking(false);
    setFocusPolicy(Qt::ClickFocus);
    setObjectName(planeName(plane));
}

QString CprReferencePanel::planeName(CprReferencePlane plane)
{
    switch (plane) {
    case CprReferencePlane::Axial: return QStringLiteral("Аксиальный");
    case CprReferencePlane::Front: return QStringLiteral("Спереди");
    case CprReferencePlane::Side: break;
    }
    return QStringLiteral("Сбоку");
}

void CprReferencePanel::setVolume(std::shared_ptr<const render::Volume> volume)
{
    m_volume = std::move(volume);
    m_slice = sliceCount() / 2;
    render();
}

void CprReferencePanel::setWindow(double centre, double width)
{
    m_centre = centre;
    m_width = width;
    render();
}

void CprReferencePanel::setPoints(const std::vector<render::Vec3d> &points)
{
    m_points = points;
    update();
}

void CprReferencePanel::setCenterline(const std::vector<render::Vec3d> &line)
{
    m_line = line;
    update();
}

int CprReferencePanel::normalAxis() const
{
    switch (m_plane) {
    case CprReferencePlane::Axial: return 2;
    case CprReferencePlane::Front: return 1;
    case CprReferencePlane::Side: break;
    }
    return 0;
}

double CprReferencePanel::sliceSpacing() const
{
    if (!m_volume)
        return 1.0;
    const double spacing[3] = {m_volume->spacingX, m_volume->spacingY, m_volume->spacingZ};
    return spacing[normalAxis()];
}

int CprReferencePanel::sliceCount() const
{
    if (!m_volume || !m_volume->isValid())
        return 0;
    const int counts[3] = {m_volume->width, m_volume->height, m_volume->depth};
    return counts[normalAxis()];
}

void CprReferencePanel::setSlice(int slice)
{
    const int clamped = std::clamp(slice, 0, std::max(0, sliceCount() - 1));
    if (clamped == m_slice && !m_image.isNull())
        return;
    m_slice = clamped;
    render();
}

void CprReferencePanel::showSliceThrough(const render::Vec3d &point)
{
    setSlice(int(std::lround(point[std::size_t(normalAxis())] / sliceSpacing())));
}

void CprReferencePanel::render()
{
    if (!m_volume || !m_volume->isValid()) {
        m_image = QImage();
    } else {
        switch (m_plane) {
        case CprReferencePlane::Axial:
            m_image = render::renderAxial(*m_volume, m_slice, m_centre, m_width, 0, 0);
            break;
        case CprReferencePlane::Front:
            m_image = render::renderCoronal(*m_volume, m_slice, m_centre, m_width, 0, 0);
            break;
        case CprReferencePlane::Side:
            m_image = render::renderSagittal(*m_volume, m_slice, m_centre, m_width, 0, 0);
            break;
        }
    }
    update();
}

QPointF CprReferencePanel::pixelMm() const
{
    if (!m_volume)
        return {1.0, 1.0};
    switch (m_plane) {
    case CprReferencePlane::Axial: return {m_volume->spacingX, m_volume->spacingY};
    case CprReferencePlane::Front: return {m_volume->spacingX, m_volume->spacingZ};
    case CprReferencePlane::Side: break;
    }
    return {m_volume->spacingY, m_volume->spacingZ};
}

QRectF CprReferencePanel::imageRect() const
{
    if (m_image.isNull())
        return {};
    // True proportions: the picture's extent in millimetres fitted in.
    const QPointF mm = pixelMm();
    const double w = m_image.width() * mm.x();
    const double h = m_image.height() * mm.y();
    const double scale = std::min((width() - 4) / w, (height() - 4) / h);
    const QSizeF size(w * scale, h * scale);
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

render::Vec3d CprReferencePanel::pointAt(const QPointF &widgetPos) const
{
    const QRectF rect = imageRect();
    if (rect.isEmpty())
        return {0.0, 0.0, 0.0};
    const double u = (widgetPos.x() - rect.left()) / rect.width() * m_image.width();
    const double v = (widgetPos.y() - rect.top()) / rect.height() * m_image.height();
    const render::Volume &vol = *m_volume;
    // Pixel centres lie at half-integer picture positions; coronal and
    // sagittal pictures show the last slice at the top.
    const double zFromRow = (vol.depth - 0.5 - v) * vol.spacingZ;
    switch (m_plane) {
    case CprReferencePlane::Axial:
        return {(u - 0.5) * vol.spacingX, (v - 0.5) * vol.spacingY, m_slice * vol.spacingZ};
    case CprReferencePlane::Front: return {(u - 0.5) * vol.spacingX, m_slice * vol.spacingY, zFromRow};
    case CprReferencePlane::Side: break;
    }
    return {m_slice * vol.spacingX, (u - 0.5) * vol.spacingY, zFromRow};
}

QPointF CprReferencePanel::widgetPosOf(const render::Vec3d &point) const
{
    const QRectF rect = imageRect();
    if (rect.isEmpty())
        return {};
    const render::Volume &vol = *m_volume;
    const double vFromZ = vol.depth - 0.5 - point[2] / vol.spacingZ;
    QPointF uv;
    switch (m_plane) {
    case CprReferencePlane::Axial:
        uv = {point[0] / vol.spacingX + 0.5, point[1] / vol.spacingY + 0.5};
        break;
    case CprReferencePlane::Front: uv = {point[0] / vol.spacingX + 0.5, vFromZ}; break;
    case CprReferencePlane::Side: uv = {point[1] / vol.spacingY + 0.5, vFromZ}; break;
    }
    return {rect.left() + uv.x() / m_image.width() * rect.width(),
            rect.top() + uv.y() / m_image.height() * rect.height()};
}

int CprReferencePanel::pointNear(const QPointF &widgetPos) const
{
    int best = -1;
    double bestDistance = grabDistance;
    for (std::size_t i = 0; i < m_points.size(); ++i) {
        const QPointF p = widgetPosOf(m_points[i]);
        const double d = std::hypot(p.x() - widgetPos.x(), p.y() - widgetPos.y());
        if (d <= bestDistance) {
            bestDistance = d;
            best = int(i);
        }
    }
    return best;
}

void CprReferencePanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const QRectF target = imageRect();
    if (!m_image.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_line.size() >= 2 && !target.isEmpty()) {
        QPainterPath path(widgetPosOf(m_line.front()));
        for (std::size_t i = 1; i < m_line.size(); ++i)
            path.lineTo(widgetPosOf(m_line[i]));
        painter.setPen(QPen(QColor(0x33, 0xaa, 0xff), 1.5));
        painter.drawPath(path);
    }
    if (!target.isEmpty()) {
        const std::size_t axis = std::size_t(normalAxis());
        for (std::size_t i = 0; i < m_points.size(); ++i) {
            const QPointF p = widgetPosOf(m_points[i]);
            const bool onSlice = std::fabs(m_points[i][axis] - m_slice * sliceSpacing()) <= onSliceMm;
            painter.setPen(QPen(QColor(0xff, 0xd6, 0x33), 1.5));
            painter.setBrush(onSlice ? QBrush(QColor(0xff, 0xd6, 0x33)) : Qt::NoBrush);
            painter.drawEllipse(p, 4.0, 4.0);
            painter.drawText(p + QPointF(6, -6), QString::number(i + 1));
        }
    }
    painter.setPen(QColor(0xff, 0xd6, 0x33));
    painter.drawText(QPointF(6, 16), QStringLiteral("%1  %2/%3").arg(planeName(m_plane)).arg(m_slice + 1).arg(sliceCount()));
}

void CprReferencePanel::mousePressEvent(QMouseEvent *event)
{
    if (m_image.isNull() || !imageRect().contains(event->position()))
        return;
    const int near = pointNear(event->position());
    if (event->button() == Qt::RightButton) {
        if (near >= 0)
            emit pointRemoveRequested(near);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    if (near >= 0) {
        m_dragIndex = near;
        emit pointDragStarted(near);
        return;
    }
    emit clicked(pointAt(event->position()));
}

void CprReferencePanel::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragIndex < 0 || std::size_t(m_dragIndex) >= m_points.size())
        return;
    // The point moves within the plane and keeps its depth across it.
    const std::size_t axis = std::size_t(normalAxis());
    render::Vec3d moved = pointAt(event->position());
    moved[axis] = m_points[std::size_t(m_dragIndex)][axis];
    emit pointMoved(m_dragIndex, moved);
}

void CprReferencePanel::mouseReleaseEvent(QMouseEvent *)
{
    if (m_dragIndex >= 0)
        emit pointDragFinished(m_dragIndex);
    m_dragIndex = -1;
}

void CprReferencePanel::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta != 0)
        setSlice(m_slice + (delta > 0 ? 1 : -1));
    event->accept();
}

} // namespace velmaris
