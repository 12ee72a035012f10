#include "ui/viewer/ImageViewportWidget.h"

#include "ui/viewer/LinkMarks.h"
#include "ui/viewer/MagnifierLens.h"
#include "ui/viewer/MeasurementEditor.h"
#include "ui/viewer/PanelReconstruction.h"
#include "ui/viewer/MeasurementItem.h"
#include "ui/viewer/ViewportDecorations.h"
#include "viewer/ImageInversion.h"
#include "viewer/MeasurementScale.h"
#include "viewer/OverlayText.h"
#include "viewer/SlicePlane.h"
#include "viewer/SliceSync.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {

using Mode = render::MeasurementMode;

const QString seriesMimeType = QStringLiteral("application/x-dicom-series-uid");
constexpr double wheelZoomStep = 1.15;
constexpr double dragZoomBase = 1.01;

} // namespace

ImageViewportWidget::ImageViewportWidget(QWidget *parent)
    : QGraphicsView(parent)
    , m_scene(new QGraphicsScene(this))
    , m_pixmapItem(new QGraphicsPixmapItem)
    , m_magnifier(new MagnifierLens(this))
{
    setScene(m_scene);
    m_scene->addItem(m_pixmapItem);
    MeasurementEditor::Panel panel;
    panel.scale = [this] { return measurementScale(); };
    panel.pixelAspect = [this] { return pixelAspect(); };
    panel.labelArea = [this] { return m_decorations->labelArea(); };
    panel.decodedFrame = [this](const render::DecodedFrame **frame, QString *error) {
        // The panel keeps the last decoded frame: ROIs on one slice decode it once.
        const db::SliceRef &slice = m_slices.at(m_sliceIndex);
        const QString key = slice.file_path + QLatin1Char('#') + QString::number(slice.frame_index);
        if (key != m_decodedKey || !m_decoded.ok) {
            m_decodedKey = key;
            render::loadDecodedFrame(m_decoded, slice.file_path, slice.frame_index);
        }
        *frame = &m_decoded;
        *error = m_decoded.error;
        return m_decoded.ok;
    };
    m_editor = new MeasurementEditor(this, m_scene, std::move(panel), this);
    connect(m_editor, &MeasurementEditor::calibrationChanged, this, &ImageViewportWidget::updateOverlay);
    m_pixmapItem->setTransformationMode(Qt::SmoothTransformation);
    setBackgroundBrush(Qt::black);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTransformationAnchor(QGraphicsView::AnchorViewCenter);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    // Shapes being drawn follow the pointer between clicks, buttons up.
    viewport()->setMouseTracking(true);

    m_decorations = new ViewportDecorations(this, [this](Qt::Edge edge) { return orientationLabelText(edge); });
    m_slider = m_decorations->slider();
    connect(m_slider, &QSlider::valueChanged, this, &ImageViewportWidget::onSliderMoved);
    connect(m_decorations, &ViewportDecorations::quickToolRequested, this,
            &ImageViewportWidget::quickToolRequested);
    PanelReconstruction::Panel reconstructed;
    reconstructed.widget = this;
    reconstructed.slices = [this] { return m_slices; };
    reconstructed.description = [this] { return m_seriesText; };
    reconstructed.redraw = [this] { redraw(); };
    reconstructed.showSlices = [this] {
        showSlice(m_sliceIndex);
        fitToView();
    };
    reconstructed.setMeasurementSlice = [this](int key) { m_editor->setSlice(key); };
    reconstructed.fitToView = [this] { fitToView(); };
    reconstructed.isUserZoomed = [this] { return m_userZoomed; };
    m_reconstruction = new PanelReconstruction(m_slider, m_decorations, std::move(reconstructed), this);
    connect(m_reconstruction, &PanelReconstruction::sliceShown, this,
            &ImageViewportWidget::reconstructionSliceChanged);
    m_marks = std::make_unique<LinkMarks>(m_scene);

    updateMessage();
    updateBorder();
    updateOverlay();
}

ImageViewportWidget::~ImageViewportWidget() = default;

void ImageViewportWidget::loadSeries(const QString &seriesUid, const QList<db::SliceRef> &slices)
{
    if (!m_seriesUid.isEmpty())
        rememberView();

    m_seriesUid = seriesUid;
    m_slices = slices;
    m_reconstruction->drop();
    m_editor->setSeries(seriesUid);
    m_decodedKey.clear();
    m_display.clearUserWindow();
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setRange(0, std::max(0, sliceCount() - 1));
        m_slider->setEnabled(!m_slices.isEmpty());
    }

    const auto remembered = m_memory.constFind(seriesUid);
    if (remembered == m_memory.constEnd()) {
        m_rotation = 0;
        m_flipH = false;
        m_flipV = false;
        m_sliceIndex = 0;
        showSlice(0);
        fitToView();
        return;
    }
    const ViewMemory memory = remembered.value();
    m_rotation = memory.rotation;
    m_flipH = memory.flipH;
    m_flipV = memory.flipV;
    if (memory.userWindow)
        m_display.applyWindow(memory.window);
    showSlice(memory.slice);
    setTransform(memory.transform);
    m_userZoomed = memory.userZoomed;
    horizontalScrollBar()->setValue(memory.hScroll);
    verticalScrollBar()->setValue(memory.vScroll);
}

void ImageViewportWidget::rememberView()
{
    ViewMemory memory;
    memory.slice = m_sliceIndex;
    memory.transform = transform();
    memory.hScroll = horizontalScrollBar()->value();
    memory.vScroll = verticalScrollBar()->value();
    memory.userZoomed = m_userZoomed;
    memory.userWindow = m_display.hasUserWindow();
    memory.window = m_display.window();
    memory.rotation = m_rotation;
    memory.flipH = m_flipH;
    memory.flipV = m_flipV;
    m_memory.insert(m_seriesUid, memory);
}

void ImageViewportWidget::showSlice(int index)
{
    if (m_slices.isEmpty())
        return;
    if (m_reconstruction->isShown()) {
        m_reconstruction->showSlice(index);
        return;
    }
    m_sliceIndex = std::clamp(index, 0, sliceCount() - 1);
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(m_sliceIndex);
    }
    redraw();
    m_editor->setSlice(m_sliceIndex);
    emit sliceChanged(m_sliceIndex, sliceCount());
}

void ImageViewportWidget::redraw()
{
    if (m_slices.isEmpty())
        return;
    if (m_reconstruction->isShown()) {
        setPicture(m_reconstruction->render(m_display.window()));
        updateOverlay();
        return;
    }
    const db::SliceRef &slice = m_slices.at(m_sliceIndex);
    render::WindowRequest request;
    if (const auto window = m_display.windowForDraw()) {
        request.center = window->centre;
        request.width = window->width;
        request.given = true;
    }
    const render::RenderedFrame frame = render::renderFrame(slice.file_path, slice.frame_index, request);
    if (!frame.ok) {
        m_failedFile = QFileInfo(slice.file_path).fileName();
        m_objectWithoutImage = frame.objectWithoutImage;
        m_pixmapItem->setPixmap(QPixmap());
        updateMessage();
        return;
    }
    m_failedFile.clear();
    const double previousAspect = pixelAspect();
    m_frameAspect = frame.pixelAspectRatio;
    m_objectWithoutImage.clear();
    setPicture(frame.image, &slice);
    m_display.adoptRenderedWindow(render::WindowLevel{frame.windowCenter, frame.windowWidth});
    updateMessage();
    updateOverlay();
    // A slice whose pixels have other proportions than the last one's (a
    // mixed series) is drawn anew in its own.
    if (std::abs(pixelAspect() - previousAspect) > 1e-6 && !m_userZoomed)
        fitToView();
}

void ImageViewportWidget::setFusionLayer(const std::optional<render::FusionLayer> &layer,
                                         std::shared_ptr<const void> voxels)
{
    m_fusion = layer;
    m_fusionVoxels = layer ? std::move(voxels) : nullptr;
    redraw();
}

void ImageViewportWidget::setPicture(const QImage &image, const db::SliceRef *slice)
{
    QImage picture = m_display.isInverted() ? render::invertedImage(image) : image;
    if (m_fusion && slice != nullptr)
        picture = render::composeFusion(picture, render::sliceGeometry(*slice), *m_fusion);
    m_pixmapItem->setPixmap(QPixmap::fromImage(picture));
    const qreal w = picture.width();
    const qreal h = picture.height();
    // A panned image can move a whole image size in every direction.
    m_scene->setSceneRect(-w, -h, 3 * w, 3 * h);
}

int ImageViewportWidget::pagedIndex() const
{
    return m_reconstruction->isShown() ? m_reconstruction->sliceIndex() : m_sliceIndex;
}

int ImageViewportWidget::pagedCount() const
{
    return m_reconstruction->isShown() ? m_reconstruction->sliceCount() : sliceCount();
}

QString ImageViewportWidget::messageText() const
{
    return m_decorations->message();
}

QPixmap ImageViewportWidget::currentPixmap() const
{
    return m_pixmapItem->pixmap();
}

void ImageViewportWidget::updateMessage()
{
    QString text;
    if (m_slices.isEmpty())
        text = tr("Выберите серию слева, чтобы открыть срезы");
    else if (!m_objectWithoutImage.isEmpty())
        text = tr("Объект без изображения: %1").arg(m_objectWithoutImage);
    else if (!m_failedFile.isEmpty())
        text = tr("Не удалось декодировать срез:\n%1").arg(m_failedFile);
    m_decorations->setMessage(text);
}

void ImageViewportWidget::setActive(bool active)
{
    m_active = active;
    updateBorder();
}

void ImageViewportWidget::updateBorder()
{
    setStyleSheet(m_active ? QStringLiteral("QGraphicsView { border: 3px solid #33aaff; }")
                           : QStringLiteral("QGraphicsView { border: 3px solid transparent; }"));
}

void ImageViewportWidget::setInverted(bool inverted)
{
    m_display.setInverted(inverted);
    redraw();
}

void ImageViewportWidget::setWindowPreset(const render::WindowLevel &window)
{
    if (m_slices.isEmpty())
        return;
    m_display.applyWindow(window);
    redraw();
}

void ImageViewportWidget::setMeasurementMode(Mode mode)
{
    m_editor->cancel();
    m_pathPoints.clear();
    m_mode = mode;
    m_magnifier->hide();
    setDragMode(mode == Mode::Browse ? QGraphicsView::ScrollHandDrag : QGraphicsView::NoDrag);
}

void ImageViewportWidget::setSliceByFraction(double fraction)
{
    if (m_slices.isEmpty())
        return;
    showSlice(render::sliceForFraction(fraction, sliceCount()));
}

void ImageViewportWidget::onSliderMoved(int value)
{
    showSlice(value);
}

void ImageViewportWidget::rotateBy(int degrees)
{
    m_rotation = ((m_rotation + degrees) % 360 + 360) % 360;
    fitToView();
}

void ImageViewportWidget::flipHorizontally()
{
    m_flipH = !m_flipH;
    fitToView();
}

void ImageViewportWidget::flipVertically()
{
    m_flipV = !m_flipV;
    fitToView();
}

void ImageViewportWidget::clearTransforms()
{
    m_rotation = 0;
    m_flipH = false;
    m_flipV = false;
    fitToView();
}

void ImageViewportWidget::fitToView()
{
    // Scene units stay image pixels, so measurements and ROIs keep working in
    // pixels; the view stretches the rows by the pixel aspect first (true
    // proportions), then rotates, flips and scales the whole to fit.
    QTransform shape = QTransform::fromScale(1.0, pixelAspect());
    shape *= QTransform().rotate(m_rotation);
    shape *= QTransform::fromScale(m_flipH ? -1 : 1, m_flipV ? -1 : 1);
    double fit = 1.0;
    if (!m_pixmapItem->pixmap().isNull()) {
        // The same two-pixel margin QGraphicsView::fitInView keeps.
        const QRectF room = QRectF(viewport()->rect()).adjusted(2, 2, -2, -2);
        const QRectF shown = shape.mapRect(m_pixmapItem->boundingRect());
        if (shown.width() > 0 && shown.height() > 0 && !room.isEmpty())
            fit = std::min(room.width() / shown.width(), room.height() / shown.height());
    }
    setTransform(shape * QTransform::fromScale(fit, fit));
    if (!m_pixmapItem->pixmap().isNull())
        centerOn(m_pixmapItem);
    m_userZoomed = false;
    m_decorations->place(); // the orientation letters follow rotation and flips
    m_editor->placeLabels();
}

double ImageViewportWidget::pixelAspect() const
{
    if (m_slices.isEmpty())
        return 1.0;
    const db::SliceRef &slice = m_slices.at(m_sliceIndex);
    return render::pixelAspect(slice.pixel_spacing_y, slice.pixel_spacing_x, m_frameAspect);
}

std::optional<QVector3D> ImageViewportWidget::patientPoint(const QPointF &imagePixelPos) const
{
    if (m_slices.isEmpty())
        return std::nullopt;
    const auto point = render::pixelToPatient(render::sliceGeometry(m_slices.at(m_sliceIndex)), imagePixelPos);
    if (!point)
        return std::nullopt;
    return QVector3D(float((*point)[0]), float((*point)[1]), float((*point)[2]));
}

QString ImageViewportWidget::orientationLabelText(Qt::Edge edge) const
{
    if (m_slices.isEmpty())
        return QString();
    const db::SliceRef &slice = m_slices.at(m_sliceIndex);
    QVector3D row(slice.orientation_row_x, slice.orientation_row_y, slice.orientation_row_z);
    QVector3D column(slice.orientation_col_x, slice.orientation_col_y, slice.orientation_col_z);
    if (m_reconstruction->isShown()) {
        const auto directions = m_reconstruction->pictureDirections();
        if (!directions)
            return QString();
        row = directions->first;
        column = directions->second;
    } else if (!slice.has_spatial_info) {
        return QString();
    }
    // The screen direction towards the edge in image pixels, through the
    // view's rotation and flips, then in patient space.
    QPointF towards(1, 0);
    if (edge == Qt::LeftEdge)
        towards = QPointF(-1, 0);
    else if (edge == Qt::TopEdge)
        towards = QPointF(0, -1);
    else if (edge == Qt::BottomEdge)
        towards = QPointF(0, 1);
    const QTransform inverse = transform().inverted();
    const QPointF step = inverse.map(towards) - inverse.map(QPointF(0, 0));
    const QVector3D direction = row * float(step.x()) + column * float(step.y());
    return render::patientDirectionLetter({direction.x(), direction.y(), direction.z()});
}

QImage ImageViewportWidget::copyCurrentImage() const
{
    const QImage picture = render::withTrueProportions(m_pixmapItem->pixmap().toImage(), pixelAspect());
    if (!picture.isNull())
        QGuiApplication::clipboard()->setImage(picture);
    return picture;
}

void ImageViewportWidget::zoomBy(double factor)
{
    scale(factor, factor);
    m_userZoomed = true;
    m_editor->placeLabels();
}

void ImageViewportWidget::scrollContentsBy(int dx, int dy)
{
    QGraphicsView::scrollContentsBy(dx, dy);
    m_editor->placeLabels();
}

bool ImageViewportWidget::inCentralArea(const QPoint &pos) const
{
    const QRect area = viewport()->rect();
    return pos.x() > area.width() / 4.0 && pos.x() < area.width() * 3.0 / 4.0 && pos.y() > area.height() / 4.0
           && pos.y() < area.height() * 3.0 / 4.0;
}

void ImageViewportWidget::mousePressEvent(QMouseEvent *event)
{
    emit activated();
    m_lastPos = event->position().toPoint();
    m_lastMove.start();
    switch (event->button()) {
    case Qt::MiddleButton:
        m_drag = Drag::Window;
        event->accept();
        return;
    case Qt::RightButton:
        m_drag = inCentralArea(m_lastPos) ? Drag::Pan : Drag::Zoom;
        // A right click that does not move opens the panel's series menu.
        m_rightPress = true;
        m_rightMoved = false;
        event->accept();
        return;
    case Qt::LeftButton:
        break;
    default:
        QGraphicsView::mousePressEvent(event);
        return;
    }

    // Measurements first: a press may pick one up whatever the tool.
    if (!m_slices.isEmpty() && m_editor->press(m_lastPos, m_mode)) {
        event->accept();
        return;
    }
    switch (m_mode) {
    case Mode::Browse:
        QGraphicsView::mousePressEvent(event);
        return;
    case Mode::Zoom:
        m_drag = Drag::Zoom;
        break;
    case Mode::Windowing:
        m_drag = Drag::Window;
        break;
    case Mode::Paging:
        m_drag = Drag::Page;
        m_paging.reset();
        break;
    case Mode::Magnifier:
        m_drag = Drag::Magnify;
        updateMagnifier(m_lastPos);
        break;
    case Mode::Cursor3D:
        if (!m_slices.isEmpty()) {
            m_drag = Drag::Cursor;
            emit cursor3DClicked(mapToScene(m_lastPos));
        }
        break;
    case Mode::VertebraLabels:
        if (!m_slices.isEmpty())
            emit vertebraLabelClicked(mapToScene(m_lastPos));
        break;
    case Mode::CurvedMprPath:
        if (const auto point = patientPoint(mapToScene(m_lastPos)))
            m_pathPoints.append(*point);
        break;
    case Mode::VesselSeed:
        if (const auto point = patientPoint(mapToScene(m_lastPos)))
            emit vesselAutoTrackSeedPicked(*point);
        break;
    case Mode::AirwaySeed:
        if (const auto point = patientPoint(mapToScene(m_lastPos)))
            emit airwayAutoTraceSeedClicked(*point);
        break;
    default:
        break;
    }
    event->accept();
}

void ImageViewportWidget::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QPoint delta = pos - m_lastPos;
    const qint64 elapsed = m_lastMove.restart();
    m_lastPos = pos;
    if (m_rightPress && delta.manhattanLength() > 0)
        m_rightMoved = true;
    // Shapes being drawn follow the pointer only while the panel itself is
    // not panning, zooming or windowing.
    if ((m_editor->isDragging() || m_drag == Drag::None) && m_editor->move(pos, delta)) {
        event->accept();
        return;
    }
    switch (m_drag) {
    case Drag::Window:
        m_display.drag(delta.x(), delta.y());
        redraw();
        break;
    case Drag::Pan:
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta.x());
        verticalScrollBar()->setValue(verticalScrollBar()->value() - delta.y());
        break;
    case Drag::Zoom:
        zoomBy(std::pow(dragZoomBase, -delta.y()));
        break;
    case Drag::Page:
        if (const int steps = m_paging.addMove(delta.y(), elapsed); steps != 0)
            showSlice(pagedIndex() + steps);
        break;
    case Drag::Magnify:
        updateMagnifier(pos);
        break;
    case Drag::Cursor:
        break;
    case Drag::None:
        QGraphicsView::mouseMoveEvent(event);
        return;
    }
    event->accept();
}

void ImageViewportWidget::mouseReleaseEvent(QMouseEvent *event)
{
    const Drag drag = m_drag;
    m_drag = Drag::None;
    if (event->button() == Qt::LeftButton && m_editor->release(event->position().toPoint())) {
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        const bool click = m_rightPress && !m_rightMoved;
        m_rightPress = false;
        if (click && !m_slices.isEmpty()) {
            emit seriesMenuRequested(event->globalPosition().toPoint());
            event->accept();
            return;
        }
    }
    switch (drag) {
    case Drag::None:
        QGraphicsView::mouseReleaseEvent(event);
        return;
    case Drag::Magnify:
        m_magnifier->hide();
        break;
    case Drag::Cursor:
        emit cursor3DReleased();
        break;
    default:
        break;
    }
    event->accept();
}

void ImageViewportWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double click ends the centre line; it needs at least two points.
    if (event->button() == Qt::LeftButton && m_mode == Mode::CurvedMprPath) {
        if (const auto point = patientPoint(mapToScene(event->position().toPoint())))
            m_pathPoints.append(*point);
        if (m_pathPoints.size() >= 2)
            emit curvedMprPathFinished(m_pathPoints);
        m_pathPoints.clear();
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && m_editor->doubleClick()) {
        event->accept();
        return;
    }
    mousePressEvent(event);
}

void ImageViewportWidget::resetCalibration()
{
    m_editor->resetCalibration();
}

QList<int> ImageViewportWidget::quickTools() const
{
    return m_decorations->quickTools();
}

QList<MeasurementItem *> ImageViewportWidget::measurements() const
{
    return m_editor->measurements();
}

MeasurementItem *ImageViewportWidget::selectedMeasurement() const
{
    return m_editor->selected();
}

double ImageViewportWidget::calibrationMmPerPixel() const
{
    return m_editor->calibrationMmPerPixel();
}

render::PixelScale ImageViewportWidget::measurementScale() const
{
    if (m_slices.isEmpty())
        return render::measurementScale(m_editor->calibrationMmPerPixel(), 0.0, 0.0);
    const db::SliceRef &slice = m_slices.at(m_sliceIndex);
    return render::measurementScale(m_editor->calibrationMmPerPixel(), slice.pixel_spacing_y, slice.pixel_spacing_x, m_frameAspect);
}

void ImageViewportWidget::clearMeasurements(bool onlyCurrentSlice)
{
    m_editor->clear(onlyCurrentSlice);
}

void ImageViewportWidget::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    const int notches = std::max(1, std::abs(delta) / 120);
    if (m_drag == Drag::Magnify) {
        m_magnifier->stepFactor(delta > 0);
        updateMagnifier(m_lastPos);
    } else if (event->modifiers() & Qt::ControlModifier) {
        zoomBy(std::pow(delta > 0 ? wheelZoomStep : 1.0 / wheelZoomStep, notches));
    } else if (m_wheelSeries) {
        emit seriesStepRequested(delta < 0 ? 1 : -1);
    } else if (!m_slices.isEmpty()) {
        showSlice(pagedIndex() + (delta < 0 ? notches : -notches));
    }
    event->accept();
}

void ImageViewportWidget::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Home:
        showSlice(0);
        break;
    case Qt::Key_End:
        showSlice(pagedCount() - 1);
        break;
    case Qt::Key_Up:
    case Qt::Key_PageUp:
        showSlice(pagedIndex() - 1);
        break;
    case Qt::Key_Down:
    case Qt::Key_PageDown:
        showSlice(pagedIndex() + 1);
        break;
    case Qt::Key_Left:
        emit seriesStepRequested(-1);
        break;
    case Qt::Key_Right:
        emit seriesStepRequested(1);
        break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        m_editor->deleteSelected();
        break;
    default:
        QGraphicsView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ImageViewportWidget::resizeEvent(QResizeEvent *event)
{
    QGraphicsView::resizeEvent(event);
    m_decorations->place();
    if (!m_userZoomed)
        fitToView();
}

void ImageViewportWidget::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(seriesMimeType))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageViewportWidget::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasFormat(seriesMimeType))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ImageViewportWidget::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasFormat(seriesMimeType)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit seriesDropped(QString::fromUtf8(event->mimeData()->data(seriesMimeType)));
}


void ImageViewportWidget::setOverlayHeader(const QString &patientText, const QString &seriesText)
{
    m_patientText = patientText;
    m_seriesText = seriesText;
    updateOverlay();
}

QString ImageViewportWidget::sliceOverlayText() const
{
    if (m_slices.isEmpty())
        return {};
    if (m_reconstruction->isShown())
        return m_reconstruction->overlayText();
    const db::SliceRef &slice = m_slices.at(m_sliceIndex);
    return render::sliceOverlayText(m_sliceIndex, sliceCount(), slice.slice_thickness,
                                    render::overlaySlicePosition(m_slices, m_sliceIndex),
                                    m_editor->calibrationMmPerPixel());
}

QString ImageViewportWidget::windowOverlayText() const
{
    if (m_slices.isEmpty())
        return {};
    const db::SliceRef &slice = m_slices.at(m_sliceIndex);
    return render::windowOverlayText(m_display.window(), slice.repetition_time, slice.echo_time);
}

void ImageViewportWidget::setTagsDisplayMode(TagsDisplayMode mode)
{
    m_tagsMode = mode;
    updateOverlay();
}

void ImageViewportWidget::updateOverlay()
{
    m_decorations->setCornerTexts({m_patientText, m_seriesText, sliceOverlayText(), windowOverlayText()},
                                  m_tagsMode == TagsDisplayMode::Shown);
}

void ImageViewportWidget::setReferenceLines(const QList<QLineF> &linesInImagePixelCoords)
{
    m_marks->setReferenceLines(linesInImagePixelCoords);
}

void ImageViewportWidget::setCursor3DMarker(const std::optional<QPointF> &imagePixelPos)
{
    m_marks->setCursor(imagePixelPos);
}

double ImageViewportWidget::magnifierFactor() const
{
    return m_magnifier->factor();
}

bool ImageViewportWidget::isMagnifierShown() const
{
    return m_magnifier->isVisible();
}

void ImageViewportWidget::updateMagnifier(const QPoint &viewPos)
{
    m_magnifier->showAt(m_pixmapItem->pixmap(), pixelAspect(), viewPos);
}

} // namespace velmaris
