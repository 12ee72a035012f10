#pragma once

#include "ui/volume/Vrt3DWindow.h"
#include "volume/Volume.h"

#include <QList>
#include <QMainWindow>
#include <QVector3D>

#include <memory>

class QComboBox;
class QTimer;

namespace velmaris {

class EndoscopyPlaneView;
class VolumeRenderWidget;

// "Виртуальная эндоскопия/колоноскопия": a perspective camera inside the
// lumen (CameraPosMm, FovDeg) rendered on the CPU with the inside preset, or
// the lumen seen from outside with the other one. The path is clicked on the
// three reference planes; the endoscope flies along it ("Пролёт") or is moved
// by the keys (Up/W forward, Down/S back; along the view without a path).
class VirtualEndoscopyWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit VirtualEndoscopyWindow(const Vrt3DSource &source, QWidget *parent = nullptr);
    static VirtualEndoscopyWindow *open(const Vrt3DSource &source);

    VolumeRenderWidget *view() const { return m_view; }
    const std::shared_ptr<const render::Volume> &volume() const { return m_volume; }
    const QList<QVector3D> &path() const { return m_path; }
    double pathPosition() const { return m_along; }
    QVector3D endoscopePosition() const;

public slots:
    void onVolumeBuilt(const QString &message);
    void addPathPoint(const QVector3D &mm);
    void clearPath();
    // Moves the endoscope by `mm` along the path (or the view direction).
    void advance(double mm);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    double pathLength() const;
    void placeCamera();
    void setInside(bool inside);

    std::shared_ptr<const render::Volume> m_volume;
    VolumeRenderWidget *m_view = nullptr;
    QList<EndoscopyPlaneView *> m_planes;
    QComboBox *m_presets = nullptr;
    QTimer *m_flight = nullptr;
    QList<QVector3D> m_path;
    double m_along = 0.0;
    QVector3D m_free;
    double m_stepMm = 1.0;
};

} // namespace velmaris
