#include "ui/volume/EndoscopyPlaneView.h"

#include "volume/VolumeRenderParameters.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {

// A window that shows air-filled lumen against the wall.
constexpr double lumenLevel = -300.0;
constexpr double lumenWidth = 1600.0;

int count(const render::Volume &v, int axis)
{
    return axis == 0 ? v.width : axis == 1 ? v.height : v.depth;
}

double spacing(const render::Volume &v, int axis)
{
    return render::usableSpacing(axis == 0 ? v.spacingX : axis == 1 ? v.spacingY : v.spacingZ);
}

// Voxel index ↔ millimetres about the centre (voxel centres at (i + 0.5) / n).
double indexToMm(const render::Volume &v, int axis, double index)
{
    return ((index + 0.5) / count(v, axis) - 0.5) * count(v, axis) * spacing(v, axis);
}

double mmToIndex(const render::Volume &v, int axis, double mm)
{
    return (mm / (count(v, axis) * spacing(v, axis)) + 0.5) * count(v, axis) - 0.5;
}

} // namespace

EndoscopyPlaneView::EndoscopyPlaneView(int plane, QWidget *parent) : QWidget(parent), m_plane(plane)
{
    setMinimumSize(160, 160);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int EndoscopyPlaneView::axisU() const
{
    return m_plane == 2 ? 1 : 0;
}

int EndoscopyPlaneView::axisV() const
{
    return m_plane == 0 ? 1 : 2;
}

void EndoscopyPlaneView::setVolume(std::shared_ptr<const render::Volume> volume)
{
    m_volume = std::move(volume);
    rebuild();
}

void EndoscopyPlaneView::setCursor(const QVector3D &mm)
{
    const int normal = 2 - m_plane;
    const bool moved = mm[normal] != m_cursor[normal];
    m_cursor = mm;
    if (moved || m_image.isNull())
        rebuild();
    update();
}

void EndoscopyPlaneView::setPath(const QList<QVector3D> &path, const QVector3D &endoscope)
{
    m_path = path;
    m_endoscope = endoscope;
    update();
}

void EndoscopyPlaneView::rebuild()
{
    m_image = QImage();
    if (!m_volume || !m_volume->isValid())
        return;
    const render::Volume &v = *m_volume;
    const int u = axisU(), w = axisV(), normal = 2 - m_plane;
    const int fixed = std::clamp(int(std::lround(mmToIndex(v, normal, m_cursor[normal]))), 0, count(v, normal) - 1);
    QImage image(count(v, u), count(v, w), QImage::Format_Grayscale8);
    for (int row = 0; row < image.height(); ++row) {
        uchar *line = image.scanLine(row);
        // Coronal and sagittal pictures have the last slice on top.
        const int b = m_plane == 0 ? row : image.height() - 1 - row;
        for (int column = 0; column < image.width(); ++column) {
            int index[3];
            index[u] = column;
            index[w] = b;
            index[normal] = fixed;
            const double value = render::voxelAt(v, index[0], index[1], index[2]);
            line[column] = uchar(std::clamp((value - (lumenLevel - lumenWidth / 2)) / lumenWidth, 0.0, 1.0) * 255.0);
        }
    }
    m_image = image;
}

QRectF EndoscopyPlaneView::pictureRect() const
{
    if (!m_volume || m_image.isNull())
        return QRectF(rect());
    // Square pixels in millimetres.
    const double widthMm = count(*m_volume, axisU()) * spacing(*m_volume, axisU());
    const double heightMm = count(*m_volume, axisV()) * spacing(*m_volume, axisV());
    const double scale = std::min(width() / widthMm, height() / heightMm);
    const QSizeF size(widthMm * scale, heightMm * scale);
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

QPointF EndoscopyPlaneView::toWidget(const QVector3D &mm) const
{
    const QRectF picture = pictureRect();
    const render::Volume &v = *m_volume;
    const double fu = mm[axisU()] / (count(v, axisU()) * spacing(v, axisU())) + 0.5;
    double fv = mm[axisV()] / (count(v, axisV()) * spacing(v, axisV())) + 0.5;
    if (m_plane != 0)
        fv = 1.0 - fv;
    return {picture.left() + fu * picture.width(), picture.top() + fv * picture.height()};
}

void EndoscopyPlaneView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_image.isNull())
        return;
    painter.drawImage(pictureRect(), m_image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(80, 200, 255), 1.5));
    for (qsizetype i = 1; i < m_path.size(); ++i)
        painter.drawLine(toWidget(m_path.at(i - 1)), toWidget(m_path.at(i)));
    painter.setBrush(QColor(80, 200, 255));
    for (const QVector3D &point : m_path)
        painter.drawEllipse(toWidget(point), 3.0, 3.0);
    painter.setBrush(QColor(255, 235, 25));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(toWidget(m_endoscope), 5.0, 5.0);
    static const char *names[] = {"Аксиальная", "Корональная", "Сагиттальная"};
    painter.setPen(QColor(200, 200, 200));
    painter.drawText(rect().adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(names[m_plane]));
}

void EndoscopyPlaneView::mousePressEvent(QMouseEvent *event)
{
    if (!m_volume || m_image.isNull() || event->button() != Qt::LeftButton)
        return;
    const QRectF picture = pictureRect();
    if (!picture.contains(event->position()))
        return;
    const render::Volume &v = *m_volume;
    double fu = (event->position().x() - picture.left()) / picture.width();
    double fv = (event->position().y() - picture.top()) / picture.height();
    if (m_plane != 0)
        fv = 1.0 - fv;
    QVector3D mm = m_cursor;
    mm[axisU()] = float((fu - 0.5) * count(v, axisU()) * spacing(v, axisU()));
    mm[axisV()] = float((fv - 0.5) * count(v, axisV()) * spacing(v, axisV()));
    emit pointClicked(mm);
}

void EndoscopyPlaneView::wheelEvent(QWheelEvent *event)
{
    if (!m_volume || event->angleDelta().y() == 0)
        return;
    const int normal = 2 - m_plane;
    const double index = std::clamp(std::round(mmToIndex(*m_volume, normal, m_cursor[normal]))
                                        + (event->angleDelta().y() > 0 ? 1 : -1),
                                    0.0, double(count(*m_volume, normal) - 1));
    QVector3D mm = m_cursor;
    mm[normal] = float(indexToMm(*m_volume, normal, index));
    emit cursorMoved(mm);
}

} // namespace velmaris
