#include "ui/volume/VolumeRenderWidget.h"

#include "ui/volume/VolumeOverlay.h"
#include "volume/SoftwareVolumeRenderer.h"

#include <QComboBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QtConcurrent/QtConcurrentRun>

namespace velmaris {

namespace {

// Frames while dragging are rendered at half the size above this side, so
// that turning stays fluid; the settled frame is full size.
constexpr int interactiveHalfAbove = 400;

} // namespace

VolumeRenderWidget::VolumeRenderWidget(QWidget *parent)
    : QWidget(parent), m_renderer(std::make_shared<render::SoftwareVolumeRenderer>())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
    setMinimumSize(64, 64);
    setFocusPolicy(Qt::StrongFocus);
    connect(&m_watcher, &QFutureWatcher<QImage>::finished, this, &VolumeRenderWidget::onFrameRendered);

    m_projection = new QComboBox(this);
    m_projection->addItem(QStringLiteral("MIP"), int(render::ProjectionMode::Maximum));
    m_projection->addItem(QStringLiteral("MinIP"), int(render::ProjectionMode::Minimum));
    m_projection->addItem(QStringLiteral("Среднее (Avg)"), int(render::ProjectionMode::Mean));
    m_projection->setToolTip(QStringLiteral("Способ проекции 3D-объёма"));
    m_projection->hide();
    connect(m_projection, &QComboBox::activated, this, [this](int index) {
        setProjectionMode(render::ProjectionMode(m_projection->itemData(index).toInt()));
    });
}

VolumeRenderWidget::~VolumeRenderWidget() = default;

void VolumeRenderWidget::setVolume(std::shared_ptr<const render::Volume> volume)
{
    m_interaction.setVolume(volume);
    // A running frame keeps the old renderer alive; the new one scans its
    // blocks on the pool with the first frame.
    m_renderer = std::make_shared<render::SoftwareVolumeRenderer>();
    m_frame = QImage();
    if (hasVolume())
        emit statusMessage(m_interaction.statusHint());
    requestFrame();
}

void VolumeRenderWidget::setRenderParameters(const render::VolumeRenderParameters &parameters)
{
    m_interaction.parameters() = parameters;
    requestFrame();
}

void VolumeRenderWidget::setProjectionComboVisible(bool visible)
{
    m_projection->setVisible(visible);
    m_projection->adjustSize();
    resizeEvent(nullptr);
}

void VolumeRenderWidget::setProjectionMode(render::ProjectionMode mode)
{
    m_interaction.parameters().mode = mode;
    const int index = m_projection->findData(int(mode));
    if (index >= 0) {
        const QSignalBlocker blocker(m_projection);
        m_projection->setCurrentIndex(index);
    }
    requestFrame();
}

void VolumeRenderWidget::setVrtPreset(const render::TransferFunctionPreset &preset)
{
    m_interaction.parameters().preset = preset;
    requestFrame();
}

void VolumeRenderWidget::resetView()
{
    m_interaction.resetView();
    requestFrame();
}

void VolumeRenderWidget::setViewPreset(render::VolumeViewPreset preset)
{
    m_interaction.parameters().camera.setViewPreset(preset);
    requestFrame();
}

void VolumeRenderWidget::setRotationMode(render::VolumeRotationMode mode)
{
    m_interaction.setRotationMode(mode);
    emit statusMessage(m_interaction.statusHint());
}

void VolumeRenderWidget::setCameraState(const render::VolumeCameraState &state)
{
    m_interaction.parameters().camera = state;
    requestFrame();
}

void VolumeRenderWidget::setDensityRange(double minimum, double maximum)
{
    m_interaction.parameters().densityMin = minimum;
    m_interaction.parameters().densityMax = maximum;
    requestFrame();
}

void VolumeRenderWidget::setCutOutDrawing(bool on)
{
    m_interaction.setCutOutDrawing(on);
    update();
}

void VolumeRenderWidget::undoCutOut()
{
    if (m_interaction.parameters().cutOuts.undo()) {
        emit cutOutsChanged(cutOutCount());
        requestFrame();
    }
}

void VolumeRenderWidget::clearCutOuts()
{
    if (m_interaction.parameters().cutOuts.isEmpty())
        return;
    m_interaction.parameters().cutOuts.clear();
    emit cutOutsChanged(0);
    requestFrame();
}

void VolumeRenderWidget::requestFrame()
{
    update();
    if (!hasVolume())
        return;
    if (m_watcher.isRunning()) {
        m_pending = true;
        return;
    }
    m_pending = false;
    const render::VolumeRenderParameters parameters = m_interaction.frameParameters();
    QSize size = (QSizeF(this->size()) * devicePixelRatioF()).toSize().expandedTo(QSize(1, 1));
    if (parameters.interactive && std::min(size.width(), size.height()) > interactiveHalfAbove)
        size /= 2;
    m_watcher.setFuture(QtConcurrent::run(
        [renderer = m_renderer, volume = m_interaction.volume(), parameters, size] {
            if (renderer->volume() != volume)
                renderer->setVolume(volume);
            return renderer->render(parameters, size);
        }));
}

void VolumeRenderWidget::onFrameRendered()
{
    m_frame = m_watcher.result();
    update();
    emit frameReady();
    if (m_pending)
        requestFrame();
}

void VolumeRenderWidget::handle(render::VolumeInteraction::Outcome outcome)
{
    using Outcome = render::VolumeInteraction::Outcome;
    switch (outcome) {
    case Outcome::None:
        return;
    case Outcome::Redraw:
        if (m_interaction.isCutOutDrawing() && m_interaction.isDragging())
            update();
        else
            requestFrame();
        return;
    case Outcome::Settled:
        requestFrame();
        emit cameraSettled();
        return;
    case Outcome::CutOutAdded:
        emit cutOutsChanged(cutOutCount());
        requestFrame();
        return;
    case Outcome::CutOutRefused:
        emit statusMessage(m_interaction.lastMessage());
        update();
        return;
    }
}

void VolumeRenderWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (hasVolume() && !m_frame.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), m_frame);
    }
    render::drawVolumeOverlay(painter, rect(), m_interaction.parameters(), hasVolume(), m_interaction.path());
}

void VolumeRenderWidget::resizeEvent(QResizeEvent *)
{
    // isVisibleTo: the cell may be laid out before its window is shown.
    if (m_projection->isVisibleTo(this))
        m_projection->move(width() - m_projection->width() - 6, 6);
    requestFrame();
}

void VolumeRenderWidget::mousePressEvent(QMouseEvent *event)
{
    handle(m_interaction.press(*event));
}

void VolumeRenderWidget::mouseMoveEvent(QMouseEvent *event)
{
    handle(m_interaction.move(*event, size()));
}

void VolumeRenderWidget::mouseReleaseEvent(QMouseEvent *event)
{
    handle(m_interaction.release(*event, size()));
}

void VolumeRenderWidget::mouseDoubleClickEvent(QMouseEvent *)
{
    emit doubleClicked();
}

void VolumeRenderWidget::wheelEvent(QWheelEvent *event)
{
    handle(m_interaction.wheel(*event));
}

} // namespace velmaris
