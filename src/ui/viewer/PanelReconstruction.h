#pragma once

#include "db/SliceRef.h"
#include "viewer/ReconstructionPlane.h"
#include "viewer/SlabMode.h"
#include "viewer/WindowLevel.h"
#include "volume/Volume.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QVector3D>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QSlider;
class QWidget;

namespace velmaris {

class ViewportDecorations;

// The reconstruction mode of one image panel: an orthogonal plane cut out of
// the series' shared volume (built on first use, shared with the MPR window
// and other panels), with its own slice index, slab mode and thickness. It
// drives the panel's control strip and slider while a plane is shown.
class PanelReconstruction : public QObject
{
    Q_OBJECT
public:
    // What the reconstruction asks of its panel.
    struct Panel
    {
        QWidget *widget = nullptr; // parent of the failure box
        std::function<QList<db::SliceRef>()> slices;
        // The text the plane hint is read from (the series' description).
        std::function<QString()> description;
        // Draws the panel's current picture (the plane while one is shown).
        std::function<void()> redraw;
        // Back on the 2D slices: shows that slice and fits it.
        std::function<void()> showSlices;
        // Measurements are made on this slice key and only its own are shown.
        std::function<void(int key)> setMeasurementSlice;
        std::function<void()> fitToView;
        std::function<bool()> isUserZoomed;
    };

    PanelReconstruction(QSlider *slider, ViewportDecorations *decorations, Panel panel, QObject *parent = nullptr);

    // Asks for the volume of the panel's series and shows `plane` once it is
    // built (at once when it already is); another plane keeps the volume.
    void enter(render::ReconstructionPlane plane);
    // Back to the 2D slices, on the slice the panel was on.
    void leave();
    // Forgets the plane and the volume without drawing (a new series).
    void drop();

    // A plane is chosen (the volume may still be building).
    bool isChosen() const { return m_plane.has_value(); }
    // A plane is chosen and its volume is there: the panel shows it.
    bool isShown() const { return m_plane.has_value() && m_volume != nullptr; }
    std::optional<render::ReconstructionPlane> plane() const { return m_plane; }
    const render::Volume *volume() const { return m_volume.get(); }

    int sliceIndex() const { return m_slice; }
    int sliceCount() const;
    // Shows the slice, clamped; emits sliceShown.
    void showSlice(int index);

    void setSlab(render::SlabMode mode, double thicknessMm);
    render::SlabMode slabMode() const { return m_slabMode; }
    double slabThickness() const { return m_thickness; }

    // The plane under the window, aspect-corrected; null when not shown.
    QImage render(const render::WindowLevel &window) const;
    // The patient directions of the picture's x and y axes; none when the
    // volume is not placed in patient space.
    std::optional<std::pair<QVector3D, QVector3D>> pictureDirections() const;
    // The slice block of the overlay.
    QString overlayText() const;

signals:
    void sliceShown(int index, int total);

private:
    void volumeArrived();

    QSlider *m_slider;
    ViewportDecorations *m_decorations;
    Panel m_panel;
    std::optional<render::ReconstructionPlane> m_plane;
    std::shared_ptr<const render::Volume> m_volume;
    QString m_volumeKey;
    int m_slice = 0;
    render::SlabMode m_slabMode = render::SlabMode::Thin;
    double m_thickness = 0.0;
    // Answers of builds asked for before the last enter or leave are stale.
    int m_request = 0;
};

} // namespace velmaris
