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

#include <memory>
#include <optional>
#include <utility>

namespace velmaris {

// The reconstruction mode of one image panel: an orthogonal plane cut out of
// the series' shared volume (built on first use, shared with the MPR window
// and other panels), its own slice index, slab mode and thickness.
class PanelReconstruction : public QObject
{
    Q_OBJECT
public:
    explicit PanelReconstruction(QObject *parent = nullptr);

    // Asks for the volume of `slices` and shows `plane` once it is built
    // (at once when it already is); changing the plane keeps the volume.
    void enter(render::ReconstructionPlane plane, const QList<db::SliceRef> &slices, const QString &description);
    // Back to the 2D slices; the volume is let go.
    void leave();

    // A plane is chosen (the volume may still be building).
    bool isChosen() const { return m_plane.has_value(); }
    // A plane is chosen and its volume is there: the panel shows it.
    bool isShown() const { return m_plane.has_value() && m_volume != nullptr; }
    std::optional<render::ReconstructionPlane> plane() const { return m_plane; }
    const render::Volume *volume() const { return m_volume.get(); }

    int sliceIndex() const { return m_slice; }
    int sliceCount() const;
    // Clamps; false when the index stays.
    bool setSliceIndex(int index);

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
    // The picture changed: a volume arrived, the plane or slab changed.
    void changed();
    // The build failed; the panel is back on its 2D slices.
    void failed(const QString &message);

private:
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
