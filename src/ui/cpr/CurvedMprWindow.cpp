#include "ui/cpr/CurvedMprWindow.h"

#include "ui/cpr/CprReferencePanel.h"
#include "ui/cpr/CprSectionsView.h"
#include "ui/cpr/VesselProfileWindow.h"
#include "viewer/SlabMode.h"
#include "viewer/WindowPresets.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/VesselAnalysis.h"
#include "volume/VolumeBuilder.h"
#include "volume/VolumeMm.h"

#include <QScreen>
#include <QActionGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <cmath>

namespace velmaris {

namespace {

const QString traceTitle = QStringLiteral("Автоматически по ходу сосуда");
// Curve edits kept for undo.
constexpr std::size_t undoDepth = 100;
// The perpendicular sections: pixels and millimetres per pixel.
constexpr int sectionSize = 96;
constexpr double sectionMmPerPixel = 0.25;

render::Vec3d toVec(const QVector3D &p)
{
    return {double(p.x()), double(p.y()), double(p.z())};
}

QDoubleSpinBox *spinBox(QWidget *parent, double low, double high, double step, int decimals, const QString &suffix)
{
    auto *box = new QDoubleSpinBox(parent);
    box->setRange(low, high);
    box->setSingleStep(step);
    box->setDecimals(decimals);
    box->setSuffix(suffix);
    box->setKeyboardTracking(false);
    return box;
}

} // namespace

CurvedMprWindow::CurvedMprWindow(CurvedMprMode mode, const QList<db::SliceRef> &slices,
                                 const QString &description, QWidget *parent)
    : QMainWindow(parent), m_mode(mode), m_description(description)
{
    buildUi();
    statusBar()->showMessage(QStringLiteral("Строится объём для реконструкции… (%1 срез.)").arg(slices.size()));
    const QList<render::VolumeSlice> volumeSlices =
        render::seriesVolumeSlices(slices, render::SliceOrientationUse::Keep);
    const int planeHint = render::planeHintFromText(description);
    render::SharedVolumes::instance()->acquire(
        render::SharedVolumes::keyFor(volumeSlices, planeHint), volumeSlices, planeHint, this,
        [this](const render::SharedVolumes::Handle &volume, const QString &message) { onVolume(volume, message); });
}

CurvedMprWindow::CurvedMprWindow(CurvedMprMode mode, render::SharedVolumes::Handle volume,
                                 const QString &description, QWidget *parent)
    : QMainWindow(parent), m_mode(mode), m_description(description)
{
    buildUi();
    onVolume(volume, QString());
}

CurvedMprWindow::~CurvedMprWindow()
{
    if (m_traceCancel)
        m_traceCancel->store(true);
}

void CurvedMprWindow::buildUi()
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(curvedMprWindowTitle(m_mode));
    resize(QSize(1400, 900).boundedTo(screen()->availableSize()));
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_banner = new QLabel(curvedMprBannerText(m_mode), central);
    m_banner->setObjectName(QStringLiteral("betaBanner"));
    m_banner->setStyleSheet(QStringLiteral("QLabel { background: #5a4a00; color: #ffd966; padding: 4px; }"));
    layout->addWidget(m_banner);

    auto *split = new QSplitter(Qt::Horizontal, central);
    auto *planes = new QSplitter(Qt::Vertical, split);
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new CprReferencePanel(static_cast<CprReferencePlane>(i), planes);
        CprReferencePanel *panel = m_panels[i];
        connect(panel, &CprReferencePanel::clicked, this, &CurvedMprWindow::onPanelClick);
        connect(panel, &CprReferencePanel::pointDragStarted, this, [this](int) { pushUndo(); });
        connect(panel, &CprReferencePanel::pointMoved, this, [this](int index, const render::Vec3d &point) {
            if (std::size_t(index) < m_points.size()) {
                m_points[std::size_t(index)] = point;
                pointsChanged();
            }
        });
        connect(panel, &CprReferencePanel::pointRemoveRequested, this, [this](int index) {
            if (std::size_t(index) >= m_points.size())
                return;
            pushUndo();
            m_points.erase(m_points.begin() + index);
            pointsChanged();
        });
    }
    auto *results = new QSplitter(Qt::Vertical, split);
    m_view = new CprImageView(results);
    connect(m_view, &CprImageView::hoverText, this, [this](const QString &text) { statusBar()->showMessage(text); });
    if (m_mode == CurvedMprMode::Vessel) {
        m_sections = new CprSectionsView(results);
        connect(m_view, &CprImageView::sampleClicked, this, &CurvedMprWindow::showSectionsAt);
    }
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);
    setCentralWidget(central);
    buildToolBars();
    setEnabled(false);
    connect(&m_buildWatcher, &QFutureWatcherBase::finished, this, &CurvedMprWindow::onRebuilt);
    connect(&m_traceWatcher, &QFutureWatcherBase::finished, this, [this] {
        const TraceOutcome outcome = m_traceWatcher.result();
        if (outcome.ok) {
            setControlPoints(outcome.trace.controlPoints);
            statusBar()->showMessage(
                QStringLiteral("Путь по сосуду найден: %1 мм").arg(outcome.trace.lengthMm, 0, 'f', 1), 5000);
        } else {
            statusBar()->clearMessage();
            if (!outcome.message.isEmpty())
                QMessageBox::warning(this, traceTitle, outcome.message);
        }
        emit traceFinished(outcome.ok);
    });
}

void CurvedMprWindow::buildToolBars()
{
    const bool vessel = m_mode == CurvedMprMode::Vessel;
    auto *tools = addToolBar(QStringLiteral("Инструменты"));
    auto *group = new QActionGroup(this);
    const struct
    {
        const char *id;
        const char *text;
        CprTool tool;
        bool shown;
    } toolList[] = {{"cpr.cursor", "Курсор", CprTool::Cursor, true},
                    {"cpr.zoom", "Zoom", CprTool::Zoom, true},
                    {"cpr.ruler", "Линейка", CprTool::Ruler, true},
                    {"cpr.vesselDiameter", "Диаметр сосуда", CprTool::VesselDiameter, true},
                    {"cpr.roiHu", "ROI (HU)", CprTool::RoiHu, true},
                    {"cpr.stenosisDiameter", "Стеноз по диаметру", CprTool::StenosisDiameter, vessel},
                    {"cpr.stenosisArea", "Стеноз по площади", CprTool::StenosisArea, vessel}};
    for (const auto &entry : toolList) {
        if (!entry.shown)
            continue;
        QAction *a = tools->addAction(QString::fromUtf8(entry.text));
        a->setObjectName(QString::fromLatin1(entry.id));
        a->setCheckable(true);
        a->setChecked(entry.tool == CprTool::Cursor);
        group->addAction(a);
        const CprTool tool = entry.tool;
        connect(a, &QAction::triggered, this, [this, tool] { m_view->setTool(tool); });
    }
    tools->addSeparator();
    auto addAction = [&](const char *id, const QString &text, auto slot) {
        QAction *a = tools->addAction(text);
        a->setObjectName(QString::fromLatin1(id));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    addAction("cpr.rebuild", QStringLiteral("Перестроить"), [this] { rebuild(true); });
    QAction *undoAction = addAction("cpr.undo", QStringLiteral("Отменить"), [this] { undo(); });
    undoAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Z")));
    QAction *redoAction = addAction("cpr.redo", QStringLiteral("Повторить"), [this] { redo(); });
    redoAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Y")));
    addAction("cpr.save", QStringLiteral("Сохранить"), [this] { saveWithDialog(); });
    addAction("cpr.load", QStringLiteral("Загрузить"), [this] { loadWithDialog(); });
    if (vessel) {
        addAction("cpr.profile", QStringLiteral("Профиль сосуда"), [this] { openVesselProfile(); });
        addAction("cpr.autoTrace", traceTitle, [this] {
            m_picking = true;
            m_traceFrom.reset();
            statusBar()->showMessage(QStringLiteral("Щёлкните начало сосуда на одной из плоскостей."));
        });
    }

    addToolBarBreak();
    auto *settings = addToolBar(QStringLiteral("Параметры"));
    m_layoutBox = new QComboBox(settings);
    for (auto choice : {render::CprOrientationChoice::Auto, render::CprOrientationChoice::Horizontal,
                        render::CprOrientationChoice::Vertical})
        m_layoutBox->addItem(render::cprOrientationChoiceText(choice), int(choice));
    settings->addWidget(m_layoutBox);
    settings->addWidget(new QLabel(QStringLiteral(" Ширина "), settings));
    m_width = spinBox(settings, 5.0, 200.0, 5.0, 0, QStringLiteral(" мм"));
    settings->addWidget(m_width);
    m_presetBox = new QComboBox(settings);
    m_presetBox->addItem(QStringLiteral("Сосуды (КТА)"), QPointF(200.0, 700.0));
    for (const render::WindowPreset &preset : render::builtInWindowPresets())
        m_presetBox->addItem(preset.name, QPointF(preset.window.centre, preset.window.width));
    settings->addWidget(m_presetBox);
    settings->addWidget(new QLabel(QStringLiteral(" Поворот вокруг оси "), settings));
    m_rotation = spinBox(settings, -180.0, 180.0, 5.0, 0, QStringLiteral("°"));
    m_rotation->setWrapping(true);
    settings->addWidget(m_rotation);
    settings->addWidget(new QLabel(QStringLiteral(" Смещение оси "), settings));
    m_offset = spinBox(settings, -50.0, 50.0, 0.5, 1, QStringLiteral(" мм"));
    settings->addWidget(m_offset);
    settings->addWidget(new QLabel(QStringLiteral(" Толщина "), settings));
    m_thickness = spinBox(settings, 0.0, 50.0, 1.0, 1, QStringLiteral(" мм"));
    settings->addWidget(m_thickness);
    m_slabBox = new QComboBox(settings);
    m_slabBox->addItem(QStringLiteral("Максимум (MIP)"), int(render::SlabMode::Mip));
    m_slabBox->addItem(QStringLiteral("Минимум (MinIP)"), int(render::SlabMode::MinIp));
    m_slabBox->addItem(QStringLiteral("Среднее"), int(render::SlabMode::Mean));
    settings->addWidget(m_slabBox);
    settings->addWidget(new QLabel(QStringLiteral(" Гладкость "), settings));
    m_smoothing = spinBox(settings, 0.0, 1.0, 0.1, 2, QString());
    settings->addWidget(m_smoothing);

    // The panoramic picture runs across the arch with a thick mean slab
    // through the jaw; the rotation turns the rows from the axial plane to
    // the head-foot direction.
    render::CprParameters defaults;
    if (m_mode == CurvedMprMode::Panoramic) {
        defaults.orientationChoice = render::CprOrientationChoice::Horizontal;
        defaults.thicknessMm = 15.0;
        defaults.slabMode = int(render::SlabMode::Mean);
        defaults.widthMm = 60.0;
        defaults.rotationDeg = 90.0;
        defaults.windowCenter = 500.0;
        defaults.windowWidth = 2500.0;
        m_presetBox->setItemText(0, QStringLiteral("Зубы и кость"));
        m_presetBox->setItemData(0, QPointF(500.0, 2500.0));
    }
    applyParameters(defaults);

    for (QDoubleSpinBox *box : {m_width, m_rotation, m_offset, m_thickness, m_smoothing})
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { rebuild(); });
    for (QComboBox *box : {m_layoutBox, m_slabBox})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { rebuild(); });
    connect(m_presetBox, &QComboBox::activated, this, [this](int index) {
        const QPointF window = m_presetBox->itemData(index).toPointF();
        m_windowCenter = window.x();
        m_windowWidth = window.y();
        applyWindow();
        rebuild();
    });
}

QAction *CurvedMprWindow::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void CurvedMprWindow::onVolume(const render::SharedVolumes::Handle &volume, const QString &message)
{
    m_volume = volume;
    if (!m_volume || !m_volume->isValid()) {
        statusBar()->showMessage(message.isEmpty() ? QStringLiteral("Объём не построен.") : message);
        return;
    }
    setEnabled(true);
    statusBar()->showMessage(
        m_mode == CurvedMprMode::Panoramic
            ? QStringLiteral("Отметьте точки по дуге челюсти на аксиальной плоскости.")
            : QStringLiteral("Щелчок на плоскости ставит точку, перетаскивание двигает, правый щелчок удаляет."),
        5000);
    for (CprReferencePanel *panel : m_panels)
        panel->setVolume(m_volume);
    applyWindow();
    emit volumeReady();
    const QList<std::function<void()>> waiting = std::exchange(m_whenReady, {});
    for (const auto &work : waiting)
        work();
    pointsChanged();
}

render::CprParameters CurvedMprWindow::parameters() const
{
    render::CprParameters p;
    p.controlPoints = m_points;
    p.rotationDeg = m_rotation->value();
    p.offsetMm = m_offset->value();
    p.widthMm = m_width->value();
    p.thicknessMm = m_thickness->value();
    p.slabMode = m_slabBox->currentData().toInt();
    p.smoothing = m_smoothing->value();
    p.orientationChoice = static_cast<render::CprOrientationChoice>(m_layoutBox->currentData().toInt());
    p.windowCenter = m_windowCenter;
    p.windowWidth = m_windowWidth;
    p.measurements = m_view->measurements();
    return p;
}

void CurvedMprWindow::applyParameters(const render::CprParameters &p)
{
    const QList<QWidget *> controls = {m_width, m_rotation, m_offset, m_thickness, m_smoothing, m_layoutBox, m_slabBox};
    for (QWidget *w : controls)
        w->blockSignals(true);
    m_width->setValue(p.widthMm);
    m_rotation->setValue(p.rotationDeg);
    m_offset->setValue(p.offsetMm);
    m_thickness->setValue(p.thicknessMm);
    m_smoothing->setValue(p.smoothing);
    m_layoutBox->setCurrentIndex(std::max(0, m_layoutBox->findData(int(p.orientationChoice))));
    m_slabBox->setCurrentIndex(std::max(0, m_slabBox->findData(p.slabMode)));
    for (QWidget *w : controls)
        w->blockSignals(false);
    m_windowCenter = p.windowCenter;
    m_windowWidth = p.windowWidth;
    m_points = p.controlPoints;
    m_view->setMeasurements(p.measurements);
    applyWindow();
}

void CurvedMprWindow::applyWindow()
{
    for (CprReferencePanel *panel : m_panels)
        if (panel != nullptr)
            panel->setWindow(m_windowCenter, m_windowWidth);
}

void CurvedMprWindow::setControlPoints(const std::vector<render::Vec3d> &points)
{
    pushUndo();
    m_points = points;
    pointsChanged();
    if (!m_points.empty())
        for (CprReferencePanel *panel : m_panels)
            panel->showSliceThrough(m_points[m_points.size() / 2]);
}

void CurvedMprWindow::setPatientControlPoints(const QList<QVector3D> &points)
{
    auto apply = [this, points] {
        std::vector<render::Vec3d> mm;
        for (const QVector3D &p : points)
            mm.push_back(render::volumeMmFromPatient(*m_volume, toVec(p)));
        setControlPoints(mm);
    };
    if (m_volume)
        apply();
    else
        m_whenReady.append(apply);
}

void CurvedMprWindow::traceBetween(const render::Vec3d &from, const render::Vec3d &to)
{
    if (m_volume)
        startTrace(from, to);
    else
        m_whenReady.append([this, from, to] { startTrace(from, to); });
}

void CurvedMprWindow::tracePatientPoints(const QVector3D &from, const QVector3D &to)
{
    auto apply = [this, from, to] {
        startTrace(render::volumeMmFromPatient(*m_volume, toVec(from)),
                   render::volumeMmFromPatient(*m_volume, toVec(to)));
    };
    if (m_volume)
        apply();
    else
        m_whenReady.append(apply);
}

void CurvedMprWindow::pushUndo()
{
    m_undo.push_back(m_points);
    if (m_undo.size() > undoDepth)
        m_undo.erase(m_undo.begin());
    m_redo.clear();
}

void CurvedMprWindow::undo()
{
    if (m_undo.empty())
        return;
    m_redo.push_back(m_points);
    m_points = m_undo.back();
    m_undo.pop_back();
    pointsChanged();
}

void CurvedMprWindow::redo()
{
    if (m_redo.empty())
        return;
    m_undo.push_back(m_points);
    m_points = m_redo.back();
    m_redo.pop_back();
    pointsChanged();
}

void CurvedMprWindow::pointsChanged()
{
    for (CprReferencePanel *panel : m_panels)
        panel->setPoints(m_points);
    if (QAction *a = action(QStringLiteral("cpr.undo")))
        a->setEnabled(canUndo());
    if (QAction *a = action(QStringLiteral("cpr.redo")))
        a->setEnabled(canRedo());
    rebuild();
}

void CurvedMprWindow::onPanelClick(const render::Vec3d &point)
{
    if (!m_picking) {
        pushUndo();
        m_points.push_back(point);
        pointsChanged();
        return;
    }
    if (!m_traceFrom) {
        m_traceFrom = point;
        statusBar()->showMessage(QStringLiteral("Щёлкните конец сосуда."));
        return;
    }
    m_picking = false;
    const render::Vec3d from = *m_traceFrom;
    m_traceFrom.reset();
    startTrace(from, point);
}

void CurvedMprWindow::startTrace(const render::Vec3d &from, const render::Vec3d &to)
{
    if (m_traceCancel)
        m_traceCancel->store(true);
    m_traceCancel = std::make_shared<std::atomic<bool>>(false);
    statusBar()->showMessage(QStringLiteral("Идёт поиск пути по сосуду…"));
    const render::SharedVolumes::Handle volume = m_volume;
    const std::shared_ptr<std::atomic<bool>> cancel = m_traceCancel;
    m_traceWatcher.setFuture(QtConcurrent::run([volume, from, to, cancel] {
        TraceOutcome outcome;
        outcome.ok = render::traceVessel(*volume, from, to, {}, outcome.trace, outcome.message, cancel.get());
        return outcome;
    }));
}

void CurvedMprWindow::rebuild(bool reportFailure)
{
    m_reportFailure = m_reportFailure || reportFailure;
    if (!m_volume)
        return;
    if (m_building) {
        m_buildAgain = true;
        return;
    }
    if (render::distinctControlPoints(m_points).size() < 2) {
        m_image.reset();
        m_view->setImage(nullptr);
        for (CprReferencePanel *panel : m_panels)
            panel->setCenterline({});
        setWindowTitle(curvedMprWindowTitle(m_mode));
        m_reportFailure = false;
        emit rebuilt();
        return;
    }
    m_building = true;
    const render::SharedVolumes::Handle volume = m_volume;
    const render::CprParameters p = parameters();
    const double step = render::curvedMprPixelMm(*volume);
    m_buildWatcher.setFuture(
        QtConcurrent::run([volume, p, step] { return render::buildCurvedMpr(*volume, p, step); }));
}

void CurvedMprWindow::onRebuilt()
{
    m_building = false;
    render::CurvedMprImage result = m_buildWatcher.result();
    if (result.isNull()) {
        m_image.reset();
        m_view->setImage(nullptr);
        setWindowTitle(curvedMprWindowTitle(m_mode));
        statusBar()->showMessage(result.message, 5000);
        if (m_reportFailure && !m_buildAgain)
            QMessageBox::warning(this, render::curvedMprRebuildFailedTitle(),
                                 result.message.isEmpty() ? render::curvedMprRebuildFailedMessage() : result.message);
    } else {
        m_image = std::make_shared<const render::CurvedMprImage>(std::move(result));
        m_view->setImage(m_image);
        for (CprReferencePanel *panel : m_panels)
            panel->setCenterline(m_image->centerline.positions);
        setWindowTitle(curvedMprWindowTitle(m_mode, m_image->lengthMm));
        if (m_sections != nullptr)
            showSectionsAt(m_sectionSample >= 0 && m_sectionSample < m_image->samples ? m_sectionSample
                                                                                       : m_image->samples / 2);
    }
    if (m_buildAgain) {
        m_buildAgain = false;
        rebuild();
        return;
    }
    m_reportFailure = false;
    emit rebuilt();
}

void CurvedMprWindow::showSectionsAt(int sample)
{
    if (m_sections == nullptr || !m_image || !m_volume || sample < 0)
        return;
    m_sectionSample = sample;
    const render::Centerline &line = m_image->centerline;
    const double arc = sample * line.stepMm;
    QList<QImage> images;
    QList<double> offsets;
    for (double offset : render::perpendicularSectionOffsetsMm()) {
        const int at = render::centerlineSampleAt(line, arc + offset);
        images.append(render::perpendicularSection(*m_volume, line, at, sectionSize, sectionMmPerPixel,
                                                   m_windowCenter, m_windowWidth));
        offsets.append(offset);
    }
    const int at = render::centerlineSampleAt(line, arc);
    const render::LumenSection lumen = render::measureLumenSection(
        *m_volume, line.positions[std::size_t(at)], line.normals[std::size_t(at)], line.binormals[std::size_t(at)]);
    const QString summary =
        lumen.found ? QStringLiteral("%1 мм от начала: Ø %2 мм (%3 … %4), S=%5 мм²")
                          .arg(arc, 0, 'f', 1)
                          .arg(lumen.diameterMm, 0, 'f', 1)
                          .arg(lumen.minDiameterMm, 0, 'f', 1)
                          .arg(lumen.maxDiameterMm, 0, 'f', 1)
                          .arg(lumen.areaMm2, 0, 'f', 1)
                    : QStringLiteral("%1 мм от начала: просвет не найден").arg(arc, 0, 'f', 1);
    m_sections->setSections(images, offsets, summary);
}

VesselProfileWindow *CurvedMprWindow::openVesselProfile()
{
    if (!m_image || !m_volume) {
        QMessageBox::information(this, QStringLiteral("Профиль сосуда"),
                                 QStringLiteral("Сначала постройте кривую по сосуду."));
        return nullptr;
    }
    auto *window = new VesselProfileWindow(m_volume, m_image->centerline, m_description, this);
    window->show();
    return window;
}

bool CurvedMprWindow::saveState(const QString &path, QString &message) const
{
    return render::saveCprState(parameters(), path, message);
}

bool CurvedMprWindow::loadState(const QString &path, QString &message)
{
    render::CprParameters loaded;
    if (!render::loadCprState(path, loaded, message))
        return false;
    pushUndo();
    applyParameters(loaded);
    pointsChanged();
    return true;
}

void CurvedMprWindow::saveWithDialog()
{
    QString message;
    // Too few points is refused before a file is asked for.
    if (m_points.size() < 2 && !saveState(QString(), message)) {
        QMessageBox::warning(this, render::cprStateSaveTitle(), message);
        return;
    }
    const QString path =
        QFileDialog::getSaveFileName(this, render::cprStateSaveTitle(), QString(), render::cprStateFileFilter());
    if (!path.isEmpty() && !saveState(path, message))
        QMessageBox::warning(this, render::cprStateSaveTitle(), message);
}

void CurvedMprWindow::loadWithDialog()
{
    const QString path = QFileDialog::getOpenFileName(this, render::cprStateLoadDialogTitle(), QString(),
                                                      render::cprStateFileFilter());
    QString message;
    if (!path.isEmpty() && !loadState(path, message))
        QMessageBox::warning(this, render::cprStateLoadTitle(), message);
}

} // namespace velmaris
