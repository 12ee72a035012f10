#include "ui/volume/VolumeInteraction.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace render {

namespace {

constexpr double degreesPerPixel = 0.5;

} // namespace

void VolumeInteraction::setVolume(std::shared_ptr<const Volume> volume)
{
    m_volume = std::move(volume);
    if (!hasVolume())
        return;
    m_parameters.camera.level = (m_volume->minValue + m_volume->maxValue) / 2.0;
    m_parameters.camera.width = std::max(m_volume->maxValue - m_volume->minValue, 1.0);
}

VolumeRenderParameters VolumeInteraction::frameParameters() const
{
    VolumeRenderParameters frame = m_parameters;
    frame.interactive = isDragging() && !m_cutOutDrawing;
    return frame;
}

void VolumeInteraction::setCutOutDrawing(bool on)
{
    m_cutOutDrawing = on;
    m_path.clear();
}

void VolumeInteraction::resetView()
{
    const VolumeCameraState old = m_parameters.camera;
    m_parameters.camera = VolumeCameraState::forPreset(VolumeViewPreset::Front);
    m_parameters.camera.level = old.level;
    m_parameters.camera.width = old.width;
}

VolumeInteraction::Outcome VolumeInteraction::press(const QMouseEvent &event)
{
    if (!hasVolume() || isDragging())
        return Outcome::None;
    m_button = event.button();
    m_last = event.position();
    m_path.clear();
    if (m_button == Qt::LeftButton && m_cutOutDrawing)
        m_path.append(m_last);
    return Outcome::None;
}

VolumeInteraction::Outcome VolumeInteraction::move(const QMouseEvent &event, const QSize &widgetSize)
{
    if (!isDragging())
        return Outcome::None;
    const QPointF at = event.position();
    const QPointF delta = at - m_last;
    VolumeCameraState &camera = m_parameters.camera;
    const double side = std::max(1, std::min(widgetSize.width(), widgetSize.height()));
    switch (m_button) {
    case Qt::LeftButton:
        if (m_cutOutDrawing) {
            m_path.append(at);
        } else if (m_rotationMode == VolumeRotationMode::Free) {
            camera.rotateFree(-delta.x() * degreesPerPixel, -delta.y() * degreesPerPixel);
        } else {
            const QPointF centre(widgetSize.width() / 2.0, widgetSize.height() / 2.0);
            const QPointF a = m_last - centre;
            const QPointF b = at - centre;
            const double turn = std::atan2(a.x() * b.y() - a.y() * b.x(), a.x() * b.x() + a.y() * b.y());
            camera.rotateInPlane(turn * 180.0 / M_PI);
        }
        break;
    case Qt::MiddleButton: {
        const double mmPerPixel = 2.0 * volumeRayGeometry(*m_volume, m_parameters).halfExtentMm / side;
        if (m_parameters.perspective) {
            m_parameters.cameraPosMm += (camera.up * float(delta.y()) - camera.right * float(delta.x()))
                                        * float(mmPerPixel * 0.1);
        } else {
            camera.panU -= delta.x() * mmPerPixel;
            camera.panV += delta.y() * mmPerPixel;
        }
        break;
    }
    case Qt::RightButton: {
        const double rate = std::max((m_volume->maxValue - m_volume->minValue) / 1000.0, 1.0);
        camera.level += delta.y() * rate;
        camera.width = std::max(camera.width + delta.x() * rate, 1.0);
        break;
    }
    default:
        return Outcome::None;
    }
    m_last = at;
    return Outcome::Redraw;
}

VolumeInteraction::Outcome VolumeInteraction::release(const QMouseEvent &event, const QSize &widgetSize)
{
    if (!isDragging() || event.button() != m_button)
        return Outcome::None;
    const bool drawing = m_button == Qt::LeftButton && m_cutOutDrawing;
    m_button = Qt::NoButton;
    if (drawing) {
        const bool added = finishCutOut(widgetSize);
        m_path.clear();
        if (!m_message.isEmpty())
            return Outcome::CutOutRefused;
        return added ? Outcome::CutOutAdded : Outcome::Redraw;
    }
    m_parameters.camera.normalise();
    return Outcome::Settled;
}

VolumeInteraction::Outcome VolumeInteraction::wheel(const QWheelEvent &event)
{
    if (!hasVolume() || event.angleDelta().y() == 0)
        return Outcome::None;
    const double notches = event.angleDelta().y() / 120.0;
    if (m_parameters.perspective) {
        const double step = std::max(volumeRayGeometry(*m_volume, m_parameters).halfDiagonalMm / 50.0, 0.5);
        m_parameters.cameraPosMm += m_parameters.camera.direction * float(notches * step);
    } else {
        m_parameters.camera.zoomBy(std::pow(1.15, -notches));
    }
    return Outcome::Settled;
}

QString VolumeInteraction::statusHint() const
{
    return QStringLiteral("%1 · СКМ — перемещение · колесо — масштаб · ПКМ — яркость")
        .arg(m_rotationMode == VolumeRotationMode::Free ? QStringLiteral("ЛКМ — свободный поворот")
                                                        : QStringLiteral("ЛКМ — поворот в плоскости"));
}

bool VolumeInteraction::finishCutOut(const QSize &widgetSize)
{
    m_message.clear();
    if (m_path.size() < 3 || !hasVolume())
        return false;
    // The mask is the square the rays of x, y in −1 … 1 fill: the widget's
    // smaller side, centred.
    const int side = std::max(1, std::min(widgetSize.width(), widgetSize.height()));
    const QPointF offset((widgetSize.width() - side) / 2.0, (widgetSize.height() - side) / 2.0);
    QImage mask(side, side, QImage::Format_Grayscale8);
    mask.fill(0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing, false);
        QPainterPath outline;
        outline.moveTo(m_path.first() - offset);
        for (qsizetype i = 1; i < m_path.size(); ++i)
            outline.lineTo(m_path.at(i) - offset);
        outline.closeSubpath();
        painter.fillPath(outline, Qt::white);
    }
    const VolumeCameraState &camera = m_parameters.camera;
    VolumeCutOut cutOut;
    cutOut.direction = camera.direction;
    cutOut.right = camera.right;
    cutOut.up = camera.up;
    cutOut.halfExtentMm = volumeRayGeometry(*m_volume, m_parameters).halfExtentMm;
    cutOut.panU = camera.panU;
    cutOut.panV = camera.panV;
    cutOut.mask = mask;
    return m_parameters.cutOuts.add(cutOut, &m_message);
}

} // namespace render
