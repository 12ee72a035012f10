#pragma once

#include "db/SliceRef.h"
#include "volume/TransferFunctionPreset.h"
#include "volume/Volume.h"
#include "volume/VolumeCameraState.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <memory>

class QAction;
class QStackedWidget;
class QToolBar;

namespace velmaris {

class GlVolumeRenderWidget;
class VolumeRenderWidget;

// What the 3D window is opened on: the series' frames and description, and
// the study and patient that tie windows together for synchronisation (a
// window without a study cannot be synchronised).
struct Vrt3DSource
{
    QString seriesDescription;
    QList<db::SliceRef> slices;
    QString studyUid;
    QString patientKey;
};

// The stand-alone 3D window: builds the series' volume on a worker and shows
// it ray cast on the GPU, falling back to the CPU widget when OpenGL cannot be
// had (probed before the GPU widget is made, and again when it initialises),
// or by hand with "Режим CPU (запасной)".
class Vrt3DWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit Vrt3DWindow(const Vrt3DSource &source, QWidget *parent = nullptr);
    ~Vrt3DWindow() override;

    // A window of its own (deleted on close), shown.
    static Vrt3DWindow *open(const Vrt3DSource &source);

    bool isCpuMode() const;
    // The widget now showing the volume.
    QWidget *currentView() const;
    VolumeRenderWidget *softwareView() const { return m_software; }
    // Null when OpenGL was not available at all.
    GlVolumeRenderWidget *gpuView() const { return m_gpu; }
    const std::shared_ptr<const render::Volume> &volume() const { return m_volume; }
    QToolBar *toolBar() const { return m_toolBar; }
    // A tool-bar action by its text.
    QAction *action(const QString &text) const;
    QString presetName() const { return m_preset.name; }
    double densityMinimum() const { return m_densityMin; }
    double densityMaximum() const { return m_densityMax; }
    QString patientKey() const { return m_source.patientKey; }
    render::VolumeCameraState cameraState() const;

public slots:
    void onVolumeBuilt(const QString &message);
    // Switches to the CPU widget for good with "OpenGL недоступен: %1".
    void onGpuInitializationFailed(const QString &errorMessage);
    void setCpuMode(bool on);
    void setPreset(const render::TransferFunctionPreset &preset);
    void setDensityRange(double minimum, double maximum);
    void openCurveEditor();

private:
    void buildToolBar();
    void connectView(QObject *view);
    void updateCutOutActions();
    void shareCamera();
    void takePeerCamera(const render::VolumeCameraState &state);
    template<typename Call>
    void forEachView(Call call);

    Vrt3DSource m_source;
    std::shared_ptr<const render::Volume> m_volume;
    QStackedWidget *m_stack = nullptr;
    VolumeRenderWidget *m_software = nullptr;
    GlVolumeRenderWidget *m_gpu = nullptr;
    bool m_gpuFailed = false;
    QToolBar *m_toolBar = nullptr;
    QHash<QString, QAction *> m_actions;
    render::TransferFunctionPreset m_preset;
    double m_densityMin = -1024.0;
    double m_densityMax = 3071.0;
};

} // namespace velmaris
