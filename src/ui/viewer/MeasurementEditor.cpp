#include "ui/viewer/MeasurementEditor.h"

#include "ui/viewer/CommentInputDialog.h"
#include "ui/viewer/MeasurementItem.h"
#include "viewer/MeasurementLabels.h"
#include "viewer/RoiStatistics.h"
#include "viewer/RulerCalibration.h"
#include "viewer/ShapeHitTest.h"

#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QInputDialog>
#include <QLineF>
#include <QMessageBox>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {
using Mode = render::MeasurementMode;
} // namespace

MeasurementEditor::MeasurementEditor(QGraphicsView *view, QGraphicsScene *scene, Panel panel, QObject *parent)
    : QObject(parent), m_view(view), m_scene(scene), m_panel(std::move(panel))
{
}

MeasurementEditor::~MeasurementEditor() = default;

void MeasurementEditor::setSlice(int slice)
{
    m_slice = slice;
    updateVisibility();
}

void MeasurementEditor::setSeries(const QString &seriesUid)
{
    clear(false);
    m_seriesUid = seriesUid;
    m_calibration = render::storedCalibration(seriesUid);
}

bool MeasurementEditor::isAddingVertices() const
{
    return m_drawing != nullptr
           && (m_drawing->kind() == Mode::Polygon || m_drawing->kind() == Mode::SmoothContour
               || m_drawing->kind() == Mode::Angle || m_drawing->kind() == Mode::CobbAngle);
}

bool MeasurementEditor::press(const QPoint &viewPos, Mode tool)
{
    if (tool != Mode::Cursor3D && !isAddingVertices() && pick(viewPos))
        return true;
    if (!render::isMeasuringTool(tool))
        return false;
    startTool(tool, m_view->mapToScene(viewPos));
    return true;
}

bool MeasurementEditor::move(const QPoint &viewPos, const QPoint &delta)
{
    const QPointF at = m_view->mapToScene(viewPos);
    switch (m_drag) {
    case Drag::Draw:
        if (m_drawing != nullptr) {
            const Mode kind = m_drawing->kind();
            if (kind == Mode::Drawing || kind == Mode::FreehandRoi)
                m_drawing->appendPoint(at);
            else
                m_drawing->setPoint(static_cast<int>(m_drawing->points().size()) - 1, at);
            relabel(m_drawing, true);
        }
        return true;
    case Drag::Handle:
        if (m_selected != nullptr) {
            // The handle keeps its distance to the pointer from the press.
            m_selected->setPoint(m_handleIndex,
                                 m_selected->points().at(m_handleIndex) + at - m_view->mapToScene(viewPos - delta));
            m_handleMoved = true;
            relabel(m_selected, true);
        }
        return true;
    case Drag::Label:
        if (m_selected != nullptr)
            m_selected->setLabelOffset(m_selected->labelOffset() + at - m_view->mapToScene(viewPos - delta));
        return true;
    case Drag::None:
        // A polygon in progress follows the pointer with its next vertex, an
        // angle or Cobb angle with the arm still to be placed.
        if (m_drawing != nullptr && !m_drawing->points().isEmpty()
            && (m_floating || m_drawing->kind() == Mode::Polygon || m_drawing->kind() == Mode::SmoothContour)) {
            m_drawing->setPoint(static_cast<int>(m_drawing->points().size()) - 1, at);
            relabel(m_drawing, true);
        }
        return false;
    }
    return false;
}

bool MeasurementEditor::release(const QPoint &viewPos)
{
    const Drag drag = m_drag;
    m_drag = Drag::None;
    switch (drag) {
    case Drag::Draw:
        if (m_drawing != nullptr) {
            const Mode kind = m_drawing->kind();
            if (kind == Mode::Angle || kind == Mode::CobbAngle)
                settleArm(m_view->mapToScene(viewPos));
            else if (kind != Mode::Polygon && kind != Mode::SmoothContour)
                finishDrawing();
        }
        return true;
    case Drag::Handle:
        if (m_selected != nullptr)
            relabel(m_selected);
        return true;
    case Drag::Label:
        return true;
    case Drag::None:
        break;
    }
    return false;
}

bool MeasurementEditor::doubleClick()
{
    if (m_drawing == nullptr || (m_drawing->kind() != Mode::Polygon && m_drawing->kind() != Mode::SmoothContour))
        return false;
    // The press before the double click placed the vertex under the pointer,
    // followed by the moving one: drop the latter.
    QList<QPointF> points = m_drawing->points();
    if (points.size() > 1)
        points.removeLast();
    m_drawing->setPoints(points);
    finishDrawing();
    return true;
}

void MeasurementEditor::updateVisibility()
{
    for (MeasurementItem *item : std::as_const(m_measurements))
        item->setVisible(item->slice() == m_slice);
    placeLabels();
}

bool MeasurementEditor::pick(const QPoint &viewPos)
{
    constexpr int handleReach = 10;
    if (m_selected != nullptr && m_selected->slice() == m_slice) {
        const QList<QPointF> &points = m_selected->points();
        for (int i = 0; i < points.size(); ++i) {
            if ((m_view->mapFromScene(points.at(i)) - viewPos).manhattanLength() <= handleReach) {
                m_drag = Drag::Handle;
                m_handleIndex = i;
                m_handleMoved = false;
                return true;
            }
        }
    }
    for (MeasurementItem *item : std::as_const(m_measurements)) {
        if (item->slice() != m_slice)
            continue;
        const QRectF labelRect =
            item->label()->deviceTransform(m_view->viewportTransform()).mapRect(item->label()->boundingRect());
        if (!item->labelText().isEmpty() && labelRect.contains(viewPos)) {
            select(item);
            m_drag = Drag::Label;
            return true;
        }
    }
    const QPointF imagePos = m_view->mapToScene(viewPos);
    const double tolerance = render::shapeHitTolerance(m_view->transform().m11());
    for (MeasurementItem *item : std::as_const(m_measurements)) {
        if (item->slice() == m_slice && render::shapeHit(item->kind(), item->points(), imagePos, tolerance)) {
            select(item);
            return true;
        }
    }
    select(nullptr);
    return false;
}

void MeasurementEditor::startTool(Mode tool, const QPointF &imagePos)
{
    if (m_drawing != nullptr && m_floating) {
        // The click places the point that followed the pointer; a drag from
        // here still moves it until the release.
        m_floating = false;
        m_drawing->setPoint(static_cast<int>(m_drawing->points().size()) - 1, imagePos);
        m_drag = Drag::Draw;
        relabel(m_drawing, true);
        return;
    }
    if (m_drawing != nullptr) {
        // The next vertex of a polygon, the third point of an angle or the
        // start of the second Cobb line.
        const Mode kind = m_drawing->kind();
        if (kind == Mode::Polygon || kind == Mode::SmoothContour)
            m_drawing->setPoint(static_cast<int>(m_drawing->points().size()) - 1, imagePos);
        m_drawing->appendPoint(imagePos);
        if (kind == Mode::CobbAngle)
            m_drawing->appendPoint(imagePos);
        m_drag = Drag::Draw;
        relabel(m_drawing);
        return;
    }
    switch (tool) {
    case Mode::Text: {
        CommentInputDialog dialog(tr("Текстовая метка"), QString(), m_view);
        if (dialog.exec() != QDialog::Accepted || dialog.text().trimmed().isEmpty())
            return;
        auto *item = new MeasurementItem(Mode::Text, m_slice);
        m_scene->addItem(item);
        item->setPoints({imagePos});
        item->setComment(dialog.text());
        m_measurements.append(item);
        relabel(item);
        return;
    }
    case Mode::Ruler:
    case Mode::Arrow:
    case Mode::Calibration:
    case Mode::Angle:
    case Mode::CobbAngle:
    case Mode::EllipseRoi:
    case Mode::EllipseArea:
    case Mode::Drawing:
    case Mode::FreehandRoi:
    case Mode::Polygon:
    case Mode::SmoothContour:
        break;
    default:
        return;
    }
    m_drawing = new MeasurementItem(tool, m_slice);
    m_scene->addItem(m_drawing);
    const bool vertexList = tool == Mode::Drawing || tool == Mode::FreehandRoi;
    m_drawing->setPoints(vertexList ? QList<QPointF>{imagePos} : QList<QPointF>{imagePos, imagePos});
    if (tool != Mode::Calibration)
        m_measurements.append(m_drawing);
    m_drag = Drag::Draw;
    relabel(m_drawing, true);
}

void MeasurementEditor::settleArm(const QPointF &imagePos)
{
    // An arm placed by a click (no drag) follows the pointer until the next
    // click; an angle whose first arm was dragged out shows its second arm
    // following the pointer at once.
    const Mode kind = m_drawing->kind();
    const QList<QPointF> &p = m_drawing->points();
    const int last = static_cast<int>(p.size()) - 1;
    const int lineStart = kind == Mode::Angle ? 0 : last - 1;
    if (last >= 1 && p.at(last) == p.at(lineStart)) {
        m_floating = true;
        return;
    }
    if (p.size() >= (kind == Mode::Angle ? 3 : 4)) {
        finishDrawing();
        return;
    }
    if (kind == Mode::Angle) {
        m_drawing->appendPoint(imagePos);
        m_floating = true;
        relabel(m_drawing, true);
    }
}

void MeasurementEditor::finishDrawing()
{
    MeasurementItem *item = m_drawing;
    m_drawing = nullptr;
    m_floating = false;
    if (item == nullptr)
        return;
    item->setFinished(true);
    const QList<QPointF> &points = item->points();
    const bool degenerate = std::all_of(points.cbegin(), points.cend(),
                                        [&points](const QPointF &p) { return p == points.first(); });
    if (degenerate && item->kind() != Mode::Calibration) {
        // A plain click measures nothing.
        remove(item);
        return;
    }
    if (item->kind() == Mode::Calibration) {
        calibrateWith(item);
        delete item;
        return;
    }
    if (item->kind() == Mode::Arrow) {
        CommentInputDialog dialog(tr("Комментарий к стрелке"), QString(), m_view);
        if (dialog.exec() == QDialog::Accepted)
            item->setComment(dialog.text());
    }
    relabel(item);
}

void MeasurementEditor::calibrateWith(MeasurementItem *line)
{
    // Measured in pixel widths: the calibration keeps the pixels' proportions
    // and scales both directions alike.
    const render::PixelScale widths = render::measurementScale(0.0, 0.0, 0.0, m_panel.pixelAspect());
    const QList<QPointF> points = widths.map(line->points());
    const double length = points.size() < 2 ? 0.0 : QLineF(points.at(0), points.at(1)).length();
    if (length < render::minimumCalibrationLinePx) {
        QMessageBox::information(m_view, render::calibrationDialogTitle(), render::calibrationLineTooShortText());
        return;
    }
    bool ok = false;
    const double size = QInputDialog::getDouble(
        m_view, render::calibrationDialogTitle(), render::calibrationDialogLabel(), render::lastCalibrationSizeMm(),
        render::minimumCalibrationSizeMm, render::maximumCalibrationSizeMm, 2, &ok, Qt::WindowFlags(), 1.0);
    if (!ok)
        return;
    render::storeLastCalibrationSizeMm(size);
    m_calibration = render::calibrationMmPerPixel(size, length);
    render::storeCalibration(m_seriesUid, m_calibration);
    relabelAll();
    emit calibrationChanged();
}

void MeasurementEditor::resetCalibration()
{
    if (m_seriesUid.isEmpty())
        return;
    render::removeCalibration(m_seriesUid);
    m_calibration = 0.0;
    relabelAll();
    emit calibrationChanged();
}

void MeasurementEditor::relabel(MeasurementItem *item, bool pending)
{
    const QList<QPointF> &p = item->points();
    const QRectF rect = p.size() >= 2 ? QRectF(p.at(0), p.at(1)).normalized() : QRectF();
    QString text;
    switch (item->kind()) {
    case Mode::Ruler:
    case Mode::Calibration:
    case Mode::Angle:
    case Mode::CobbAngle:
    case Mode::EllipseArea:
    case Mode::Polygon:
    case Mode::SmoothContour:
        text = render::geometryLabel(item->kind(), p, m_panel.scale(), item->isFinished());
        break;
    case Mode::EllipseRoi:
    case Mode::FreehandRoi: {
        const render::DecodedFrame *frame = nullptr;
        QString error;
        if (pending) {
            text = render::roiPendingLabel(m_drag == Drag::Handle);
        } else if (item->kind() == Mode::EllipseRoi && m_panel.ellipseRoiText) {
            text = m_panel.ellipseRoiText(rect);
        } else if (!m_panel.decodedFrame(&frame, &error) || frame == nullptr) {
            text = render::roiUnavailableLabel(error);
        } else if (item->kind() == Mode::EllipseRoi) {
            text = render::roiStatisticsLabel(render::ellipseStatistics(
                *frame, rect.center().x(), rect.center().y(), rect.width() / 2, rect.height() / 2));
        } else {
            text = render::roiStatisticsLabel(render::polygonStatistics(*frame, p));
        }
        break;
    }
    case Mode::Arrow:
    case Mode::Text:
        text = item->comment();
        break;
    default:
        break;
    }
    item->setLabelText(text);
    placeLabels();
}

void MeasurementEditor::relabelAll()
{
    // ROI statistics depend on the slice, not on the scale; the rest is
    // printed with the new scale.
    for (MeasurementItem *item : std::as_const(m_measurements)) {
        if (item->kind() != Mode::EllipseRoi && item->kind() != Mode::FreehandRoi)
            relabel(item);
    }
}

void MeasurementEditor::select(MeasurementItem *item)
{
    if (m_selected != nullptr)
        m_selected->setHighlighted(false);
    m_selected = item;
    if (m_selected != nullptr)
        m_selected->setHighlighted(true);
}

void MeasurementEditor::remove(MeasurementItem *item)
{
    if (item == m_selected)
        m_selected = nullptr;
    if (item == m_drawing) {
        m_drawing = nullptr;
        m_floating = false;
    }
    m_measurements.removeOne(item);
    delete item;
}

void MeasurementEditor::deleteSelected()
{
    if (m_selected == nullptr)
        return;
    MeasurementItem *previous = nullptr;
    for (MeasurementItem *item : std::as_const(m_measurements)) {
        if (item == m_selected)
            break;
        if (item->slice() == m_slice)
            previous = item;
    }
    remove(m_selected);
    select(previous);
}

void MeasurementEditor::cancel()
{
    select(nullptr);
    m_drag = Drag::None;
    m_floating = false;
    if (m_drawing != nullptr)
        remove(m_drawing);
}

void MeasurementEditor::clear(bool onlyCurrentSlice)
{
    cancel();
    const QList<MeasurementItem *> items = m_measurements;
    for (MeasurementItem *item : items) {
        if (!onlyCurrentSlice || item->slice() == m_slice)
            remove(item);
    }
}

void MeasurementEditor::placeLabels()
{
    // Labels keep their size on screen, so they are placed in view pixels:
    // an arrow's comment stands off its tail, away from what the head points
    // at; no label runs past the image area or covers another one.
    const QRect area = m_panel.labelArea();
    QList<QRectF> placed;
    for (MeasurementItem *item : std::as_const(m_measurements)) {
        item->setLabelShift(QPointF());
        if (item->slice() != m_slice || item->labelText().isEmpty())
            continue;
        QRectF box = item->label()->deviceTransform(m_view->viewportTransform()).mapRect(item->label()->boundingRect());
        QPointF shift;
        if (item->kind() == Mode::Arrow && item->points().size() >= 2) {
            const QPointF tail = m_view->mapFromScene(item->points().at(0));
            const QPointF head = m_view->mapFromScene(item->points().at(1));
            QPointF away = tail - head;
            const double length = std::hypot(away.x(), away.y());
            away = length > 0.0 ? away / length : QPointF(0, -1);
            const double reach = std::hypot(box.width(), box.height()) / 2 + 4;
            shift = box.topLeft() + away * reach - box.center();
        }
        box.translate(shift);
        const auto keepInside = [&area](QRectF &rect) {
            QPointF move;
            if (rect.right() > area.right())
                move.rx() = area.right() - rect.right();
            if (rect.left() + move.x() < area.left())
                move.rx() = area.left() - rect.left();
            if (rect.bottom() > area.bottom())
                move.ry() = area.bottom() - rect.bottom();
            if (rect.top() + move.y() < area.top())
                move.ry() = area.top() - rect.top();
            rect.translate(move);
            return move;
        };
        shift += keepInside(box);
        // Step below the labels it would cover, or above them when there is
        // no room below.
        for (const int direction : {1, -1}) {
            QRectF candidate = box;
            for (int attempt = 0; attempt < placed.size() + 1; ++attempt) {
                const auto covered = std::find_if(placed.cbegin(), placed.cend(), [&candidate](const QRectF &other) {
                    return other.intersects(candidate);
                });
                if (covered == placed.cend())
                    break;
                candidate.moveTop(direction > 0 ? covered->bottom() + 2 : covered->top() - 2 - candidate.height());
            }
            const bool clear = std::none_of(placed.cbegin(), placed.cend(),
                                            [&candidate](const QRectF &other) { return other.intersects(candidate); });
            if (clear && candidate.top() >= area.top() && candidate.bottom() <= area.bottom()) {
                shift += candidate.topLeft() - box.topLeft();
                box = candidate;
                break;
            }
        }
        item->setLabelShift(shift);
        placed.append(box);
    }
}

} // namespace velmaris
