#include "ui/viewer/PanelReconstruction.h"

#include "viewer/OverlayText.h"
#include "volume/MprReslicer.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/SharedVolumes.h"
#include "volume/VolumeBuilder.h"

#include <algorithm>

namespace velmaris {

namespace {

using Plane = render::ReconstructionPlane;

} // namespace

PanelReconstruction::PanelReconstruction(QObject *parent) : QObject(parent) {}

void PanelReconstruction::enter(Plane plane, const QList<db::SliceRef> &slices, const QString &description)
{
    const QList<render::VolumeSlice> volumeSlices =
        render::seriesVolumeSlices(slices, render::SliceOrientationUse::Keep);
    const QString key = render::SharedVolumes::keyFor(volumeSlices);
    const bool samePlane = m_plane == plane;
    m_plane = plane;
    if (m_volume && key == m_volumeKey) {
        if (!samePlane)
            m_slice = sliceCount() / 2;
        emit changed();
        return;
    }
    m_volume.reset();
    m_volumeKey = key;
    const int request = ++m_request;
    render::SharedVolumes::instance()->acquire(
        key, volumeSlices, render::planeHintFromText(description), this,
        [this, request](const render::SharedVolumes::Handle &volume, const QString &message) {
            if (request != m_request)
                return;
            if (!volume) {
                leave();
                emit failed(message);
                return;
            }
            m_volume = volume;
            m_slice = sliceCount() / 2;
            emit changed();
        });
}

void PanelReconstruction::leave()
{
    ++m_request;
    m_plane.reset();
    m_volume.reset();
    m_volumeKey.clear();
}

int PanelReconstruction::sliceCount() const
{
    if (!m_volume || !m_plane)
        return 0;
    switch (*m_plane) {
    case Plane::Axial: return m_volume->depth;
    case Plane::Coronal: return m_volume->height;
    case Plane::Sagittal: return m_volume->width;
    }
    return 0;
}

bool PanelReconstruction::setSliceIndex(int index)
{
    const int clamped = std::clamp(index, 0, std::max(0, sliceCount() - 1));
    if (clamped == m_slice)
        return false;
    m_slice = clamped;
    return true;
}

void PanelReconstruction::setSlab(render::SlabMode mode, double thicknessMm)
{
    m_slabMode = mode;
    m_thickness = thicknessMm;
    if (isShown())
        emit changed();
}

QImage PanelReconstruction::render(const render::WindowLevel &window) const
{
    if (!isShown())
        return {};
    const render::Volume &v = *m_volume;
    const int mode = static_cast<int>(m_slabMode);
    switch (*m_plane) {
    case Plane::Axial:
        return render::renderAxial(v, m_slice, window.centre, window.width,
                                   render::slabHalfCount(m_thickness, v.spacingZ), mode);
    case Plane::Coronal:
        return render::renderCoronal(v, m_slice, window.centre, window.width,
                                     render::slabHalfCount(m_thickness, v.spacingY), mode);
    case Plane::Sagittal:
        return render::renderSagittal(v, m_slice, window.centre, window.width,
                                      render::slabHalfCount(m_thickness, v.spacingX), mode);
    }
    return {};
}

std::optional<std::pair<QVector3D, QVector3D>> PanelReconstruction::pictureDirections() const
{
    if (!isShown() || !m_volume->hasPatientGeometry)
        return std::nullopt;
    const auto vector = [](const std::array<float, 3> &v) { return QVector3D(v[0], v[1], v[2]).normalized(); };
    const QVector3D x = vector(m_volume->stepX);
    const QVector3D y = vector(m_volume->stepY);
    const QVector3D z = vector(m_volume->stepZ);
    // Coronal and sagittal pictures have the head at the top.
    switch (*m_plane) {
    case Plane::Axial: return std::pair(x, y);
    case Plane::Coronal: return std::pair(x, -z);
    case Plane::Sagittal: return std::pair(y, -z);
    }
    return std::nullopt;
}

QString PanelReconstruction::overlayText() const
{
    if (!isShown())
        return {};
    return render::reconstructionOverlayText(*m_plane, m_slabMode, m_thickness, m_slice, sliceCount());
}

} // namespace velmaris
