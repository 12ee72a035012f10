#pragma once

#include "ui/volume/VolumeInteraction.h"
#include "volume/ProjectionMode.h"
#include "volume/TransferFunctionPreset.h"
#include "volume/VolumeCameraState.h"
#include "volume/VolumeRotationMode.h"

#include <QOpenGLWidget>

#include <memory>

namespace render {
class GlVolumeRenderer;
}

namespace velmaris {

// The 3D view ray cast on the GPU through OpenGL 3.3 core, with the slots and
// signals of the CPU widget. The context, the shaders and the volume texture
// are made when the widget is first shown; a context, shader or upload that
// fails is reported once through initializationFailed (with the driver's
// message or the compiler's log) and leaves the widget black.
class GlVolumeRenderWidget : public QOpenGLWidget
{
    Q_OBJECT
public:
    explicit GlVolumeRenderWidget(QWidget *parent = nullptr);
    ~GlVolumeRenderWidget() override;

    void setVolume(std::shared_ptr<const render::Volume> volume);
    bool hasVolume() const { return m_interaction.hasVolume(); }
    bool hasFailed() const { return m_failed; }

    render::VolumeCameraState cameraState() const { return m_interaction.parameters().camera; }
    const render::VolumeRenderParameters &renderParameters() const { return m_interaction.parameters(); }
    void setRenderParameters(const render::VolumeRenderParameters &parameters);
    render::VolumeRotationMode rotationMode() const { return m_interaction.rotationMode(); }
    QString statusHint() const { return m_interaction.statusHint(); }
    int cutOutCount() const { return m_interaction.parameters().cutOuts.count(); }

public slots:
    void setProjectionMode(render::ProjectionMode mode);
    void setVrtPreset(const render::TransferFunctionPreset &preset);
    void resetView();
    void setViewPreset(render::VolumeViewPreset preset);
    void setRotationMode(render::VolumeRotationMode mode);
    void setCameraState(const render::VolumeCameraState &state);
    void setDensityRange(double minimum, double maximum);
    void setCutOutDrawing(bool on);
    void undoCutOut();
    void clearCutOuts();

signals:
    void initializationFailed(const QString &errorMessage);
    void statusMessage(const QString &message);
    void cameraSettled();
    void measurementSelectionChanged(bool hasSelection);
    void doubleClicked();
    void cutOutsChanged(int count);
    void frameReady();

protected:
    void initializeGL() override;
    void paintGL() override;
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void fail(const QString &message);
    void uploadVolume();
    void releaseGl();
    void handle(render::VolumeInteraction::Outcome outcome);

    render::VolumeInteraction m_interaction;
    std::unique_ptr<render::GlVolumeRenderer> m_renderer;
    bool m_failed = false;
    bool m_uploadPending = false;
};

} // namespace velmaris
