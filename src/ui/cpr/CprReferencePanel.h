#pragma once

#include "volume/Centerline.h"
#include "volume/Volume.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

namespace velmaris {

// The planes the control points are placed on.
enum class CprReferencePlane { Axial = 0, Front = 1, Side = 2 };

// One reference panel of the curved-reconstruction window: an orthogonal
// plane of the volume (paged with the wheel) in true proportions, with the
// control points and the centre line drawn over it. A click on empty ground
// reports a point of the shown slice, a press on a point drags it within the
// plane, a right click on a point asks to delete it. The panel keeps no
// points of its own: the window owns the curve and hands it back here.
class CprReferencePanel : public QWidget
{
    Q_OBJECT
public:
    explicit CprReferencePanel(CprReferencePlane plane, QWidget *parent = nullptr);

    CprReferencePlane plane() const { return m_plane; }
    // "Аксиальный", "Спереди", "Сбоку".
    static QString planeName(CprReferencePlane plane);

    void setVolume(std::shared_ptr<const render::Volume> volume);
    void setWindow(double centre, double width);
    void setPoints(const std::vector<render::Vec3d> &points);
    void setCenterline(const std::vector<render::Vec3d> &line);

    int slice() const { return m_slice; }
    int sliceCount() const;
    void setSlice(int slice);
    // Shows the slice through a volume-millimetre point.
    void showSliceThrough(const render::Vec3d &point);

    // A widget position ↔ volume millimetres on the shown slice.
    render::Vec3d pointAt(const QPointF &widgetPos) const;
    QPointF widgetPosOf(const render::Vec3d &point) const;
    QImage image() const { return m_image; }

signals:
    void clicked(const render::Vec3d &point);
    void pointDragStarted(int index);
    void pointMoved(int index, const render::Vec3d &point);
    void pointDragFinished(int index);
    void pointRemoveRequested(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void render();
    QRectF imageRect() const;
    // Millimetres per image pixel across and down the picture.
    QPointF pixelMm() const;
    // The coordinate a plane's slices step along (0 x, 1 y, 2 z).
    int normalAxis() const;
    double sliceSpacing() const;
    int pointNear(const QPointF &widgetPos) const;

    CprReferencePlane m_plane;
    std::shared_ptr<const render::Volume> m_volume;
    QImage m_image;
    double m_centre = 200.0;
    double m_width = 700.0;
    int m_slice = 0;
    std::vector<render::Vec3d> m_points;
    std::vector<render::Vec3d> m_line;
    int m_dragIndex = -1;
};

} // namespace velmaris
