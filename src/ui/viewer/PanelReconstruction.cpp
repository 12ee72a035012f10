#include "ui/viewer/PanelReconstruction.h"

#include "ui/viewer/ViewportDecorations.h"
#include "viewer/OverlayText.h"
#include "volume/MprReslicer.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/SharedVolumes.h"
#include "volume/VolumeBuilder.h"

#include <QMessageBox>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>

namespace velmaris {

namespace {

using Plane = render::ReconstructionPlane;

} // namespace

PanelReconstruction::PanelReconstruction(QSlider *slider, ViewportDecorations *decorations, Panel panel,
                                         QObject *parent)
    : QObject(parent), m_slider(slider), m_decorations(decorations), m_panel(std::move(panel))
{
    connect(decorations, &ViewportDecorations::planeChosen, this, [this](int plane) {
        if (plane < 0)
            leave();
        else
            enter(static_cast<Plane>(plane));
    });
    connect(decorations, &ViewportDecorations::slabChosen, this, [this](int mode, double thickness) {
        setSlab(static_cast<render::SlabMode>(mode), thickness);
    });
}

void PanelReconstruction::enter(Plane plane)
{
    const QList<db::SliceRef> slices = m_panel.slices();
    if (slices.isEmpty())
        return;
    m_decorations->setReconstructionControls(true, static_cast<int>(plane));
    const QList<render::VolumeSlice> volumeSlices =
        render::seriesVolumeSlices(slices, render::SliceOrientationUse::Keep);
    const int planeHint = render::planeHintFromText(m_panel.description());
    const QString key = render::SharedVolumes::keyFor(volumeSlices, planeHint);
    m_plane = plane;
    if (m_volume && key == m_volumeKey) {
        volumeArrived();
        return;
    }
    m_volume.reset();
    m_volumeKey = key;
    const int request = ++m_request;
    render::SharedVolumes::instance()->acquire(
        key, volumeSlices, planeHint, this,
        [this, request](const render::SharedVolumes::Handle &volume, const QString &message) {
            if (request != m_request)
                return;
            if (!volume) {
                leave();
                QMessageBox::warning(m_panel.widget, tr("Реконструкция"),
                                     tr("Не удалось построить реконструкцию: %1").arg(message));
                return;
            }
            m_volume = volume;
            volumeArrived();
        });
}

void PanelReconstruction::volumeArrived()
{
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setRange(0, sliceCount() - 1);
    }
    m_slice = -1;
    showSlice(sliceCount() / 2);
    if (!m_panel.isUserZoomed())
        m_panel.fitToView();
}

void PanelReconstruction::drop()
{
    ++m_request;
    m_plane.reset();
    m_volume.reset();
    m_volumeKey.clear();
    m_decorations->setReconstructionControls(!m_panel.slices().isEmpty(), -1);
}

void PanelReconstruction::leave()
{
    const bool shown = isShown();
    drop();
    if (!shown)
        return;
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setRange(0, std::max(0, int(m_panel.slices().size()) - 1));
    }
    m_panel.showSlices();
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

void PanelReconstruction::showSlice(int index)
{
    if (!isShown())
        return;
    m_slice = std::clamp(index, 0, std::max(0, sliceCount() - 1));
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(m_slice);
    }
    m_panel.redraw();
    // Measurements drawn on a reconstructed plane belong to none of the 2D slices.
    m_panel.setMeasurementSlice(-1 - static_cast<int>(*m_plane) * 100000 - m_slice);
    emit sliceShown(m_slice, sliceCount());
}

void PanelReconstruction::setSlab(render::SlabMode mode, double thicknessMm)
{
    m_slabMode = mode;
    m_thickness = thicknessMm;
    if (isShown())
        m_panel.redraw();
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
