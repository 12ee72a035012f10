#include "ui/mpr/MprViewportWidget.h"

#include "ui/viewer/MeasurementEditor.h"
#include "ui/viewer/MeasurementItem.h"

#include <QComboBox>
#include <QGraphicsLineItem>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPen>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>

namespace velmaris {

namespace {

const QStringList planeNames = {QStringLiteral("Аксиальная"), QStringLiteral("Корональная"),
                                QStringLiteral("Сагиттальная")};
// Each plane's line has the same colour in every cell that shows it.
const QColor planeColours[] = {QColor(0xff, 0x55, 0x55), QColor(0x55, 0xdd, 0x55), QColor(0x55, 0x99, 0xff)};
// How near a crosshair line (view pixels) a press of "Захват осей" grabs it.
constexpr double grabDistance = 8.0;

double distanceToLine(const QPointF &point, const QPointF &through, const QPointF &direction)
{
    const double length = std::hypot(direction.x(), direction.y());
    if (length <= 0.0)
        return std::hypot(point.x() - through.x(), point.y() - through.y());
    const QPointF d = point - through;
    return std::fabs(d.x() * direction.y() - d.y() * direction.x()) / length;
}

} // namespace

MprViewportWidget::MprViewportWidget(MprPlane plane, QWidget *parent)
    : QGraphicsView(parent), m_plane(plane), m_scene(new QGraphicsScene(this))
{
    setScene(m_scene);
    setBackgroundBrush(Qt::black);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setRenderHint(QPainter::SmoothPixmapTransform);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(80, 80);

    m_pixmapItem = m_scene->addPixmap(QPixmap());
    m_pixmapItem->setShapeMode(QGraphicsPixmapItem::BoundingRectShape);
    m_pixmapItem->setTransformationMode(Qt::SmoothTransformation);
    // The lines end at the picture's edge whatever their direction.
    m_pixmapItem->setFlag(QGraphicsItem::ItemClipsChildrenToShape);
    const int index = static_cast<int>(plane);
    const int others[2] = {index == 0 ? 1 : 0, index == 2 ? 1 : 2};
    for (int i = 0; i < 2; ++i) {
        m_lines[i] = new QGraphicsLineItem(m_pixmapItem);
        QPen pen(planeColours[others[i]]);
        pen.setCosmetic(true);
        pen.setWidthF(1.0);
        m_lines[i]->setPen(pen);
        m_lines[i]->setZValue(1.0);
    }

    m_label = new QLabel(planeNames.at(index), this);
    m_label->setStyleSheet(QStringLiteral("color: #ffd633; background: transparent; font-size: 10px;"));
    m_label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_planeBox = new QComboBox(this);
    m_planeBox->addItems(planeNames);
    m_planeBox->setCurrentIndex(index);
    m_planeBox->setToolTip(
        QStringLiteral("Выбор другой плоскости меняет эту панель местами с той, что сейчас её показывает."));
    m_planeBox->setStyleSheet(QStringLiteral("QComboBox { color: #ffd633; background: rgba(0, 0, 0, 150); "
                                             "font-size: 10px; }"));
    connect(m_planeBox, &QComboBox::activated, this, [this](int chosen) {
        // The selector names the cell's own plane again: the swap moves the
        // cells, not the planes.
        m_planeBox->setCurrentIndex(static_cast<int>(m_plane));
        if (chosen != static_cast<int>(m_plane))
            emit planeSwapRequested(static_cast<MprPlane>(chosen));
    });

    MeasurementEditor::Panel panel;
    panel.scale = [this] {
        render::PixelScale scale;
        if (m_pixelSizeMm > 0.0) {
            scale.x = scale.y = m_pixelSizeMm;
            scale.millimetres = true;
        }
        return scale;
    };
    panel.pixelAspect = [] { return 1.0; };
    panel.decodedFrame = [](const render::DecodedFrame **, QString *error) {
        if (error)
            *error = QStringLiteral("нет исходного кадра");
        return false;
    };
    panel.labelArea = [this] { return viewport()->rect(); };
    panel.ellipseRoiText = [this](const QRectF &ellipse) {
        return m_roiStatistics ? m_roiStatistics(ellipse) : QString();
    };
    m_editor = new MeasurementEditor(this, m_scene, std::move(panel), this);
    placeOverlays();
}

MprViewportWidget::~MprViewportWidget() = default;

void MprViewportWidget::setImage(const QImage &image)
{
    const bool newSize = image.size() != m_image.size();
    m_image = image;
    m_pixmapItem->setPixmap(QPixmap::fromImage(image));
    const QRectF rect = m_pixmapItem->boundingRect();
    // Room to pan a full picture in every direction.
    m_scene->setSceneRect(rect.adjusted(-rect.width(), -rect.height(), rect.width(), rect.height()));
    placeCrosshair();
    if (newSize && !m_userZoomed)
        fitToView();
}

void MprViewportWidget::setCrosshair(const QPointF &normalised, const QPointF &firstDirection,
                                     const QPointF &secondDirection)
{
    m_crosshair = normalised;
    m_directions[0] = firstDirection;
    m_directions[1] = secondDirection;
    placeCrosshair();
}

void MprViewportWidget::placeCrosshair()
{
    const QPointF centre(m_crosshair.x() * m_image.width(), m_crosshair.y() * m_image.height());
    const double reach = 2.0 * (m_image.width() + m_image.height());
    for (int i = 0; i < 2; ++i) {
        const QPointF d = m_directions[i];
        const double length = std::hypot(d.x(), d.y());
        const QPointF unit = length > 0.0 ? d / length : QPointF(1.0, 0.0);
        m_lines[i]->setLine(QLineF(centre - unit * reach, centre + unit * reach));
        m_lines[i]->setVisible(!m_image.isNull());
    }
}

void MprViewportWidget::setSlice(int slice)
{
    m_editor->setSlice(slice);
}

void MprViewportWidget::setPixelSizeMm(double mm)
{
    m_pixelSizeMm = mm;
}

void MprViewportWidget::setRoiStatistics(std::function<QString(const QRectF &)> statistics)
{
    m_roiStatistics = std::move(statistics);
}

void MprViewportWidget::setTool(MprTool tool)
{
    m_tool = tool;
    m_drag = Drag::None;
    m_editor->cancel();
}

void MprViewportWidget::fitToView()
{
    resetTransform();
    if (!m_image.isNull())
        fitInView(m_pixmapItem, Qt::KeepAspectRatio);
    m_userZoomed = false;
    m_editor->placeLabels();
}

double MprViewportWidget::zoomFactor() const
{
    return transform().m11();
}

void MprViewportWidget::zoomBy(double factor)
{
    scale(factor, factor);
    m_userZoomed = true;
    m_editor->placeLabels();
}

QList<MeasurementItem *> MprViewportWidget::measurements() const
{
    return m_editor->measurements();
}

void MprViewportWidget::clearMeasurements()
{
    m_editor->clear(false);
}

QPointF MprViewportWidget::crosshairInView() const
{
    return mapFromScene(m_pixmapItem->mapToScene(
        QPointF(m_crosshair.x() * m_image.width(), m_crosshair.y() * m_image.height())));
}

bool MprViewportWidget::nearCrosshairLine(const QPoint &viewPos) const
{
    const QPointF centre = crosshairInView();
    for (const QGraphicsLineItem *line : m_lines) {
        const QLineF l = line->line();
        const QPointF a = mapFromScene(line->mapToScene(l.p1()));
        const QPointF b = mapFromScene(line->mapToScene(l.p2()));
        if (distanceToLine(viewPos, centre, b - a) <= grabDistance)
            return true;
    }
    return false;
}

void MprViewportWidget::emitClick(const QPoint &viewPos)
{
    if (m_image.isNull())
        return;
    const QPointF p = m_pixmapItem->mapFromScene(mapToScene(viewPos));
    const double normX = std::clamp(p.x() / m_image.width(), 0.0, 1.0);
    const double normY = std::clamp(p.y() / m_image.height(), 0.0, 1.0);
    emit positionClicked(normX, normY);
}

void MprViewportWidget::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    m_lastPos = event->pos();
    m_drag = Drag::None;
    if (event->button() == Qt::MiddleButton) {
        m_drag = Drag::Window;
    } else if (event->button() == Qt::RightButton) {
        const QRect r = viewport()->rect();
        const bool central = event->pos().x() >= r.width() / 4 && event->pos().x() <= r.width() * 3 / 4
                             && event->pos().y() >= r.height() / 4 && event->pos().y() <= r.height() * 3 / 4;
        m_drag = central ? Drag::Pan : Drag::Zoom;
    } else if (event->button() == Qt::LeftButton) {
        if (const auto mode = mprMeasurementMode(m_tool)) {
            m_editor->press(event->pos(), *mode);
        } else if (m_tool != MprTool::RotateAxes && m_editor->press(event->pos(), render::MeasurementMode::Browse)) {
            // A press on a measurement picks it up whatever the viewing tool.
        } else {
            switch (m_tool) {
            case MprTool::Pan: m_drag = Drag::Pan; break;
            case MprTool::Zoom: m_drag = Drag::Zoom; break;
            case MprTool::Windowing: m_drag = Drag::Window; break;
            case MprTool::RotateAxes:
                if (nearCrosshairLine(event->pos()))
                    m_drag = Drag::Rotate;
                break;
            default:
                m_drag = Drag::Crosshair;
                emitClick(event->pos());
                break;
            }
        }
    }
    event->accept();
}

void MprViewportWidget::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint delta = event->pos() - m_lastPos;
    if (m_editor->isDragging() || (m_drag == Drag::None && m_editor->isAddingVertices())) {
        m_editor->move(event->pos(), delta);
        m_lastPos = event->pos();
        return;
    }
    switch (m_drag) {
    case Drag::Crosshair: emitClick(event->pos()); break;
    case Drag::Pan:
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
        break;
    case Drag::Zoom:
        if (delta.y() != 0)
            zoomBy(std::pow(1.01, -delta.y()));
        break;
    case Drag::Window:
        if (!delta.isNull())
            emit windowLevelDragged(2.0 * delta.y(), 2.0 * delta.x());
        break;
    case Drag::Rotate: {
        const QPointF centre = crosshairInView();
        const double before = std::atan2(m_lastPos.y() - centre.y(), m_lastPos.x() - centre.x());
        const double after = std::atan2(event->pos().y() - centre.y(), event->pos().x() - centre.x());
        double degrees = (after - before) * 180.0 / M_PI;
        if (degrees > 180.0)
            degrees -= 360.0;
        else if (degrees < -180.0)
            degrees += 360.0;
        if (degrees != 0.0)
            emit axesRotateDelta(degrees);
        break;
    }
    case Drag::None: break;
    }
    m_lastPos = event->pos();
}

void MprViewportWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_editor->isDragging()) {
        m_editor->release(event->pos());
    } else if (m_drag == Drag::Crosshair) {
        emit crosshairDragFinished();
    }
    m_drag = Drag::None;
    event->accept();
}

void MprViewportWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_editor->doubleClick())
        return;
    emit doubleClicked();
}

void MprViewportWidget::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return;
    if (event->modifiers() & Qt::ControlModifier)
        zoomBy(delta > 0 ? 1.15 : 1.0 / 1.15);
    else
        emit wheelStepped(delta > 0 ? -1 : 1);
    event->accept();
}

void MprViewportWidget::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (m_editor->selected()) {
            m_editor->deleteSelected();
            emit measurementRemoved();
        }
        return;
    case Qt::Key_Home: emit sliceIndexRequested(0); return;
    case Qt::Key_End:
        if (m_sliceCount > 0)
            emit sliceIndexRequested(m_sliceCount - 1);
        return;
    case Qt::Key_Up:
    case Qt::Key_PageUp: emit wheelStepped(-1); return;
    case Qt::Key_Down:
    case Qt::Key_PageDown: emit wheelStepped(1); return;
    default: QGraphicsView::keyPressEvent(event);
    }
}

void MprViewportWidget::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    if (!m_userZoomed)
        fitToView();
    placeOverlays();
}

void MprViewportWidget::placeOverlays()
{
    m_label->adjustSize();
    m_label->move(6, 4);
    m_planeBox->adjustSize();
    m_planeBox->move(width() - m_planeBox->width() - 4, 4);
}

} // namespace velmaris
