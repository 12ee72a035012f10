#pragma once

#include "volume/Volume.h"

#include <QImage>
#include <QList>
#include <QVector3D>
#include <QWidget>

#include <memory>

namespace velmaris {

// One reference plane of the endoscopy window (0 axial, 1 coronal, 2
// sagittal) through the cursor, in a lumen window, with the path and the
// endoscope's position marked. A click places a point of the path there; the
// wheel moves the plane along its normal. Points are millimetres about the
// volume's centre, as the ray casters use them.
class EndoscopyPlaneView : public QWidget
{
    Q_OBJECT
public:
    EndoscopyPlaneView(int plane, QWidget *parent = nullptr);

    void setVolume(std::shared_ptr<const render::Volume> volume);
    void setCursor(const QVector3D &mm);
    void setPath(const QList<QVector3D> &path, const QVector3D &endoscope);

signals:
    void pointClicked(const QVector3D &mm);
    void cursorMoved(const QVector3D &mm);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // The picture's two axes (volume axes) and the normal axis.
    int axisU() const;
    int axisV() const;
    QRectF pictureRect() const;
    QPointF toWidget(const QVector3D &mm) const;
    void rebuild();

    int m_plane = 0;
    std::shared_ptr<const render::Volume> m_volume;
    QVector3D m_cursor;
    QList<QVector3D> m_path;
    QVector3D m_endoscope;
    QImage m_image;
};

} // namespace velmaris
