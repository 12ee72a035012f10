#pragma once

#include "viewer/FrameDecoder.h"
#include "viewer/MeasurementMode.h"
#include "viewer/MeasurementScale.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>

#include <functional>

class QGraphicsScene;
class QGraphicsView;

namespace velmaris {

class MeasurementItem;

// The measurements of one image panel and the mouse work that makes and
// edits them: the press order (handles of the selected measurement, labels,
// shapes, then the tool), drawing every kind, dragging handles and labels,
// selection and deletion, their labels (numbers, placement on screen) and the
// hand calibration of the ruler. The panel hands it the left-button events of
// the measuring tools and tells it what it needs to know of the slice.
class MeasurementEditor : public QObject
{
    Q_OBJECT
public:
    // What the editor asks of its panel.
    struct Panel
    {
        // The scale measurements are labelled in.
        std::function<render::PixelScale()> scale;
        // A pixel's height over its width, as drawn.
        std::function<double()> pixelAspect;
        // The values of the shown slice, for ROI statistics; false with the
        // decoder's message when they cannot be had.
        std::function<bool(const render::DecodedFrame **frame, QString *error)> decodedFrame;
        // The part of the view labels must stay in, in view pixels.
        std::function<QRect()> labelArea;
        // When set, the text of an ellipse ROI (image pixels) comes from
        // here instead of the decoded slice: reconstructed planes have no
        // frame of their own.
        std::function<QString(const QRectF &ellipse)> ellipseRoiText;
    };

    MeasurementEditor(QGraphicsView *view, QGraphicsScene *scene, Panel panel, QObject *parent = nullptr);
    ~MeasurementEditor() override;

    // Measurements are made on this slice and only its own are shown.
    void setSlice(int slice);
    // Takes the hand calibration stored for the series.
    void setSeries(const QString &seriesUid);

    // Mouse work of the left button, in view pixels. press returns false when
    // the tool is none of the editor's and nothing was picked.
    bool press(const QPoint &viewPos, render::MeasurementMode tool);
    // While a press of the editor is held; also the pointer moving with the
    // buttons up, for shapes that follow it between clicks.
    bool move(const QPoint &viewPos, const QPoint &delta);
    bool release(const QPoint &viewPos);
    // Ends a polygon or smoothed contour; false when none is being drawn.
    bool doubleClick();
    bool isDragging() const { return m_drag != Drag::None; }
    // True while a shape that takes more clicks is being drawn: such a press
    // adds to it rather than picking another measurement.
    bool isAddingVertices() const;

    QList<MeasurementItem *> measurements() const { return m_measurements; }
    MeasurementItem *selected() const { return m_selected; }
    void deleteSelected();
    void clear(bool onlyCurrentSlice);
    // Drops a shape half drawn and the selection (a new tool was chosen).
    void cancel();

    double calibrationMmPerPixel() const { return m_calibration; }
    void resetCalibration();

    // Refreshes what depends on the view transform or the panel's size.
    void placeLabels();

signals:
    // The calibration changed; the panel's overlay shows it.
    void calibrationChanged();

private:
    enum class Drag { None, Draw, Handle, Label };

    bool pick(const QPoint &viewPos);
    void startTool(render::MeasurementMode tool, const QPointF &imagePos);
    void settleArm(const QPointF &imagePos);
    void finishDrawing();
    void calibrateWith(MeasurementItem *line);
    void relabel(MeasurementItem *item, bool pending = false);
    void relabelAll();
    void select(MeasurementItem *item);
    void remove(MeasurementItem *item);
    void updateVisibility();

    QGraphicsView *m_view;
    QGraphicsScene *m_scene;
    Panel m_panel;
    int m_slice = 0;
    QString m_seriesUid;
    double m_calibration = 0.0;
    QList<MeasurementItem *> m_measurements;
    MeasurementItem *m_selected = nullptr;
    MeasurementItem *m_drawing = nullptr;
    // The last point of the shape being drawn follows the pointer until the
    // next click places it (angle arms, Cobb lines drawn by clicks).
    bool m_floating = false;
    int m_handleIndex = -1;
    bool m_handleMoved = false;
    Drag m_drag = Drag::None;
};

} // namespace velmaris
