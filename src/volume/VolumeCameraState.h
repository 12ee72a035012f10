#pragma once

#include <QString>
#include <QVector3D>

namespace render {

// Where the camera stands, in the volume's axes (x: first index, y: second,
// z: slice order): front, back, right, left, top, bottom.
enum class VolumeViewPreset { Front = 0, Back = 1, Right = 2, Left = 3, Top = 4, Bottom = 5 };

// "Спереди", "Сзади", "Справа", "Слева", "Сверху", "Снизу".
QString viewPresetLabel(VolumeViewPreset preset);

// The camera that windows read and set to stay in step: an orthonormal basis
// (right = direction × up), the zoom (the picture's half extent is the
// volume's half-diagonal times zoom, at least 0.1), the pan in millimetres
// along right and up, and the window.
struct VolumeCameraState
{
    QVector3D direction{0.0f, 1.0f, 0.0f};
    QVector3D right{1.0f, 0.0f, 0.0f};
    QVector3D up{0.0f, 0.0f, 1.0f};
    double zoom = 1.0;
    double panU = 0.0;
    double panV = 0.0;
    double level = 0.0;
    double width = 1.0;

    static VolumeCameraState forPreset(VolumeViewPreset preset);
    // Keeps zoom, pan and window; takes the preset's basis.
    void setViewPreset(VolumeViewPreset preset);
    // Turns the camera about the volume's centre: azimuth about the view's
    // up, then elevation about its right; degrees.
    void rotateFree(double azimuthDeg, double elevationDeg);
    // Turns the picture about the view direction.
    void rotateInPlane(double angleDeg);
    // Multiplies the zoom, kept within 0.1 … 20.
    void zoomBy(double factor);
    // Re-orthonormalises the basis after many small turns.
    void normalise();
};

} // namespace render
