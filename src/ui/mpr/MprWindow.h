#pragma once

#include "db/SliceRef.h"
#include "ui/mpr/MprPlane.h"
#include "ui/mpr/MprTool.h"
#include "volume/Volume.h"

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QPointF>

#include <array>
#include <memory>

class QAction;
class QComboBox;
class QDoubleSpinBox;
class QSplitter;
class QStackedWidget;

class QToolBar;

namespace velmaris {

class VolumeRenderWidget;
class MprViewportWidget;

// The multiplanar reconstruction window of one series: builds (or joins the
// build of) the series' volume, then shows the axial, coronal and sagittal
// planes linked by a crosshair, rotatable in 3D, thickened into slabs,
// windowed and measured, beside a 3D cell.
class MprWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int obliqueSize = 400;

    // A plane's picture directions in volume axes.
    struct Basis
    {
        std::array<float, 3> u;
        std::array<float, 3> v;
    };

    // The viewer's slices and the series' description; a window width ≤ 0
    // means the volume's own range is used.
    MprWindow(const QList<db::SliceRef> &slices, const QString &description, QWidget *parent = nullptr,
              double initialCentre = 0.0, double initialWidth = 0.0);
    ~MprWindow() override;

    const render::Volume *volume() const { return m_volume.get(); }
    std::array<int, 3> crosshair() const { return m_crosshair; }
    double windowCentre() const { return m_centre; }
    double windowWidth() const { return m_width; }
    bool isRotated() const { return m_rotated; }
    std::array<float, 3> rotationCentre() const { return m_rotationCentre; }
    Basis basis(MprPlane plane) const { return m_bases[static_cast<int>(plane)]; }
    double obliqueMmPerPixel() const { return m_obliqueMm; }

    MprViewportWidget *cell(MprPlane plane) const { return m_cells[static_cast<int>(plane)]; }
    VolumeRenderWidget *cell3D() const { return m_cell3D; }
    // The maximised cell: 0 … 2 a plane, 3 the 3D cell, −1 none.
    int maximisedCell() const { return m_maximised; }
    bool isThreeCellLayout() const { return m_threeCell; }
    // The 2 × 2 grid: rows, then the top and bottom rows; the three-cell
    // layout: the left/right split, then the right column.
    QSplitter *gridSplitter() const { return m_grid; }
    QSplitter *topSplitter() const { return m_top; }
    QSplitter *bottomSplitter() const { return m_bottom; }
    QSplitter *wideSplitter() const { return m_wide; }
    QSplitter *sideSplitter() const { return m_side; }

    QAction *toolAction(MprTool tool) const { return m_toolActions.value(static_cast<int>(tool)); }
    QAction *resetRotationAction() const { return m_resetRotation; }
    QAction *threeCellAction() const { return m_threeCellAction; }
    QAction *clearMeasurementsAction() const { return m_clearMeasurements; }
    QDoubleSpinBox *slabThicknessBox() const { return m_slabThickness; }
    QComboBox *slabModeBox() const { return m_slabMode; }

    void setWindow(double centre, double width);
    void rotateAxes(MprPlane plane, double degrees);
    void resetRotation();
    void setThreeCellLayout(bool on);
    void toggleMaximised(int cellIndex);
    void swapPlanes(MprPlane cellPlane, MprPlane target);

public slots:
    void onAxialClicked(double normX, double normY);
    void onCoronalClicked(double normX, double normY);
    void onSagittalClicked(double normX, double normY);
    void onAxialWheel(int direction);
    void onCoronalWheel(int direction);
    void onSagittalWheel(int direction);
    void onWindowLevelDragged(double deltaCenter, double deltaWidth);
    void onVolumeBuilt(const QString &message);

private:
    void buildToolBar();
    void build3DControls(QToolBar *bar);
    void buildCells();
    void connectCell(MprViewportWidget *cell);
    void placeCells();
    void equaliseSplitters();
    void fitCellsLater();
    void clicked(MprPlane plane, double normX, double normY);
    void wheel(MprPlane plane, int direction);
    void setSliceIndex(MprPlane plane, int index);
    void refreshPlanes();
    void updateOverlays();
    void clampRotationCentre();
    void crosshairFromRotationCentre();
    QWidget *cellWidget(int cellIndex) const;

    std::shared_ptr<const render::Volume> m_volume;
    std::array<int, 3> m_crosshair{0, 0, 0};
    double m_centre = 0.0;
    double m_width = 1.0;
    double m_initialCentre = 0.0;
    double m_initialWidth = 0.0;
    bool m_rotated = false;
    std::array<float, 3> m_rotationCentre{0.0f, 0.0f, 0.0f};
    std::array<Basis, 3> m_bases;
    double m_obliqueMm = 1.0;

    std::array<MprViewportWidget *, 3> m_cells{};
    VolumeRenderWidget *m_cell3D = nullptr;
    // Which cell (0 … 2 planes, 3 the 3D cell) sits in each place: top
    // left, top right, bottom left, bottom right of the grid.
    std::array<int, 4> m_places{0, 1, 2, 3};
    int m_maximised = -1;
    bool m_threeCell = false;
    QStackedWidget *m_layouts = nullptr;
    QSplitter *m_grid = nullptr;
    QSplitter *m_top = nullptr;
    QSplitter *m_bottom = nullptr;
    QSplitter *m_wide = nullptr;
    QSplitter *m_side = nullptr;

    QHash<int, QAction *> m_toolActions;
    QAction *m_resetRotation = nullptr;
    QAction *m_threeCellAction = nullptr;
    QAction *m_clearMeasurements = nullptr;
    QDoubleSpinBox *m_slabThickness = nullptr;
    QComboBox *m_slabMode = nullptr;
};

} // namespace velmaris
