#pragma once

#include "volume/CprState.h"
#include "volume/CurvedMpr.h"

#include <QList>
#include <QPointF>
#include <QStringList>
#include <QWidget>

#include <memory>

namespace velmaris {

// The tools of the CPR image.
enum class CprTool { Cursor, Zoom, Ruler, VesselDiameter, RoiHu, StenosisDiameter, StenosisArea };

// The straightened picture of the curved-reconstruction window with its
// measurements. Measurements live in image pixels and are measured in true
// millimetres (the two picture axes may differ: centre-line step one way,
// pixel across the line the other). Stenosis measurements pair up in the
// order they were drawn: the first of a pair is the whole vessel, the second
// the residual lumen.
class CprImageView : public QWidget
{
    Q_OBJECT
public:
    // The `type` of each kind in the parameter file.
    static QString typeName(CprTool tool);

    explicit CprImageView(QWidget *parent = nullptr);

    void setImage(std::shared_ptr<const render::CurvedMprImage> image);
    std::shared_ptr<const render::CurvedMprImage> image() const { return m_image; }
    void setTool(CprTool tool);
    CprTool tool() const { return m_tool; }

    QList<render::CprMeasurement> measurements() const { return m_measurements; }
    void setMeasurements(const QList<render::CprMeasurement> &measurements);
    void addMeasurement(const render::CprMeasurement &measurement);
    // The labels as drawn, one per measurement.
    QStringList labels() const;

    // Millimetres per picture pixel across and down.
    QPointF pixelMm() const;
    // The centre-line sample under a picture position.
    int sampleAt(const QPointF &imagePos) const;
    QPointF imagePosAt(const QPointF &widgetPos) const;

signals:
    // A click of "Курсор" on the picture.
    void sampleClicked(int sample);
    void hoverText(const QString &text);
    void measurementsChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    QRectF imageRect() const;
    QPointF widgetPosOf(const QPointF &imagePos) const;
    QString labelOf(int index) const;
    double lengthMm(const QList<QPointF> &points) const;
    double areaMm2(const QList<QPointF> &points) const;
    QString roiText(const QList<QPointF> &points) const;
    int measurementNear(const QPointF &widgetPos) const;

    std::shared_ptr<const render::CurvedMprImage> m_image;
    CprTool m_tool = CprTool::Cursor;
    QList<render::CprMeasurement> m_measurements;
    int m_drawing = -1; // index of the measurement being drawn
    double m_zoom = 1.0;
    QPointF m_pan;
    QPointF m_lastPos;
    bool m_panning = false;
    bool m_zooming = false;
};

} // namespace velmaris
