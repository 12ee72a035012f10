#include "ui/mpr/MprWindow.h"

#include "ui/mpr/MprViewportWidget.h"
#include "ui/viewer/WindowPresetMenu.h"
#include "ui/volume/VolumeRenderWidget.h"
#include "volume/MprReslicer.h"
#include "volume/MprRoiStats.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/SharedVolumes.h"
#include "volume/VolumeBuilder.h"

#include <QScreen>
#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {

using Vec = std::array<float, 3>;

Vec cross(const Vec &a, const Vec &b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

float dot(const Vec &a, const Vec &b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec normalised(const Vec &a)
{
    const float length = std::sqrt(dot(a, a));
    return length > 0.0f ? Vec{a[0] / length, a[1] / length, a[2] / length} : a;
}

// Rodrigues' rotation of `v` about the unit `axis`.
Vec rotated(const Vec &v, const Vec &axis, double degrees)
{
    const double a = degrees * M_PI / 180.0;
    const float c = float(std::cos(a));
    const float s = float(std::sin(a));
    const Vec k = cross(axis, v);
    const float d = dot(axis, v) * (1.0f - c);
    return {v[0] * c + k[0] * s + axis[0] * d, v[1] * c + k[1] * s + axis[1] * d,
            v[2] * c + k[2] * s + axis[2] * d};
}

std::array<MprWindow::Basis, 3> startingBases()
{
    return {MprWindow::Basis{{1, 0, 0}, {0, 1, 0}}, MprWindow::Basis{{1, 0, 0}, {0, 0, -1}},
            MprWindow::Basis{{0, 1, 0}, {0, 0, -1}}};
}

int clampIndex(long value, int count)
{
    return int(std::clamp<long>(value, 0, std::max(0, count - 1)));
}

// Voxel `index` of `count` spans [index, index + 1) / count of a picture
// (stretched or not): the crosshair goes through the middle of that span, and
// a click picks the voxel whose span holds it, so that the crosshair stays
// where it was clicked and edge pixels never read the neighbouring voxel.
double fraction(int index, int count)
{
    return count > 0 ? (index + 0.5) / double(count) : 0.5;
}

int voxelAt(double fraction, int count)
{
    return clampIndex(long(std::floor(fraction * count)), count);
}

} // namespace

MprWindow::MprWindow(const QList<db::SliceRef> &slices, const QString &description, QWidget *parent,
                     double initialCentre, double initialWidth)
    : QMainWindow(parent), m_initialCentre(initialCentre), m_initialWidth(initialWidth), m_bases(startingBases())
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("MPR — %1").arg(description));
    resize(QSize(1240, 900).boundedTo(screen()->availableSize()));
    buildCells();
    buildToolBar();
    setEnabled(false);
    statusBar()->showMessage(QStringLiteral("Строится объём для реконструкции… (%1 срез.)").arg(slices.size()));

    const QList<render::VolumeSlice> volumeSlices =
        render::seriesVolumeSlices(slices, render::SliceOrientationUse::Keep);
    // The build belongs to the shared registry, not to this window: closing
    // the window while it runs only stops the hand-over, and a series that
    // is already built (or building) for another window is not built again.
    render::SharedVolumes::instance()->acquire(
        render::SharedVolumes::keyFor(volumeSlices, render::planeHintFromText(description)), volumeSlices,
        render::planeHintFromText(description), this,
        [this](const render::SharedVolumes::Handle &volume, const QString &message) {
            m_volume = volume;
            onVolumeBuilt(message);
        });
}

MprWindow::~MprWindow() = default;

void MprWindow::buildCells()
{
    for (int i = 0; i < 3; ++i) {
        m_cells[i] = new MprViewportWidget(static_cast<MprPlane>(i), this);
        connectCell(m_cells[i]);
    }
    m_cell3D = new VolumeRenderWidget(this);
    m_cell3D->setProjectionComboVisible(true);
    // The cell's combo offers the projections only; it starts on its first.
    m_cell3D->setProjectionMode(render::ProjectionMode::Maximum);
    // The cell's own hints stay out of the status bar: it carries the
    // volume's message (a skipped-slice warning must stay readable).

    m_layouts = new QStackedWidget(this);
    m_grid = new QSplitter(Qt::Vertical);
    m_top = new QSplitter(Qt::Horizontal, m_grid);
    m_bottom = new QSplitter(Qt::Horizontal, m_grid);
    m_wide = new QSplitter(Qt::Horizontal);
    m_side = new QSplitter(Qt::Vertical, m_wide);
    for (QSplitter *splitter : {m_grid, m_top, m_bottom, m_wide, m_side}) {
        splitter->setChildrenCollapsible(false);
        splitter->setHandleWidth(3);
    }
    m_layouts->addWidget(m_grid);
    m_layouts->addWidget(m_wide);
    setCentralWidget(m_layouts);
    placeCells();
    equaliseSplitters();

    connect(m_cells[0], &MprViewportWidget::positionClicked, this, &MprWindow::onAxialClicked);
    connect(m_cells[1], &MprViewportWidget::positionClicked, this, &MprWindow::onCoronalClicked);
    connect(m_cells[2], &MprViewportWidget::positionClicked, this, &MprWindow::onSagittalClicked);
    connect(m_cells[0], &MprViewportWidget::wheelStepped, this, &MprWindow::onAxialWheel);
    connect(m_cells[1], &MprViewportWidget::wheelStepped, this, &MprWindow::onCoronalWheel);
    connect(m_cells[2], &MprViewportWidget::wheelStepped, this, &MprWindow::onSagittalWheel);
}

void MprWindow::connectCell(MprViewportWidget *cell)
{
    const MprPlane plane = cell->plane();
    connect(cell, &MprViewportWidget::windowLevelDragged, this, &MprWindow::onWindowLevelDragged);
    connect(cell, &MprViewportWidget::doubleClicked, this, [this, plane] { toggleMaximised(int(plane)); });
    connect(cell, &MprViewportWidget::axesRotateDelta, this,
            [this, plane](double degrees) { rotateAxes(plane, degrees); });
    connect(cell, &MprViewportWidget::planeSwapRequested, this,
            [this, plane](MprPlane target) { swapPlanes(plane, target); });
    connect(cell, &MprViewportWidget::sliceIndexRequested, this,
            [this, plane](int index) { setSliceIndex(plane, index); });
}

void MprWindow::buildToolBar()
{
    // Two rows, each half the tools and then the view controls: fourteen
    // tools in one row would not fit a 1280-pixel screen.
    QToolBar *first = addToolBar(QStringLiteral("MPR"));
    addToolBarBreak();
    QToolBar *second = addToolBar(QStringLiteral("MPR — вид"));
    auto *group = new QActionGroup(this);
    group->setExclusive(true);
    const QList<MprToolInfo> &tools = mprTools();
    for (int i = 0; i < tools.size(); ++i) {
        const MprToolInfo &info = tools.at(i);
        QAction *action = (i < tools.size() / 2 ? first : second)->addAction(info.label);
        action->setCheckable(true);
        action->setData(static_cast<int>(info.tool));
        if (!info.toolTip.isEmpty())
            action->setToolTip(info.toolTip);
        group->addAction(action);
        m_toolActions.insert(static_cast<int>(info.tool), action);
        const MprTool tool = info.tool;
        connect(action, &QAction::triggered, this, [this, tool] {
            for (MprViewportWidget *cell : m_cells)
                cell->setTool(tool);
        });
    }
    m_toolActions.value(static_cast<int>(MprTool::Browse))->setChecked(true);

    QToolBar *bar = first;
    bar->setMovable(false);
    bar->addSeparator();
    m_resetRotation = bar->addAction(QStringLiteral("Сброс поворота"));
    connect(m_resetRotation, &QAction::triggered, this, &MprWindow::resetRotation);
    m_threeCellAction = bar->addAction(QStringLiteral("3 окна (без 3D)"));
    m_threeCellAction->setCheckable(true);
    m_threeCellAction->setToolTip(QStringLiteral(
        "Большая ячейка (коронарная) слева на всю высоту + сагиттальная/аксиальная поменьше друг под другом "
        "справа, без 3D. Повторный клик возвращает обычную раскладку 2×2 из четырёх ячеек."));
    connect(m_threeCellAction, &QAction::toggled, this, &MprWindow::setThreeCellLayout);
    m_clearMeasurements = bar->addAction(QStringLiteral("Очистить измерения"));
    connect(m_clearMeasurements, &QAction::triggered, this, [this] {
        for (MprViewportWidget *cell : m_cells)
            cell->clearMeasurements();
    });

    bar = second;
    bar->setMovable(false);
    bar->addSeparator();
    bar->addWidget(new QLabel(QStringLiteral(" Толщина среза: "), bar));
    m_slabThickness = new QDoubleSpinBox(bar);
    m_slabThickness->setRange(0.0, 50.0);
    m_slabThickness->setSingleStep(1.0);
    m_slabThickness->setDecimals(1);
    m_slabThickness->setSuffix(QStringLiteral(" мм"));
    m_slabThickness->setToolTip(QStringLiteral("0 — обычный тонкий срез. Больше нуля — MIP/MinIP/среднее в пределах "
                                               "этой толщины (половина в каждую сторону от текущего среза)."));
    bar->addWidget(m_slabThickness);
    m_slabMode = new QComboBox(bar);
    m_slabMode->addItems({QStringLiteral("MIP"), QStringLiteral("MinIP"), QStringLiteral("Среднее")});
    m_slabMode->setToolTip(QStringLiteral("Способ свёртки утолщённого среза (действует, только если толщина > 0)"));
    bar->addWidget(m_slabMode);
    connect(m_slabThickness, &QDoubleSpinBox::valueChanged, this, &MprWindow::refreshPlanes);
    connect(m_slabMode, &QComboBox::currentIndexChanged, this, &MprWindow::refreshPlanes);

    auto *presets = new QToolButton(bar);
    presets->setText(QStringLiteral("W/L ▾"));
    presets->setToolTip(QStringLiteral("Window/Level presets"));
    presets->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new WindowPresetMenu([this] { return render::WindowLevel{m_centre, m_width}; }, presets);
    presets->setMenu(menu);
    connect(menu, &WindowPresetMenu::presetChosen, this,
            [this](const render::WindowLevel &window) { setWindow(window.centre, window.width); });
    bar->addWidget(presets);
    // The 3D cell's controls on a row of their own, so both rows fit a
    // 1280-pixel screen.
    addToolBarBreak();
    QToolBar *third = addToolBar(QStringLiteral("MPR — 3D"));
    third->setMovable(false);
    build3DControls(third);
}

void MprWindow::build3DControls(QToolBar *bar)
{
    auto *rotation = new QActionGroup(bar);
    const struct
    {
        QString text, tip;
        render::VolumeRotationMode mode;
    } modes[] = {
        {QStringLiteral("Свободный поворот"), QStringLiteral("ЛКМ вращает камеру во всех плоскостях (азимут + наклон)"),
         render::VolumeRotationMode::Free},
        {QStringLiteral("Поворот в плоскости"),
         QStringLiteral("ЛКМ крутит изображение вокруг центра, как стрелку часов — камера не двигается"),
         render::VolumeRotationMode::InPlane},
    };
    for (const auto &entry : modes) {
        QAction *action = bar->addAction(entry.text);
        action->setToolTip(entry.tip);
        action->setCheckable(true);
        action->setChecked(entry.mode == m_cell3D->rotationMode());
        rotation->addAction(action);
        const render::VolumeRotationMode mode = entry.mode;
        connect(action, &QAction::triggered, m_cell3D, [this, mode] { m_cell3D->setRotationMode(mode); });
    }
    connect(bar->addAction(QStringLiteral("Сбросить вид 3D")), &QAction::triggered, m_cell3D,
            &VolumeRenderWidget::resetView);
    auto *orientation = new QToolButton(bar);
    orientation->setText(QStringLiteral("Ориентация ▾"));
    orientation->setPopupMode(QToolButton::InstantPopup);
    auto *views = new QMenu(orientation);
    for (int index = 0; index < 6; ++index) {
        const auto preset = static_cast<render::VolumeViewPreset>(index);
        connect(views->addAction(render::viewPresetLabel(preset)), &QAction::triggered, m_cell3D,
                [this, preset] { m_cell3D->setViewPreset(preset); });
    }
    orientation->setMenu(views);
    bar->addWidget(orientation);
}

QWidget *MprWindow::cellWidget(int cellIndex) const
{
    return cellIndex == 3 ? static_cast<QWidget *>(m_cell3D) : m_cells[cellIndex];
}

void MprWindow::placeCells()
{
    // Re-inserting a widget moves it; the sizes of every splitter are kept.
    QList<QList<int>> sizes;
    for (QSplitter *splitter : {m_grid, m_top, m_bottom, m_wide, m_side})
        sizes.append(splitter->sizes());
    if (m_threeCell) {
        m_wide->insertWidget(0, cellWidget(m_places[1]));
        m_wide->insertWidget(1, m_side);
        m_side->insertWidget(0, cellWidget(m_places[2]));
        m_side->insertWidget(1, cellWidget(m_places[0]));
        m_bottom->insertWidget(1, cellWidget(m_places[3]));
    } else {
        m_top->insertWidget(0, cellWidget(m_places[0]));
        m_top->insertWidget(1, cellWidget(m_places[1]));
        m_bottom->insertWidget(0, cellWidget(m_places[2]));
        m_bottom->insertWidget(1, cellWidget(m_places[3]));
    }
    int i = 0;
    for (QSplitter *splitter : {m_grid, m_top, m_bottom, m_wide, m_side}) {
        if (sizes.at(i).size() == splitter->count())
            splitter->setSizes(sizes.at(i));
        ++i;
    }
    m_cell3D->setVisible(!m_threeCell && (m_maximised < 0 || m_maximised == 3));
    m_layouts->setCurrentWidget(m_threeCell ? static_cast<QWidget *>(m_wide) : m_grid);
}

void MprWindow::equaliseSplitters()
{
    for (QSplitter *splitter : {m_grid, m_top, m_bottom, m_wide, m_side})
        splitter->setSizes({1000, 1000});
}

void MprWindow::fitCellsLater()
{
    QTimer::singleShot(0, this, [this] {
        for (MprViewportWidget *cell : m_cells)
            cell->fitToView();
    });
}

void MprWindow::setThreeCellLayout(bool on)
{
    if (m_maximised >= 0)
        toggleMaximised(m_maximised);
    if (m_threeCellAction->isChecked() != on) {
        m_threeCellAction->setChecked(on); // comes back here through toggled
        return;
    }
    if (m_threeCell == on)
        return;
    m_threeCell = on;
    placeCells();
    equaliseSplitters();
    fitCellsLater();
}

void MprWindow::toggleMaximised(int cellIndex)
{
    if (m_maximised >= 0) {
        m_maximised = -1;
        for (int i = 0; i < 3; ++i)
            m_cells[i]->show();
        m_cell3D->setVisible(!m_threeCell);
        m_top->show();
        m_bottom->show();
        m_side->show();
        equaliseSplitters();
        return;
    }
    m_maximised = cellIndex;
    for (int i = 0; i < 4; ++i)
        cellWidget(i)->setVisible(i == cellIndex);
    // A row or column left with no cell gives its room to the one shown.
    for (QSplitter *splitter : {m_top, m_bottom, m_side}) {
        bool any = false;
        for (int i = 0; i < splitter->count(); ++i)
            any = any || !splitter->widget(i)->isHidden();
        splitter->setVisible(any);
    }
}

void MprWindow::swapPlanes(MprPlane cellPlane, MprPlane target)
{
    if (cellPlane == target)
        return;
    const auto a = std::find(m_places.begin(), m_places.end(), int(cellPlane));
    const auto b = std::find(m_places.begin(), m_places.end(), int(target));
    std::iter_swap(a, b);
    placeCells();
}

void MprWindow::onVolumeBuilt(const QString &message)
{
    setEnabled(true);
    if (!m_volume || !m_volume->isValid()) {
        m_volume.reset();
        statusBar()->clearMessage();
        QMessageBox::warning(this, QStringLiteral("Реконструкция не удалась"),
                             QStringLiteral("Не удалось построить объём для реконструкции:\n%1")
                                 .arg(message.isEmpty() ? QStringLiteral("неизвестная ошибка") : message));
        return;
    }
    const render::Volume &v = *m_volume;
    if (!message.isEmpty())
        statusBar()->showMessage(message);
    else
        statusBar()->showMessage(QStringLiteral("Объём: %1×%2×%3 вокселей, spacing %4×%5×%6 мм")
                                     .arg(v.width)
                                     .arg(v.height)
                                     .arg(v.depth)
                                     .arg(v.spacingX, 0, 'f', 2)
                                     .arg(v.spacingY, 0, 'f', 2)
                                     .arg(v.spacingZ, 0, 'f', 2));
    m_crosshair = {v.width / 2, v.height / 2, v.depth / 2};
    m_rotationCentre = render::volumeCentreMm(v);
    m_obliqueMm = render::obliqueMmPerPixel(v, obliqueSize);
    m_bases = startingBases();
    m_rotated = false;
    if (m_initialWidth > 0.0) {
        m_centre = m_initialCentre;
        m_width = m_initialWidth;
    } else {
        m_width = std::max(v.maxValue - v.minValue, 1.0);
        m_centre = (v.maxValue + v.minValue) / 2.0;
    }
    m_cell3D->setVolume(m_volume);
    m_cells[0]->setSliceCount(v.depth);
    m_cells[1]->setSliceCount(v.height);
    m_cells[2]->setSliceCount(v.width);
    for (MprViewportWidget *cell : m_cells) {
        const int plane = static_cast<int>(cell->plane());
        cell->setRoiStatistics([this, plane](const QRectF &ellipse) {
            if (m_rotated)
                return render::mprRoiStatsUnavailableText();
            const int slice = plane == 0 ? m_crosshair[2] : plane == 1 ? m_crosshair[1] : m_crosshair[0];
            return render::mprRoiStats(*m_volume, plane, slice, ellipse);
        });
    }
    refreshPlanes();
}

void MprWindow::refreshPlanes()
{
    if (!m_volume)
        return;
    const render::Volume &v = *m_volume;
    const double thickness = m_slabThickness->value();
    const int mode = m_slabMode->currentIndex() + 1;
    if (!m_rotated) {
        m_cells[0]->setImage(render::renderAxial(v, m_crosshair[2], m_centre, m_width,
                                                 render::slabHalfCount(thickness, v.spacingZ), mode));
        m_cells[1]->setImage(render::renderCoronal(v, m_crosshair[1], m_centre, m_width,
                                                   render::slabHalfCount(thickness, v.spacingY), mode));
        m_cells[2]->setImage(render::renderSagittal(v, m_crosshair[0], m_centre, m_width,
                                                    render::slabHalfCount(thickness, v.spacingX), mode));
    } else {
        const int half = render::slabHalfCount(thickness, std::min({v.spacingX, v.spacingY, v.spacingZ}));
        for (int i = 0; i < 3; ++i)
            m_cells[i]->setImage(render::renderOblique(v, obliqueSize, m_rotationCentre, m_bases[i].u, m_bases[i].v,
                                                       m_obliqueMm, m_centre, m_width, half, mode));
    }
    updateOverlays();
}

void MprWindow::updateOverlays()
{
    const render::Volume &v = *m_volume;
    const std::array<QPointF, 3> positions = {
        QPointF(fraction(m_crosshair[0], v.width), fraction(m_crosshair[1], v.height)),
        QPointF(fraction(m_crosshair[0], v.width), 1.0 - fraction(m_crosshair[2], v.depth)),
        QPointF(fraction(m_crosshair[1], v.height), 1.0 - fraction(m_crosshair[2], v.depth))};
    const std::array<double, 3> pixelSizes = {(v.spacingX + v.spacingY) / 2.0, v.spacingX, v.spacingY};
    const std::array<int, 3> slices = {m_crosshair[2], m_crosshair[1], m_crosshair[0]};
    for (int p = 0; p < 3; ++p) {
        // Each line is where one of the other planes cuts this one.
        const Vec normal = normalised(cross(m_bases[p].u, m_bases[p].v));
        const int others[2] = {p == 0 ? 1 : 0, p == 2 ? 1 : 2};
        QPointF directions[2];
        for (int k = 0; k < 2; ++k) {
            const Basis &other = m_bases[others[k]];
            const Vec line = cross(normal, normalised(cross(other.u, other.v)));
            directions[k] = QPointF(dot(line, m_bases[p].u), dot(line, m_bases[p].v));
        }
        MprViewportWidget *cell = m_cells[p];
        cell->setCrosshair(m_rotated ? QPointF(0.5, 0.5) : positions[p], directions[0], directions[1]);
        cell->setPixelSizeMm(m_rotated ? m_obliqueMm : pixelSizes[p]);
        // Measurements on a rotated plane belong to no orthogonal slice.
        cell->setSlice(m_rotated ? -1 : slices[p]);
    }
}

void MprWindow::clicked(MprPlane plane, double normX, double normY)
{
    if (!m_volume)
        return;
    const render::Volume &v = *m_volume;
    if (m_rotated) {
        const Basis &b = m_bases[static_cast<int>(plane)];
        const float du = float((normX * obliqueSize - obliqueSize * 0.5) * m_obliqueMm);
        const float dv = float((normY * obliqueSize - obliqueSize * 0.5) * m_obliqueMm);
        for (int i = 0; i < 3; ++i)
            m_rotationCentre[i] += du * b.u[i] + dv * b.v[i];
        clampRotationCentre();
        crosshairFromRotationCentre();
    } else {
        const int column = voxelAt(normX, plane == MprPlane::Sagittal ? v.height : v.width);
        // Coronal and sagittal pictures show the last slice at the top.
        const int slice = v.depth - 1 - voxelAt(normY, v.depth);
        switch (plane) {
        case MprPlane::Axial:
            m_crosshair[0] = column;
            m_crosshair[1] = voxelAt(normY, v.height);
            break;
        case MprPlane::Coronal:
            m_crosshair[0] = column;
            m_crosshair[2] = slice;
            break;
        case MprPlane::Sagittal:
            m_crosshair[1] = column;
            m_crosshair[2] = slice;
            break;
        }
        // The planes turn about what the user looks at.
        const std::array<double, 3> spacing = {v.spacingX, v.spacingY, v.spacingZ};
        for (int i = 0; i < 3; ++i)
            m_rotationCentre[i] = float(m_crosshair[i] * spacing[i]);
    }
    refreshPlanes();
}

void MprWindow::wheel(MprPlane plane, int direction)
{
    if (!m_volume)
        return;
    const render::Volume &v = *m_volume;
    if (m_rotated) {
        const Basis &b = m_bases[static_cast<int>(plane)];
        const Vec normal = normalised(cross(b.u, b.v));
        const float step = float(std::max(std::min({v.spacingX, v.spacingY, v.spacingZ}), 0.1)) * float(direction);
        for (int i = 0; i < 3; ++i)
            m_rotationCentre[i] += step * normal[i];
        clampRotationCentre();
        crosshairFromRotationCentre();
        refreshPlanes();
        return;
    }
    const int axis = plane == MprPlane::Axial ? 2 : plane == MprPlane::Coronal ? 1 : 0;
    setSliceIndex(plane, m_crosshair[axis] + direction);
}

void MprWindow::setSliceIndex(MprPlane plane, int index)
{
    if (!m_volume || m_rotated)
        return;
    const render::Volume &v = *m_volume;
    const int axis = plane == MprPlane::Axial ? 2 : plane == MprPlane::Coronal ? 1 : 0;
    const std::array<int, 3> counts = {v.width, v.height, v.depth};
    const std::array<double, 3> spacing = {v.spacingX, v.spacingY, v.spacingZ};
    m_crosshair[axis] = clampIndex(index, counts[axis]);
    m_rotationCentre[axis] = float(m_crosshair[axis] * spacing[axis]);
    refreshPlanes();
}

void MprWindow::clampRotationCentre()
{
    const render::Volume &v = *m_volume;
    const std::array<double, 3> extent = {v.width * v.spacingX, v.height * v.spacingY, v.depth * v.spacingZ};
    for (int i = 0; i < 3; ++i)
        m_rotationCentre[i] = std::clamp(m_rotationCentre[i], 0.0f, float(extent[i]));
}

void MprWindow::crosshairFromRotationCentre()
{
    const render::Volume &v = *m_volume;
    const std::array<int, 3> counts = {v.width, v.height, v.depth};
    const std::array<double, 3> spacing = {v.spacingX, v.spacingY, v.spacingZ};
    for (int i = 0; i < 3; ++i)
        m_crosshair[i] = clampIndex(std::lround(m_rotationCentre[i] / spacing[i]), counts[i]);
}

void MprWindow::rotateAxes(MprPlane plane, double degrees)
{
    if (!m_volume)
        return;
    const int p = static_cast<int>(plane);
    const Vec axis = normalised(cross(m_bases[p].u, m_bases[p].v));
    for (int q = 0; q < 3; ++q) {
        if (q == p)
            continue;
        m_bases[q].u = normalised(rotated(m_bases[q].u, axis, degrees));
        m_bases[q].v = normalised(rotated(m_bases[q].v, axis, degrees));
    }
    m_rotated = true;
    refreshPlanes();
}

void MprWindow::resetRotation()
{
    m_bases = startingBases();
    m_rotated = false;
    if (m_volume)
        crosshairFromRotationCentre();
    refreshPlanes();
}

void MprWindow::setWindow(double centre, double width)
{
    m_centre = centre;
    m_width = std::max(width, 1.0);
    refreshPlanes();
}

void MprWindow::onAxialClicked(double normX, double normY) { clicked(MprPlane::Axial, normX, normY); }
void MprWindow::onCoronalClicked(double normX, double normY) { clicked(MprPlane::Coronal, normX, normY); }
void MprWindow::onSagittalClicked(double normX, double normY) { clicked(MprPlane::Sagittal, normX, normY); }
void MprWindow::onAxialWheel(int direction) { wheel(MprPlane::Axial, direction); }
void MprWindow::onCoronalWheel(int direction) { wheel(MprPlane::Coronal, direction); }
void MprWindow::onSagittalWheel(int direction) { wheel(MprPlane::Sagittal, direction); }

void MprWindow::onWindowLevelDragged(double deltaCenter, double deltaWidth)
{
    setWindow(m_centre + deltaCenter, m_width + deltaWidth);
}

} // namespace velmaris
