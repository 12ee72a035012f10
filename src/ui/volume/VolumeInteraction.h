#pragma once

#include "volume/Volume.h"
#include "volume/VolumeRenderParameters.h"
#include "volume/VolumeRotationMode.h"

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QString>

#include <memory>

class QMouseEvent;
class QWheelEvent;

namespace render {

// The state and mouse gestures both 3D widgets share, so that the GPU widget
// and its CPU fallback turn, pan, zoom, window and cut out alike: left drag
// rotates (or draws a cut-out path), middle drag pans, the wheel zooms (moves
// the endoscope in perspective), right drag changes level and width.
class VolumeInteraction
{
public:
    enum class Outcome { None, Redraw, Settled, CutOutAdded, CutOutRefused };

    // Takes the volume's window (level at the middle of its range, width the
    // range) and keeps camera basis, zoom and pan.
    void setVolume(std::shared_ptr<const Volume> volume);
    const std::shared_ptr<const Volume> &volume() const { return m_volume; }
    bool hasVolume() const { return m_volume && m_volume->isValid(); }

    VolumeRenderParameters &parameters() { return m_parameters; }
    const VolumeRenderParameters &parameters() const { return m_parameters; }
    // The parameters of a frame: interactive while a drag is on.
    VolumeRenderParameters frameParameters() const;

    VolumeRotationMode rotationMode() const { return m_rotationMode; }
    void setRotationMode(VolumeRotationMode mode) { m_rotationMode = mode; }
    bool isCutOutDrawing() const { return m_cutOutDrawing; }
    void setCutOutDrawing(bool on);
    bool isDragging() const { return m_button != Qt::NoButton; }
    // The cut-out path being drawn, in widget pixels.
    const QList<QPointF> &path() const { return m_path; }
    // The message of the last refused cut-out.
    QString lastMessage() const { return m_message; }

    // The front view at zoom 1 without pan; the window and the rest stay.
    void resetView();

    Outcome press(const QMouseEvent &event);
    Outcome move(const QMouseEvent &event, const QSize &widgetSize);
    Outcome release(const QMouseEvent &event, const QSize &widgetSize);
    Outcome wheel(const QWheelEvent &event);

    // "%1 · СКМ — перемещение · колесо — масштаб · ПКМ — яркость".
    QString statusHint() const;

private:
    bool finishCutOut(const QSize &widgetSize);

    std::shared_ptr<const Volume> m_volume;
    VolumeRenderParameters m_parameters;
    VolumeRotationMode m_rotationMode = VolumeRotationMode::Free;
    bool m_cutOutDrawing = false;
    Qt::MouseButton m_button = Qt::NoButton;
    QPointF m_last;
    QList<QPointF> m_path;
    QString m_message;
};

} // namespace render
