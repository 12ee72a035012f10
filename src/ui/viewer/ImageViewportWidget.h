#pragma once

#include "db/SliceRef.h"
#include "ui/viewer/TagsDisplayMode.h"
#include "viewer/DisplayState.h"
#include "viewer/FrameDecoder.h"
#include "viewer/FusionComposer.h"
#include "viewer/MeasurementMode.h"
#include "viewer/MeasurementScale.h"
#include "viewer/PagingAccumulator.h"
#include "viewer/WindowLevel.h"

#include <QElapsedTimer>
#include <QGraphicsView>
#include <QHash>
#include <QList>
#include <QLineF>
#include <QPointF>
#include <QTransform>
#include <QVector3D>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGraphicsPixmapItem;
class QSlider;
class QToolButton;

namespace velmaris {

class LinkMarks;
class MagnifierLens;
class MeasurementEditor;
class MeasurementItem;
class PanelReconstruction;
class ViewportDecorations;

// One image panel: shows a series slice by slice under the panel's window,
// pages, zooms, pans and windows with mouse and keys, hosts the measurement
// tools and takes series dropped from the series list. Remembers the view of
// every series it has shown, so a series that comes back looks as it was left.
class ImageViewportWidget : public QGraphicsView
{
    Q_OBJECT
public:
    explicit ImageViewportWidget(QWidget *parent = nullptr);
    ~ImageViewportWidget() override;

    void loadSeries(const QString &seriesUid, const QList<db::SliceRef> &slices);
    void showSlice(int index);

    QString seriesUid() const { return m_seriesUid; }
    int sliceCount() const { return static_cast<int>(m_slices.size()); }
    const QList<db::SliceRef> &slices() const { return m_slices; }
    int currentSlice() const { return m_sliceIndex; }

    render::WindowLevel window() const { return m_display.window(); }
    bool hasUserWindow() const { return m_display.hasUserWindow(); }
    void setInverted(bool inverted);
    bool isInverted() const { return m_display.isInverted(); }

    // View rotation in degrees, added to the stored angle (normalised to
    // 0 … 359); each transform change refits the image.
    void rotateBy(int degrees);
    void flipHorizontally();
    void flipVertically();
    void clearTransforms();
    int rotationAngle() const { return m_rotation; }
    bool isFlippedHorizontally() const { return m_flipH; }
    bool isFlippedVertically() const { return m_flipV; }
    bool isUserZoomed() const { return m_userZoomed; }

    // The wheel steps through series instead of slices (the viewer's option).
    void setWheelSeries(bool on) { m_wheelSeries = on; }

    void setActive(bool active);
    bool isActive() const { return m_active; }

    // The text over the panel: the empty-panel hint, a decoding failure, the
    // note that the object holds no image, or empty while a slice is shown.
    QString messageText() const;
    QPixmap currentPixmap() const;

    render::MeasurementMode measurementMode() const { return m_mode; }

    // The measurements of the panel in creation order, on every slice; the
    // selected one is highlighted.
    QList<MeasurementItem *> measurements() const;
    MeasurementItem *selectedMeasurement() const;

    // Millimetres per pixel set by hand for this series (0 when none), and
    // the scale the labels use now.
    double calibrationMmPerPixel() const;
    render::PixelScale measurementScale() const;
    // How much taller than wide a pixel of the shown slice is drawn, so that
    // the picture keeps its true proportions (1 for square pixels).
    double pixelAspect() const;
    void resetCalibration();

    // The magnifier's factor (1.5 … 8.0) while the tool "Лупа" is held.
    double magnifierFactor() const;
    bool isMagnifierShown() const;

    // The patient and study/series corners, built by the viewer from the
    // series' summary; the slice and window corners follow the panel.
    void setOverlayHeader(const QString &patientText, const QString &seriesText);
    TagsDisplayMode tagsDisplayMode() const { return m_tagsMode; }
    QString sliceOverlayText() const;
    QString windowOverlayText() const;

    // The tools of the six quick buttons, −1 for an empty slot.
    QList<int> quickTools() const;

    // A point of the shown slice in patient millimetres; nothing when the
    // slice carries no position and orientation.
    std::optional<QVector3D> patientPoint(const QPointF &imagePixelPos) const;
    // The patient direction towards the panel's right edge on screen ("L",
    // "R", "A", "P", "S" or "I"), following rotation and flips; empty
    // without spatial information.
    QString sideLabelText() const { return orientationLabelText(Qt::RightEdge); }
    // The same for any edge of the panel.
    QString orientationLabelText(Qt::Edge edge) const;
    // The picture as shown (window, inversion, true proportions), also put on
    // the clipboard.
    QImage copyCurrentImage() const;

    // An orthogonal plane of the series' volume in place of the 2D slices,
    // paged with the wheel, keys and slider and windowed like the slices.
    PanelReconstruction *reconstruction() const { return m_reconstruction; }

    // Another series blended over the 2D slices; none clears it.
    // `voxels` keeps alive what the layer's grid views.
    void setFusionLayer(const std::optional<render::FusionLayer> &layer, std::shared_ptr<const void> voxels = {});
    bool hasFusionLayer() const { return m_fusion.has_value(); }

signals:
    void sliceChanged(int index, int total);
    void reconstructionSliceChanged(int index, int total);
    void activated();
    void seriesDropped(const QString &seriesInstanceUID);
    void seriesStepRequested(int direction);
    void quickToolRequested(render::MeasurementMode mode);
    void cursor3DClicked(const QPointF &imagePixelPos);
    void cursor3DReleased();
    void seriesMenuRequested(const QPoint &globalPos);
    void vertebraLabelClicked(const QPointF &imagePixelPos);
    void curvedMprPathFinished(const QList<QVector3D> &physicalPoints);
    void vesselAutoTrackSeedPicked(const QVector3D &physicalPoint);
    void airwayAutoTraceSeedClicked(const QVector3D &physicalPoint);

public slots:
    void setWindowPreset(const render::WindowLevel &window);
    void setMeasurementMode(render::MeasurementMode mode);
    void clearMeasurements(bool onlyCurrentSlice);
    void setSliceByFraction(double fraction);
    void setReferenceLines(const QList<QLineF> &linesInImagePixelCoords);
    void setCursor3DMarker(const std::optional<QPointF> &imagePixelPos);
    void setTagsDisplayMode(TagsDisplayMode mode);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private slots:
    void onSliderMoved(int value);

private:
    // What the panel remembers of a series it has shown.
    struct ViewMemory
    {
        int slice = 0;
        QTransform transform;
        int hScroll = 0;
        int vScroll = 0;
        bool userZoomed = false;
        bool userWindow = false;
        render::WindowLevel window;
        int rotation = 0;
        bool flipH = false;
        bool flipV = false;
    };
    enum class Drag { None, Pan, Zoom, Window, Page, Magnify, Cursor };

    void redraw();
    // Inverted as asked, and with the fusion layer over a 2D slice.
    void setPicture(const QImage &image, const db::SliceRef *slice = nullptr);
    // The slice the wheel and keys page from, and their range: the
    // reconstruction's while one is shown.
    int pagedIndex() const;
    int pagedCount() const;
    void fitToView();
    void zoomBy(double factor);
    void rememberView();
    void updateMessage();
    void updateBorder();
    bool inCentralArea(const QPoint &pos) const;
    void updateOverlay();
    void updateMagnifier(const QPoint &viewPos);

    QGraphicsScene *m_scene = nullptr;
    QGraphicsPixmapItem *m_pixmapItem = nullptr;
    ViewportDecorations *m_decorations = nullptr;
    QSlider *m_slider = nullptr; // the decorations' own
    MagnifierLens *m_magnifier = nullptr;
    QString m_patientText;
    QString m_seriesText;
    TagsDisplayMode m_tagsMode = TagsDisplayMode::Shown;
    std::unique_ptr<LinkMarks> m_marks;
    QList<QVector3D> m_pathPoints; // clicks of the centre-line picking mode
    bool m_rightPress = false;
    bool m_rightMoved = false;

    QString m_seriesUid;
    QList<db::SliceRef> m_slices;
    int m_sliceIndex = 0;
    QString m_failedFile;
    double m_frameAspect = 1.0; // Pixel Aspect Ratio of the shown frame
    QString m_objectWithoutImage; // what the shown object is when it holds no image
    render::DisplayState m_display;
    QHash<QString, ViewMemory> m_memory;

    int m_rotation = 0;
    bool m_flipH = false;
    bool m_flipV = false;
    bool m_userZoomed = false;
    bool m_wheelSeries = false;
    bool m_active = false;
    render::MeasurementMode m_mode = render::MeasurementMode::Browse;
    MeasurementEditor *m_editor = nullptr;
    PanelReconstruction *m_reconstruction = nullptr;
    std::optional<render::FusionLayer> m_fusion;
    std::shared_ptr<const void> m_fusionVoxels;
    render::DecodedFrame m_decoded;
    QString m_decodedKey;

    Drag m_drag = Drag::None;
    QPoint m_lastPos;
    QElapsedTimer m_lastMove;
    render::PagingAccumulator m_paging;
};

} // namespace velmaris
