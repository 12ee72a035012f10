#pragma once

#include "db/SliceRef.h"
#include "ui/cpr/CprImageView.h"
#include "ui/cpr/CurvedMprMode.h"
#include "volume/CprState.h"
#include "volume/CurvedMpr.h"
#include "volume/SharedVolumes.h"
#include "volume/VesselTrace.h"

#include <QFutureWatcher>
#include <QList>
#include <QMainWindow>
#include <QVector3D>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QComboBox;
class QDoubleSpinBox;
class QLabel;

namespace velmaris {

class CprReferencePanel;
class CprSectionsView;
class VesselProfileWindow;

// The curved-reconstruction window in its three modes: control points are
// placed, dragged and deleted on three reference planes; the straightened
// picture is rebuilt off the GUI thread after every change (a change made
// while a build runs is built right after it). The vessel mode adds the
// perpendicular sections, the stenosis tools, the vessel profile and the
// automatic tracing; the panoramic mode lays the picture out horizontally
// with a thick slab, for a dental arch drawn on the axial plane.
class CurvedMprWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Builds (or shares) the series' volume.
    CurvedMprWindow(CurvedMprMode mode, const QList<db::SliceRef> &slices, const QString &description,
                    QWidget *parent = nullptr);
    // On a volume already in hand.
    CurvedMprWindow(CurvedMprMode mode, render::SharedVolumes::Handle volume, const QString &description,
                    QWidget *parent = nullptr);
    ~CurvedMprWindow() override;

    CurvedMprMode mode() const { return m_mode; }
    bool hasVolume() const { return m_volume != nullptr; }

    // The whole state as saved in a parameter file.
    render::CprParameters parameters() const;
    const std::vector<render::Vec3d> &controlPoints() const { return m_points; }
    // Replaces the curve (an undoable edit); patient points are taken once
    // the volume is there.
    void setControlPoints(const std::vector<render::Vec3d> &points);
    void setPatientControlPoints(const QList<QVector3D> &points);
    // "Автоматически по ходу сосуда" between two points, on a worker.
    void traceBetween(const render::Vec3d &from, const render::Vec3d &to);
    void tracePatientPoints(const QVector3D &from, const QVector3D &to);

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    void undo();
    void redo();

    bool saveState(const QString &path, QString &message) const;
    bool loadState(const QString &path, QString &message);

    // Rebuilds now; `reportFailure` shows a failed build in a box.
    void rebuild(bool reportFailure = false);
    bool isRebuilding() const { return m_building; }
    std::shared_ptr<const render::CurvedMprImage> currentImage() const { return m_image; }

    CprReferencePanel *referencePanel(int index) const { return m_panels[index]; }
    CprImageView *imageView() const { return m_view; }
    CprSectionsView *sectionsView() const { return m_sections; }
    QAction *action(const QString &objectName) const;
    VesselProfileWindow *openVesselProfile();
    // Shows the sections around a centre-line sample.
    void showSectionsAt(int sample);

signals:
    void volumeReady();
    void rebuilt();
    void traceFinished(bool ok);

private:
    struct TraceOutcome
    {
        bool ok = false;
        render::VesselTrace trace;
        QString message;
    };

    void buildUi();
    void buildToolBars();
    void onVolume(const render::SharedVolumes::Handle &volume, const QString &message);
    void applyParameters(const render::CprParameters &parameters);
    void pushUndo();
    void pointsChanged();
    void onPanelClick(const render::Vec3d &point);
    void onRebuilt();
    void startTrace(const render::Vec3d &from, const render::Vec3d &to);
    void applyWindow();
    void saveWithDialog();
    void loadWithDialog();

    CurvedMprMode m_mode;
    QString m_description;
    render::SharedVolumes::Handle m_volume;
    std::vector<render::Vec3d> m_points;
    std::vector<std::vector<render::Vec3d>> m_undo;
    std::vector<std::vector<render::Vec3d>> m_redo;
    // Work asked for before the volume was there.
    QList<std::function<void()>> m_whenReady;

    CprReferencePanel *m_panels[3] = {};
    CprImageView *m_view = nullptr;
    CprSectionsView *m_sections = nullptr;
    QLabel *m_banner = nullptr;
    QComboBox *m_layoutBox = nullptr;
    QComboBox *m_presetBox = nullptr;
    QComboBox *m_slabBox = nullptr;
    QDoubleSpinBox *m_width = nullptr;
    QDoubleSpinBox *m_rotation = nullptr;
    QDoubleSpinBox *m_offset = nullptr;
    QDoubleSpinBox *m_thickness = nullptr;
    QDoubleSpinBox *m_smoothing = nullptr;
    double m_windowCenter = 200.0;
    double m_windowWidth = 700.0;

    QFutureWatcher<render::CurvedMprImage> m_buildWatcher;
    bool m_building = false;
    bool m_buildAgain = false;
    bool m_reportFailure = false;
    std::shared_ptr<const render::CurvedMprImage> m_image;
    int m_sectionSample = -1;

    // Two clicks on a reference plane pick the ends of a traced vessel.
    bool m_picking = false;
    std::optional<render::Vec3d> m_traceFrom;
    QFutureWatcher<TraceOutcome> m_traceWatcher;
    std::shared_ptr<std::atomic<bool>> m_traceCancel;
};

} // namespace velmaris
