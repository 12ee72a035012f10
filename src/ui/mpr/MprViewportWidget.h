#pragma once

#include "ui/mpr/MprPlane.h"
#include "ui/mpr/MprTool.h"

#include <QGraphicsView>
#include <QImage>
#include <QList>
#include <QPointF>

#include <functional>

class QComboBox;
class QGraphicsLineItem;
class QGraphicsPixmapItem;
class QLabel;

namespace velmaris {

class MeasurementEditor;
class MeasurementItem;

// One plane cell of the MPR window: shows the plane's picture fitted into
// the cell until the user zooms, the crosshair lines of the other two
// planes, the plane's name and a selector that swaps cells, and hosts the
// measuring tools of the 2D viewport. It computes nothing about the volume:
// clicks, wheel steps, drags and rotations go out as signals in image terms.
class MprViewportWidget : public QGraphicsView
{
    Q_OBJECT
public:
    explicit MprViewportWidget(MprPlane plane, QWidget *parent = nullptr);
    ~MprViewportWidget() override;

    MprPlane plane() const { return m_plane; }
    QImage image() const { return m_image; }
    void setImage(const QImage &image);

    // The crosshair centre as a fraction of the picture (0 … 1 each way) and
    // the on-picture directions of the two lines through it.
    void setCrosshair(const QPointF &normalised, const QPointF &firstDirection, const QPointF &secondDirection);
    QPointF crosshair() const { return m_crosshair; }

    // Slices along the plane's normal (for Home/End), the slice shown (the
    // measurements drawn on it are the ones shown), and what a picture
    // pixel measures in millimetres.
    void setSliceCount(int count) { m_sliceCount = count; }
    void setSlice(int slice);
    void setPixelSizeMm(double mm);
    double pixelSizeMm() const { return m_pixelSizeMm; }
    // The text of an ellipse ROI (picture pixels) on the shown slice.
    void setRoiStatistics(std::function<QString(const QRectF &ellipse)> statistics);

    void setTool(MprTool tool);
    MprTool tool() const { return m_tool; }

    // Fits the picture into the cell and clears the user-zoomed state.
    void fitToView();
    bool isUserZoomed() const { return m_userZoomed; }
    double zoomFactor() const;

    QList<MeasurementItem *> measurements() const;
    void clearMeasurements();

    QComboBox *planeSelector() const { return m_planeBox; }

signals:
    void positionClicked(double normX, double normY);
    void crosshairDragFinished();
    void doubleClicked();
    void wheelStepped(int direction);
    void windowLevelDragged(double deltaCenter, double deltaWidth);
    void sliceIndexRequested(int index);
    void measurementRemoved();
    void axesRotateDelta(double deltaAngleDeg);
    void planeSwapRequested(velmaris::MprPlane targetPlane);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    enum class Drag { None, Crosshair, Pan, Zoom, Window, Rotate };

    void zoomBy(double factor);
    void emitClick(const QPoint &viewPos);
    bool nearCrosshairLine(const QPoint &viewPos) const;
    QPointF crosshairInView() const;
    void placeOverlays();
    void placeCrosshair();

    MprPlane m_plane;
    MprTool m_tool = MprTool::Browse;
    QGraphicsScene *m_scene;
    QGraphicsPixmapItem *m_pixmapItem;
    QGraphicsLineItem *m_lines[2];
    QLabel *m_label;
    QComboBox *m_planeBox;
    MeasurementEditor *m_editor;
    QImage m_image;
    QPointF m_crosshair{0.5, 0.5};
    QPointF m_directions[2]{{1.0, 0.0}, {0.0, 1.0}};
    int m_sliceCount = 0;
    double m_pixelSizeMm = 0.0;
    std::function<QString(const QRectF &)> m_roiStatistics;
    bool m_userZoomed = false;
    Drag m_drag = Drag::None;
    QPoint m_lastPos;
};

} // namespace velmaris
