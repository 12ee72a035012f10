#include "ui/volume/GlVolumeRenderWidget.h"

#include "ui/volume/GlVolumeRenderer.h"
#include "ui/volume/VolumeOverlay.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QTimer>

namespace velmaris {

GlVolumeRenderWidget::GlVolumeRenderWidget(QWidget *parent)
    : QOpenGLWidget(parent), m_renderer(std::make_unique<render::GlVolumeRenderer>())
{
    setFormat(render::openGlCoreFormat());
    setMinimumSize(64, 64);
    setFocusPolicy(Qt::StrongFocus);
}

GlVolumeRenderWidget::~GlVolumeRenderWidget()
{
    releaseGl();
}

void GlVolumeRenderWidget::releaseGl()
{
    if (!m_renderer || !m_renderer->isInitialized() || !context() || !context()->isValid())
        return;
    makeCurrent();
    m_renderer->release();
    doneCurrent();
}

void GlVolumeRenderWidget::fail(const QString &message)
{
    if (m_failed)
        return;
    m_failed = true;
    // Reported from the event loop: the window replaces this widget in
    // answer, which must not happen inside its own GL callbacks.
    QTimer::singleShot(0, this, [this, message] { emit initializationFailed(message); });
}

void GlVolumeRenderWidget::showEvent(QShowEvent *event)
{
    QOpenGLWidget::showEvent(event);
    // QOpenGLWidget only warns when it cannot make its context and then
    // never calls initializeGL: look once the show has been processed.
    QTimer::singleShot(0, this, [this] {
        if (!m_failed && isVisible() && (!context() || !context()->isValid()))
            fail(QStringLiteral("Не удалось создать контекст OpenGL 3.3 core для окна (платформа «%1»).")
                     .arg(QGuiApplication::platformName()));
    });
}

void GlVolumeRenderWidget::initializeGL()
{
    // A widget moved to another window gets a new context: the old objects
    // went with the old one.
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &GlVolumeRenderWidget::releaseGl,
            Qt::UniqueConnection);
    const QSurfaceFormat got = context()->format();
    if (got.version() < qMakePair(3, 3) || got.profile() != QSurfaceFormat::CoreProfile) {
        fail(QStringLiteral("Драйвер даёт OpenGL %1.%2 без профиля core — для 3D-рендеринга нужен OpenGL 3.3 core.")
                 .arg(got.majorVersion())
                 .arg(got.minorVersion()));
        return;
    }
    QString error;
    if (!m_renderer->initialize(error)) {
        fail(error);
        return;
    }
    m_uploadPending = true;
}

void GlVolumeRenderWidget::uploadVolume()
{
    m_uploadPending = false;
    if (!hasVolume())
        return;
    QString error;
    QString notice;
    if (!m_renderer->setVolume(*m_interaction.volume(), error, notice)) {
        fail(error);
        return;
    }
    if (!notice.isEmpty())
        QTimer::singleShot(0, this, [this, notice] { emit statusMessage(notice); });
}

void GlVolumeRenderWidget::paintGL()
{
    QOpenGLFunctions *gl = context()->functions();
    gl->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT);
    if (!m_failed && m_renderer->isInitialized()) {
        if (m_uploadPending)
            uploadVolume();
        if (!m_failed && m_renderer->hasVolume() && hasVolume()) {
            const QSize viewport = (QSizeF(size()) * devicePixelRatioF()).toSize();
            m_renderer->render(m_interaction.frameParameters(), viewport);
        }
    }
    QPainter painter(this);
    render::drawVolumeOverlay(painter, rect(), m_interaction.parameters(), hasVolume(), m_interaction.path());
    painter.end();
    QTimer::singleShot(0, this, &GlVolumeRenderWidget::frameReady);
}

void GlVolumeRenderWidget::setVolume(std::shared_ptr<const render::Volume> volume)
{
    m_interaction.setVolume(std::move(volume));
    m_uploadPending = true;
    if (hasVolume())
        emit statusMessage(m_interaction.statusHint());
    update();
}

void GlVolumeRenderWidget::setRenderParameters(const render::VolumeRenderParameters &parameters)
{
    m_interaction.parameters() = parameters;
    update();
}

void GlVolumeRenderWidget::setProjectionMode(render::ProjectionMode mode)
{
    m_interaction.parameters().mode = mode;
    update();
}

void GlVolumeRenderWidget::setVrtPreset(const render::TransferFunctionPreset &preset)
{
    m_interaction.parameters().preset = preset;
    update();
}

void GlVolumeRenderWidget::resetView()
{
    m_interaction.resetView();
    update();
}

void GlVolumeRenderWidget::setViewPreset(render::VolumeViewPreset preset)
{
    m_interaction.parameters().camera.setViewPreset(preset);
    update();
}

void GlVolumeRenderWidget::setRotationMode(render::VolumeRotationMode mode)
{
    m_interaction.setRotationMode(mode);
    emit statusMessage(m_interaction.statusHint());
}

void GlVolumeRenderWidget::setCameraState(const render::VolumeCameraState &state)
{
    m_interaction.parameters().camera = state;
    update();
}

void GlVolumeRenderWidget::setDensityRange(double minimum, double maximum)
{
    m_interaction.parameters().densityMin = minimum;
    m_interaction.parameters().densityMax = maximum;
    update();
}

void GlVolumeRenderWidget::setCutOutDrawing(bool on)
{
    m_interaction.setCutOutDrawing(on);
    update();
}

void GlVolumeRenderWidget::undoCutOut()
{
    if (m_interaction.parameters().cutOuts.undo()) {
        emit cutOutsChanged(cutOutCount());
        update();
    }
}

void GlVolumeRenderWidget::clearCutOuts()
{
    if (m_interaction.parameters().cutOuts.isEmpty())
        return;
    m_interaction.parameters().cutOuts.clear();
    emit cutOutsChanged(0);
    update();
}

void GlVolumeRenderWidget::handle(render::VolumeInteraction::Outcome outcome)
{
    using Outcome = render::VolumeInteraction::Outcome;
    switch (outcome) {
    case Outcome::None:
        return;
    case Outcome::Redraw:
        update();
        return;
    case Outcome::Settled:
        update();
        emit cameraSettled();
        return;
    case Outcome::CutOutAdded:
        emit cutOutsChanged(cutOutCount());
        update();
        return;
    case Outcome::CutOutRefused:
        emit statusMessage(m_interaction.lastMessage());
        update();
        return;
    }
}

void GlVolumeRenderWidget::mousePressEvent(QMouseEvent *event)
{
    handle(m_interaction.press(*event));
}

void GlVolumeRenderWidget::mouseMoveEvent(QMouseEvent *event)
{
    handle(m_interaction.move(*event, size()));
}

void GlVolumeRenderWidget::mouseReleaseEvent(QMouseEvent *event)
{
    handle(m_interaction.release(*event, size()));
}

void GlVolumeRenderWidget::mouseDoubleClickEvent(QMouseEvent *)
{
    emit doubleClicked();
}

void GlVolumeRenderWidget::wheelEvent(QWheelEvent *event)
{
    handle(m_interaction.wheel(*event));
}

} // namespace velmaris
