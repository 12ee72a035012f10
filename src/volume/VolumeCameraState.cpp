#include "volume/VolumeCameraState.h"

#include "volume/ProjectionMode.h"

#include <QQuaternion>

#include <algorithm>

namespace render {

QString projectionModeShortName(ProjectionMode mode)
{
    switch (mode) {
    case ProjectionMode::Maximum:
        return QStringLiteral("MIP");
    case ProjectionMode::Minimum:
        return QStringLiteral("MinIP");
    case ProjectionMode::Mean:
        return QStringLiteral("AvgIP");
    case ProjectionMode::Vrt:
        break;
    }
    return QStringLiteral("VRT");
}

QString viewPresetLabel(VolumeViewPreset preset)
{
    static const char *const labels[] = {"Спереди", "Сзади", "Справа", "Слева", "Сверху", "Снизу"};
    const int index = std::clamp(int(preset), 0, 5);
    return QString::fromUtf8(labels[index]);
}

VolumeCameraState VolumeCameraState::forPreset(VolumeViewPreset preset)
{
    VolumeCameraState state;
    state.setViewPreset(preset);
    return state;
}

void VolumeCameraState::setViewPreset(VolumeViewPreset preset)
{
    // The stack's slice order is the body's long axis, so every side view
    // keeps it upwards; the views along it look at the first row upwards.
    const QVector3D x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    switch (preset) {
    case VolumeViewPreset::Front:
        direction = y;
        up = z;
        break;
    case VolumeViewPreset::Back:
        direction = -y;
        up = z;
        break;
    case VolumeViewPreset::Right:
        direction = x;
        up = z;
        break;
    case VolumeViewPreset::Left:
        direction = -x;
        up = z;
        break;
    case VolumeViewPreset::Top:
        direction = -z;
        up = -y;
        break;
    case VolumeViewPreset::Bottom:
        direction = z;
        up = -y;
        break;
    }
    right = QVector3D::crossProduct(direction, up);
}

void VolumeCameraState::rotateFree(double azimuthDeg, double elevationDeg)
{
    const QQuaternion turn = QQuaternion::fromAxisAndAngle(right, float(elevationDeg))
                             * QQuaternion::fromAxisAndAngle(up, float(azimuthDeg));
    direction = turn.rotatedVector(direction);
    up = turn.rotatedVector(up);
    normalise();
}

void VolumeCameraState::rotateInPlane(double angleDeg)
{
    const QQuaternion turn = QQuaternion::fromAxisAndAngle(direction, float(angleDeg));
    up = turn.rotatedVector(up);
    normalise();
}

void VolumeCameraState::zoomBy(double factor)
{
    if (factor > 0.0)
        zoom = std::clamp(zoom * factor, 0.1, 20.0);
}

void VolumeCameraState::normalise()
{
    direction.normalize();
    right = QVector3D::crossProduct(direction, up).normalized();
    up = QVector3D::crossProduct(right, direction).normalized();
    zoom = std::max(zoom, 0.1);
}

} // namespace render
