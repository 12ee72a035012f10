#pragma once

#include "ui/volume/VolumeInteraction.h"
#include "volume/ProjectionMode.h"
#include "volume/TransferFunctionPreset.h"
#include "volume/VolumeCameraState.h"
#include "volume/VolumeRotationMode.h"

#include <QFutureWatcher>
#include <QImage>
#include <QWidget>

#include <memory>

class QComboBox;

namespace render {
class SoftwareVolumeRenderer;
}

namespace velmaris {

// The 3D view rendered on the CPU: the fallback of the 3D window and the 3D
// cell of the MPR window. Frames are rendered on the thread pool, one at a
// time; a change made meanwhile is rendered once the running frame is in.
class VolumeRenderWidget : public QWidget
{
    Q_OBJECT
public:
    explicit VolumeRenderWidget(QWidget *parent = nullptr);
    ~VolumeRenderWidget() override;

    void setVolume(std::shared_ptr<const render::Volume> volume);
    bool hasVolume() const { return m_interaction.hasVolume(); }

    render::VolumeCameraState cameraState() const { return m_interaction.parameters().camera; }
    // Everything a frame depends on, to carry the view over to the other widget.
    const render::VolumeRenderParameters &renderParameters() const { return m_interaction.parameters(); }
    void setRenderParameters(const render::VolumeRenderParameters &parameters);
    render::VolumeRotationMode rotationMode() const { return m_interaction.rotationMode(); }
    QString statusHint() const { return m_interaction.statusHint(); }
    int cutOutCount() const { return m_interaction.parameters().cutOuts.count(); }

    // The MPR cell's "MIP", "MinIP", "Среднее (Avg)" choice in the top right corner.
    void setProjectionComboVisible(bool visible);
    QComboBox *projectionCombo() const { return m_projection; }

    // The last finished frame (null before the first); true while one renders.
    QImage lastFrame() const { return m_frame; }
    bool isRendering() const { return m_watcher.isRunning(); }

public slots:
    void setProjectionMode(render::ProjectionMode mode);
    void setVrtPreset(const render::TransferFunctionPreset &preset);
    void resetView();
    void setViewPreset(render::VolumeViewPreset preset);
    void setRotationMode(render::VolumeRotationMode mode);
    void setCameraState(const render::VolumeCameraState &state);
    // Densities outside min … max are not shown.
    void setDensityRange(double minimum, double maximum);
    // While on, a left drag draws a freehand cut-out instead of turning.
    void setCutOutDrawing(bool on);
    void undoCutOut();
    void clearCutOuts();

signals:
    // Never emitted by the CPU widget; kept so that both widgets connect alike.
    void initializationFailed(const QString &errorMessage);
    void statusMessage(const QString &message);
    void cameraSettled();
    void measurementSelectionChanged(bool hasSelection);
    void doubleClicked();
    void cutOutsChanged(int count);
    // A frame has been rendered and shown.
    void frameReady();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void requestFrame();
    void onFrameRendered();
    void handle(render::VolumeInteraction::Outcome outcome);

    render::VolumeInteraction m_interaction;
    std::shared_ptr<render::SoftwareVolumeRenderer> m_renderer;
    QFutureWatcher<QImage> m_watcher;
    bool m_pending = false;
    QImage m_frame;
    QComboBox *m_projection = nullptr;
};

} // namespace velmaris
