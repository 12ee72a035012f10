#include "ui/viewer/ViewerWindow.h"

#include "app/HotkeyRegistry.h"
#include "ui/dialogs/StudyPickerDialog.h"
#include "db/Database.h"
#include "db/StudyCatalog.h"
#include "dicom/DicomText.h"
#include "ui/dialogs/QuickToolsDialog.h"
#include "ui/viewer/DetachedPanelWindow.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/LayoutPicker.h"
#include "ui/viewer/PanelGrid.h"
#include "ui/viewer/PanelReconstruction.h"
#include "ui/viewer/SeriesListWidget.h"
#include "ui/viewer/VertebraStartDialog.h"
#include "ui/viewer/ViewerLinks.h"
#include "ui/viewer/WindowPresetMenu.h"
#include "ui/volume/VolumeWindows.h"
#include "viewer/CinePlayback.h"
#include "viewer/OverlayText.h"
#include "viewer/ToolbarOrder.h"

#include <QScreen>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QDate>
#include <QCursor>
#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMetaMethod>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace velmaris {

namespace {

const QString referencePrefix = QStringLiteral("Референсные линии");

} // namespace

ViewerWindow::ViewerWindow(const QString &studyUid, bool portable, QWidget *parent)
    : QMainWindow(parent), m_studyUid(studyUid), m_portable(portable)
{
    setWindowTitle(portable ? QStringLiteral("Панель просмотра — Velmaris (портативный режим)")
                            : QStringLiteral("Панель просмотра — Velmaris"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Never larger than the screen: a laptop or a 1280-pixel display would
    // otherwise cut the tool bars and the status bar off.
    resize(QSize(1400, 900).boundedTo(screen()->availableSize()));

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    m_seriesList = new SeriesListWidget(splitter);
    m_grid = new PanelGrid(splitter);
    connect(m_grid, &PanelGrid::panelCreated, this, &ViewerWindow::onPanelCreated);
    connect(m_grid, &PanelGrid::activePanelChanged, this, [this](ImageViewportWidget *panel) {
        const int row = m_seriesList->rowOfSeries(panel->seriesUid());
        if (row >= 0)
            m_seriesList->setCurrentRow(row);
    });
    splitter->addWidget(m_seriesList);
    splitter->addWidget(m_grid);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({180, 1220});
    setCentralWidget(splitter);
    connect(m_seriesList, &SeriesListWidget::seriesActivated, this, &ViewerWindow::onSeriesThumbnailActivated);

    m_listRefresh = new QTimer(this);
    m_listRefresh->setSingleShot(true);
    m_listRefresh->setInterval(0);
    connect(m_listRefresh, &QTimer::timeout, this, &ViewerWindow::refreshSeriesList);

    m_cineTimer = new QTimer(this);
    m_cineTimer->setInterval(render::cineIntervalMs(render::cineDefaultRate));
    connect(m_cineTimer, &QTimer::timeout, this, &ViewerWindow::onCineTick);

    ViewerLinks::Viewer linked;
    linked.panels = [this] { return panels(); };
    linked.slices = [this](const QString &uid) { return m_slices.value(uid); };
    linked.geometry = [this](const QString &uid) { return m_geometry.value(uid); };
    m_links = new ViewerLinks(std::move(linked), this);
    connect(m_links, &ViewerLinks::statusChanged, this, &ViewerWindow::showStatus);
    connect(m_links, &ViewerLinks::referenceStatusCleared, this, [this] {
        if (statusBar()->currentMessage().startsWith(referencePrefix))
            statusBar()->clearMessage();
    });

    m_grid->setGrid(1, 1);
    buildActions();
    buildMenus();
    buildToolBars();
    statusBar();
}

ViewerWindow::~ViewerWindow() = default;

const render::VertebraLabeler &ViewerWindow::vertebraLabeler() const
{
    return m_links->labeler();
}

// ---------------------------------------------------------------- series

void ViewerWindow::showSeries(const QString &seriesUid, const QList<db::SliceRef> &slices)
{
    const bool known = m_slices.contains(seriesUid);
    if (!known)
        m_seriesOrder.append(seriesUid);
    m_slices.insert(seriesUid, slices);
    QList<render::SliceGeometry> geometry;
    geometry.reserve(slices.size());
    for (const db::SliceRef &slice : slices)
        geometry.append(render::sliceGeometry(slice));
    m_geometry.insert(seriesUid, geometry);
    // A portable import adds series file by file: rebuild the list once per
    // event-loop turn rather than once per file.
    m_listRefresh->start();

    bool anyLoaded = false;
    for (ImageViewportWidget *panel : panels()) {
        if (panel->seriesUid().isEmpty())
            continue;
        anyLoaded = true;
        if (panel->seriesUid() == seriesUid && slices.size() != panel->sliceCount()) {
            // The shown series grew: keep the slice the user is looking at.
            const int current = panel->currentSlice();
            panel->loadSeries(seriesUid, slices);
            panel->showSlice(current);
        }
    }
    if (!anyLoaded)
        openSeries(seriesUid);
}

void ViewerWindow::showSeries(const db::SeriesRecord &series, const QList<db::SliceRef> &slices)
{
    m_records.insert(series.series_instance_uid, series);
    showSeries(series.series_instance_uid, slices);
}

void ViewerWindow::openSeries(const QString &seriesUid)
{
    if (!m_slices.contains(seriesUid))
        return;
    loadIntoPanel(viewport(), seriesUid);
}

void ViewerWindow::onSeriesThumbnailActivated(const QString &seriesUid)
{
    openSeries(seriesUid);
}

int ViewerWindow::frameCount(const QString &seriesUid) const
{
    return static_cast<int>(m_slices.value(seriesUid).size());
}

void ViewerWindow::loadIntoPanel(ImageViewportWidget *panel, const QString &seriesUid)
{
    const auto found = m_slices.constFind(seriesUid);
    if (panel == nullptr || found == m_slices.cend())
        return;
    const QString description = seriesDescription(seriesUid);
    panel->setOverlayHeader(m_patientTextOfSeries.value(seriesUid, m_patientText), description.isEmpty() ? seriesLabel(seriesUid)
                                                             : seriesLabel(seriesUid) + QLatin1Char('\n') + description);
    panel->loadSeries(seriesUid, *found);
    if (panel == viewport()) {
        const int row = m_seriesList->rowOfSeries(seriesUid);
        if (row >= 0)
            m_seriesList->setCurrentRow(row);
    }
    updateReferenceLines();
    updateVertebraLabels();
}

QString ViewerWindow::seriesLabel(const QString &seriesUid) const
{
    const auto record = m_records.constFind(seriesUid);
    if (record == m_records.cend())
        return QStringLiteral("Серия %1").arg(m_seriesOrder.indexOf(seriesUid) + 1);
    const QString number = record->series_number.isEmpty() ? QString::number(m_seriesOrder.indexOf(seriesUid) + 1)
                                                            : record->series_number;
    return QStringLiteral("%1 №%2").arg(record->modality, number).trimmed();
}

QString ViewerWindow::seriesDescription(const QString &seriesUid) const
{
    return m_records.value(seriesUid).series_description;
}

void ViewerWindow::refreshSeriesList()
{
    QList<SeriesListEntry> entries;
    entries.reserve(m_seriesOrder.size());
    for (const QString &uid : std::as_const(m_seriesOrder))
        entries.append({uid, seriesLabel(uid), seriesDescription(uid), m_slices.value(uid)});
    m_seriesList->setSeries(entries);
    for (const Comparison &comparison : std::as_const(m_comparisons))
        m_seriesList->addComparison(comparison.header, comparison.series);
    const int row = m_seriesList->rowOfSeries(viewport()->seriesUid());
    if (row >= 0)
        m_seriesList->setCurrentRow(row);
}

// ---------------------------------------------------------------- comparison

void ViewerWindow::setArchive(db::Database *archive)
{
    m_archive = archive;
    if (archive == nullptr)
        return;
    if (const std::optional<db::StudyRecord> study = db::StudyCatalog(archive).study(m_studyUid))
        m_patientText = render::patientOverlayText(study->patient_name, study->patient_id, study->study_date,
                                                   study->study_time);
    for (ImageViewportWidget *panel : panels()) {
        if (!panel->seriesUid().isEmpty())
            loadIntoPanel(panel, panel->seriesUid());
    }
}

void ViewerWindow::onCompareTriggered()
{
    if (m_archive.isNull())
        return;
    const db::ComparisonChoices choices = db::StudyCatalog(m_archive).comparisonChoices(m_studyUid);
    QMenu menu(this);
    for (const db::StudyRecord &study : choices.samePatient) {
        const QString description =
            study.study_description.isEmpty() ? QStringLiteral("(без описания)") : study.study_description;
        QAction *item = menu.addAction(QStringLiteral("%1 · %2").arg(dicom::displayDicomDate(study.study_date), description));
        const QString uid = study.study_instance_uid;
        connect(item, &QAction::triggered, this, [this, uid] { addComparisonStudy(uid); });
    }
    menu.addSeparator();
    QAction *manual = menu.addAction(QStringLiteral("Выбрать вручную…"));
    manual->setToolTip(QStringLiteral("Если найденное по ID пациента — не то, или нужно сравнить с чем-то другим"));
    menu.setToolTipsVisible(true);
    connect(manual, &QAction::triggered, this, [this, others = choices.others] {
        StudyPickerDialog picker(others, this);
        if (picker.exec() == QDialog::Accepted && !picker.selectedStudyUid().isEmpty())
            addComparisonStudy(picker.selectedStudyUid());
    });
    menu.exec(QCursor::pos());
}

bool ViewerWindow::addComparisonStudy(const QString &studyUid)
{
    if (m_archive.isNull())
        return false;
    const db::StudyCatalog catalog(m_archive);
    const QList<db::SeriesSlices> series = catalog.seriesWithSlices(studyUid);
    if (series.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Сравнение"),
                                 QStringLiteral("В выбранном исследовании не найдено ни одной серии."));
        return false;
    }
    const db::StudyRecord study = catalog.study(studyUid).value_or(db::StudyRecord{});
    const QString patientText = render::patientOverlayText(study.patient_name, study.patient_id, study.study_date,
                                                           study.study_time);
    for (const db::SeriesSlices &entry : series)
        m_patientTextOfSeries.insert(entry.record.series_instance_uid, patientText);
    Comparison comparison;
    comparison.header = SeriesListWidget::comparisonHeaderText(study.study_date, study.patient_name,
                                                               study.study_description);
    for (const auto &[record, slices] : series) {
        m_records.insert(record.series_instance_uid, record);
        m_slices.insert(record.series_instance_uid, slices);
        QList<render::SliceGeometry> geometry;
        geometry.reserve(slices.size());
        for (const db::SliceRef &slice : slices)
            geometry.append(render::sliceGeometry(slice));
        m_geometry.insert(record.series_instance_uid, geometry);
        comparison.series.append({record.series_instance_uid, seriesLabel(record.series_instance_uid),
                                  record.series_description, slices});
    }
    m_seriesList->addComparison(comparison.header, comparison.series);
    m_comparisons.append(comparison);
    return true;
}

// ---------------------------------------------------------------- grid

void ViewerWindow::onPanelCreated(ImageViewportWidget *panel)
{
    const QAction *wheelSeries = m_actions.value(QStringLiteral("wheelSeries"));
    panel->setWheelSeries(wheelSeries != nullptr && wheelSeries->isChecked());
    if (m_toolGroup != nullptr && m_toolGroup->checkedAction() != nullptr)
        panel->setMeasurementMode(
            static_cast<render::MeasurementMode>(m_toolGroup->checkedAction()->data().toInt()));
    connect(panel, &ImageViewportWidget::activated, this, [this, panel] { setActiveViewport(m_grid->indexOf(panel)); });
    connect(panel, &ImageViewportWidget::sliceChanged, this, [this, panel](int index, int total) {
        onViewportSliceChanged(m_grid->indexOf(panel), index, total);
    });
    connect(panel, &ImageViewportWidget::seriesDropped, this, [this, panel](const QString &uid) {
        setActiveViewport(m_grid->indexOf(panel));
        loadIntoPanel(panel, uid);
    });
    connect(panel, &ImageViewportWidget::seriesStepRequested, this,
            [this, panel](int direction) { onSeriesStepRequested(m_grid->indexOf(panel), direction); });
    connect(panel, &ImageViewportWidget::seriesMenuRequested, this,
            [this, panel](const QPoint &pos) { onSeriesMenuRequested(m_grid->indexOf(panel), pos); });
    connect(panel, &ImageViewportWidget::cursor3DClicked, this,
            [this, panel](const QPointF &pos) { onCursor3DClicked(m_grid->indexOf(panel), pos); });
    connect(panel, &ImageViewportWidget::vertebraLabelClicked, this,
            [this, panel](const QPointF &pos) { onVertebraLabelClicked(m_grid->indexOf(panel), pos); });
    connect(panel, &ImageViewportWidget::quickToolRequested, this, &ViewerWindow::chooseTool);
}

void ViewerWindow::onGridLayoutChosen(int rows, int columns)
{
    m_grid->setGrid(rows, columns);
    updateReferenceLines();
    updateVertebraLabels();
    // Panels that left the grid took the keyboard focus with them; it goes
    // back to the active panel, so the arrow keys page rather than change a
    // tool-bar box.
    viewport()->setFocus(Qt::OtherFocusReason);
}

void ViewerWindow::onLayoutButtonClicked()
{
    auto *picker = new LayoutPicker(this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    connect(picker, &LayoutPicker::layoutChosen, this, &ViewerWindow::onGridLayoutChosen);
    QWidget *anchor = m_toolBar;
    if (auto *button = qobject_cast<QWidget *>(sender()))
        anchor = button;
    if (QAction *layout = m_actions.value(QStringLiteral("layout"))) {
        for (QObject *object : layout->associatedObjects()) {
            if (auto *widget = qobject_cast<QWidget *>(object); widget != nullptr && widget->isVisible())
                anchor = widget;
        }
    }
    picker->move(anchor->mapToGlobal(QPoint(0, anchor->height())));
    picker->show();
}

int ViewerWindow::gridRows() const
{
    return m_grid->rows();
}

int ViewerWindow::gridColumns() const
{
    return m_grid->columns();
}

QList<ImageViewportWidget *> ViewerWindow::panels() const
{
    return m_grid->panels();
}

ImageViewportWidget *ViewerWindow::viewport() const
{
    return m_grid->activePanel();
}

int ViewerWindow::activeViewportIndex() const
{
    return m_grid->indexOf(viewport());
}

void ViewerWindow::setActiveViewport(int viewportIndex)
{
    m_grid->setActiveIndex(viewportIndex);
}

bool ViewerWindow::isViewportDetached(int viewportIndex) const
{
    return m_grid->isDetached(viewportIndex);
}

DetachedPanelWindow *ViewerWindow::detachedWindow(int viewportIndex) const
{
    return m_grid->detachedWindow(viewportIndex);
}

void ViewerWindow::toggleDetachViewport(int viewportIndex)
{
    m_grid->toggleDetach(viewportIndex);
}

// ---------------------------------------------------------------- links

void ViewerWindow::onViewportSliceChanged(int sourceViewportIndex, int index, int total)
{
    const QAction *sync = m_actions.value(QStringLiteral("syncSlices"));
    m_links->onSliceChanged(m_grid->panelAt(sourceViewportIndex), index, total, sync != nullptr && sync->isChecked());
}

void ViewerWindow::updateReferenceLines()
{
    const QAction *enabled = m_actions.value(QStringLiteral("referenceLines"));
    m_links->updateReferenceLines(enabled != nullptr && enabled->isChecked());
}

void ViewerWindow::onSeriesStepRequested(int viewportIndex, int direction)
{
    ImageViewportWidget *panel = m_grid->panelAt(viewportIndex);
    if (panel == nullptr || m_seriesOrder.isEmpty())
        return;
    const int current = static_cast<int>(m_seriesOrder.indexOf(panel->seriesUid()));
    const int next = current < 0 ? 0 : current + (direction < 0 ? -1 : 1);
    if (next < 0 || next >= m_seriesOrder.size())
        return;
    loadIntoPanel(panel, m_seriesOrder.at(next));
}

void ViewerWindow::onCursor3DClicked(int viewportIndex, const QPointF &imagePixel)
{
    if (ImageViewportWidget *source = m_grid->panelAt(viewportIndex))
        m_links->onCursorClicked(source, imagePixel);
}

void ViewerWindow::onVertebraLabelClicked(int viewportIndex, const QPointF &imagePixel)
{
    if (ImageViewportWidget *panel = m_grid->panelAt(viewportIndex))
        m_links->onVertebraClicked(panel, imagePixel);
}

void ViewerWindow::updateVertebraLabels()
{
    m_links->updateVertebraLabels();
}

// ---------------------------------------------------------------- tools

void ViewerWindow::chooseTool(render::MeasurementMode mode)
{
    if (mode == render::MeasurementMode::VertebraLabels) {
        VertebraStartDialog dialog(m_links->labeler(), this);
        if (dialog.exec() != QDialog::Accepted) {
            // The previous tool stays chosen.
            const render::MeasurementMode current = viewport()->measurementMode();
            if (QAction *action = m_toolActions.value(static_cast<int>(current)))
                action->setChecked(true);
            return;
        }
        m_links->labeler().start(dialog.firstIndex(), dialog.direction());
    }
    if (QAction *action = m_toolActions.value(static_cast<int>(mode)))
        action->setChecked(true);
    for (ImageViewportWidget *panel : m_grid->allPanels())
        panel->setMeasurementMode(mode);
}

void ViewerWindow::onCineToggled(bool on)
{
    if (on)
        m_cineTimer->start(render::cineIntervalMs(m_cineRate->value()));
    else
        m_cineTimer->stop();
}

void ViewerWindow::onCineRateChanged(int rate)
{
    m_cineTimer->setInterval(render::cineIntervalMs(rate));
    if (m_cineTimer->isActive())
        m_cineTimer->start();
}

void ViewerWindow::onCineTick()
{
    ImageViewportWidget *panel = viewport();
    if (panel->sliceCount() > 1)
        panel->showSlice(render::nextCineSlice(panel->currentSlice(), panel->sliceCount()));
}

void ViewerWindow::onBackToListTriggered()
{
    // With a browser listening the window only steps aside: the next viewer
    // opened takes its place and geometry. Without one there is nothing to
    // return to but closing.
    if (isSignalConnected(QMetaMethod::fromSignal(&ViewerWindow::backToListRequested))) {
        hide();
        emit backToListRequested();
        return;
    }
    close();
}

void ViewerWindow::onResetCalibrationTriggered()
{
    ImageViewportWidget *panel = viewport();
    if (panel->calibrationMmPerPixel() <= 0.0) {
        showStatus(QStringLiteral("У серии в активной панели нет ручной калибровки."), 5000);
        return;
    }
    panel->resetCalibration();
    showStatus(QStringLiteral("Калибровка сброшена — снова используется PixelSpacing из DICOM."), 5000);
}

void ViewerWindow::onCopyOneTriggered()
{
    QGuiApplication::clipboard()->setPixmap(viewport()->grab());
}

void ViewerWindow::onCopyAllTriggered()
{
    QGuiApplication::clipboard()->setPixmap(m_grid->grab());
}

void ViewerWindow::showStatus(const QString &text, int timeoutMs)
{
    statusBar()->showMessage(text, timeoutMs);
}

// ---------------------------------------------------------------- detaching

QMenu *ViewerWindow::buildSeriesMenu(int viewportIndex, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    ImageViewportWidget *panel = m_grid->panelAt(viewportIndex);
    if (panel == nullptr)
        return menu;
    for (const QString &uid : std::as_const(m_seriesOrder)) {
        const db::SeriesRecord record = m_records.value(uid);
        const QString number = record.series_number.isEmpty() ? QString::number(m_seriesOrder.indexOf(uid) + 1)
                                                              : record.series_number;
        const QString description =
            record.series_description.isEmpty() ? QStringLiteral("(без описания)") : record.series_description;
        const QString text = QStringLiteral("%1№%2 · %3 · %4")
                                 .arg(panel->seriesUid() == uid ? QStringLiteral("✓ ") : QString(), number,
                                      description, QStringLiteral("%1 срез.").arg(frameCount(uid)));
        QAction *entry = menu->addAction(text);
        entry->setData(uid);
        connect(entry, &QAction::triggered, this, [this, panel, uid] { loadIntoPanel(panel, uid); });
    }
    menu->addSeparator();
    if (panel->reconstruction()->isChosen()) {
        connect(menu->addAction(QStringLiteral("↩ Исходные срезы")), &QAction::triggered, panel->reconstruction(),
                &PanelReconstruction::leave);
    }
    QAction *detach = menu->addAction(isViewportDetached(viewportIndex)
                                          ? QStringLiteral("📌 Прикрепить обратно")
                                          : QStringLiteral("🖥 Отсоединить на отдельный экран"));
    connect(detach, &QAction::triggered, this, [this, viewportIndex] { toggleDetachViewport(viewportIndex); });
    return menu;
}

void ViewerWindow::onSeriesMenuRequested(int viewportIndex, const QPoint &globalPos)
{
    QMenu *menu = buildSeriesMenu(viewportIndex, this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

void ViewerWindow::closeEvent(QCloseEvent *event)
{
    m_cineTimer->stop();
    m_grid->reattachAll();
    emit closed();
    QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------- actions

QAction *ViewerWindow::action(const QString &id) const
{
    return m_actions.value(id);
}

void ViewerWindow::addWindowAction(QAction *action)
{
    const QKeySequence shortcut = HotkeyRegistry::shortcut(action->objectName());
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    m_actions.insert(action->objectName(), action);
    addAction(action);
}

void ViewerWindow::buildActions()
{
    const auto add = [this](const QString &id, const QString &text, bool checkable = false) {
        auto *action = new QAction(text, this);
        action->setObjectName(id);
        action->setCheckable(checkable);
        const QKeySequence shortcut = HotkeyRegistry::shortcut(id);
        if (!shortcut.isEmpty())
            action->setShortcut(shortcut);
        m_actions.insert(id, action);
        return action;
    };
    if (!m_portable) {
        connect(add(QStringLiteral("backToList"), QStringLiteral("К списку исследований")), &QAction::triggered, this,
                &ViewerWindow::onBackToListTriggered);
    }
    QAction *compare = add(QStringLiteral("compare"), QStringLiteral("Сравнить с…"));
    compare->setToolTip(QStringLiteral("Открыть другое исследование этого же пациента рядом, для сравнения"));
    connect(compare, &QAction::triggered, this, &ViewerWindow::onCompareTriggered);
    connect(add(QStringLiteral("invert"), QStringLiteral("Инверсия"), true), &QAction::toggled, this,
            [this](bool on) { viewport()->setInverted(on); });
    connect(add(QStringLiteral("clearMeasurements"), QStringLiteral("Очистить измерения")), &QAction::triggered,
            this, [this] { viewport()->clearMeasurements(false); });
    add(QStringLiteral("syncSlices"), QStringLiteral("Синхронизация срезов"), true);
    connect(add(QStringLiteral("wheelSeries"), QStringLiteral("Колесо: серии"), true), &QAction::toggled, this,
            [this](bool on) {
                for (ImageViewportWidget *panel : m_grid->allPanels())
                    panel->setWheelSeries(on);
            });
    QAction *reference = add(QStringLiteral("referenceLines"), QStringLiteral("Референсные линии"), true);
    reference->setChecked(true);
    connect(reference, &QAction::toggled, this, [this] { updateReferenceLines(); });

    connect(add(QStringLiteral("viewer.copyOne"), QStringLiteral("Копировать в буфер обмена")), &QAction::triggered,
            this, &ViewerWindow::onCopyOneTriggered);
    connect(add(QStringLiteral("viewer.copyAll"), QStringLiteral("Копировать всё в буфер обмена")),
            &QAction::triggered, this, &ViewerWindow::onCopyAllTriggered);
    connect(add(QStringLiteral("viewer.rotateCcw"), QStringLiteral("Повернуть на 90° против часовой")),
            &QAction::triggered, this, [this] { viewport()->rotateBy(-90); });
    connect(add(QStringLiteral("viewer.rotateCw"), QStringLiteral("Повернуть на 90° по часовой")),
            &QAction::triggered, this, [this] { viewport()->rotateBy(90); });
    connect(add(QStringLiteral("rotate180"), QStringLiteral("Повернуть на 180°")), &QAction::triggered, this,
            [this] { viewport()->rotateBy(180); });
    connect(add(QStringLiteral("viewer.flipH"), QStringLiteral("Отразить горизонтально")), &QAction::triggered,
            this, [this] { viewport()->flipHorizontally(); });
    connect(add(QStringLiteral("viewer.flipV"), QStringLiteral("Отразить вертикально")), &QAction::triggered, this,
            [this] { viewport()->flipVertically(); });
    connect(add(QStringLiteral("viewer.clearTransform"), QStringLiteral("Очистить преобразования")),
            &QAction::triggered, this, [this] { viewport()->clearTransforms(); });
    connect(add(QStringLiteral("resetCalibration"), QStringLiteral("Сбросить калибровку серии")),
            &QAction::triggered, this, &ViewerWindow::onResetCalibrationTriggered);
    connect(add(QStringLiteral("clearVertebraLabels"), QStringLiteral("Удалить все метки позвонков")),
            &QAction::triggered, this, [this] {
                m_links->labeler().clear();
                updateVertebraLabels();
            });
    connect(add(QStringLiteral("cine"), QStringLiteral("Cine — автоматическое листание срезов"), true),
            &QAction::toggled, this, &ViewerWindow::onCineToggled);
    connect(add(QStringLiteral("layout"), QStringLiteral("Раскладка")), &QAction::triggered, this,
            &ViewerWindow::onLayoutButtonClicked);
    for (QAction *action : std::as_const(m_actions))
        addAction(action); // shortcuts work while any panel has focus
}

void ViewerWindow::buildMenus()
{
    QMenu *tools = menuBar()->addMenu(QStringLiteral("Инструменты"));
    m_toolGroup = new QActionGroup(tools);
    for (int value = 0; value <= 21; ++value) {
        if (!render::isSelectableMode(value))
            continue;
        const auto mode = static_cast<render::MeasurementMode>(value);
        QAction *action = tools->addAction(render::measurementModeLabel(mode));
        action->setCheckable(true);
        action->setData(value);
        action->setChecked(mode == render::MeasurementMode::Browse);
        m_toolGroup->addAction(action);
        m_toolActions.insert(value, action);
        connect(action, &QAction::triggered, this, [this, mode] { chooseTool(mode); });
    }
    tools->addSeparator();
    tools->addAction(m_actions.value(QStringLiteral("clearMeasurements")));
    tools->addAction(m_actions.value(QStringLiteral("clearVertebraLabels")));
    tools->addAction(m_actions.value(QStringLiteral("resetCalibration")));
    QAction *quickButtons = tools->addAction(QStringLiteral("Настроить быстрые кнопки…"));
    connect(quickButtons, &QAction::triggered, this, [this] {
        QuickToolsDialog dialog(this);
        dialog.exec(); // saving tells every open panel to rebuild its buttons
    });

    // Volume windows of the active panel's series.
    m_reconstructionMenu = menuBar()->addMenu(QStringLiteral("Реконструкция"));
    QMenu *volumes = m_reconstructionMenu;
    for (const auto &[text, open] : {std::pair{QStringLiteral("3D VRT — объёмный рендеринг"), &openVrt3DWindow},
                                     std::pair{QStringLiteral("Виртуальная эндоскопия/колоноскопия"), &openEndoscopyWindow}})
        connect(volumes->addAction(text), &QAction::triggered, this, [this, open] {
            const QString uid = viewport()->seriesUid();
            if (uid.isEmpty())
                return showStatus(QStringLiteral("В активной панели нет загруженной серии."), 5000);
            const QString study = m_records.value(uid).study_instance_uid;
            open(seriesDescription(uid), m_slices.value(uid), study.isEmpty() ? m_studyUid : study, m_archive);
        });

    auto *presets = new WindowPresetMenu([this] { return viewport()->window(); }, this);
    presets->setTitle(QStringLiteral("Window/Level presets"));
    menuBar()->addMenu(presets);
    connect(presets, &WindowPresetMenu::presetChosen, this,
            [this](const render::WindowLevel &window) { viewport()->setWindowPreset(window); });

    QMenu *annotations = menuBar()->addMenu(QStringLiteral("Аннотации"));
    annotations->addAction(m_actions.value(QStringLiteral("referenceLines")));

    QMenu *view = menuBar()->addMenu(QStringLiteral("Вид"));
    for (const char *id : {"viewer.rotateCcw", "viewer.rotateCw", "rotate180", "viewer.flipH", "viewer.flipV",
                           "viewer.clearTransform"})
        view->addAction(m_actions.value(QLatin1String(id)));
    view->addSeparator();
    view->addAction(m_actions.value(QStringLiteral("cine")));
    view->addAction(m_actions.value(QStringLiteral("layout")));
    view->addSeparator();
    view->addAction(m_actions.value(QStringLiteral("viewer.copyOne")));
    view->addAction(m_actions.value(QStringLiteral("viewer.copyAll")));
}

void ViewerWindow::buildToolBars()
{
    m_toolBar = addToolBar(QStringLiteral("Панель инструментов"));
    m_toolBar->setObjectName(QStringLiteral("viewerToolBar"));
    QStringList available;
    for (const QString &id : render::defaultToolbarOrder()) {
        if (m_actions.contains(id))
            available.append(id);
    }
    const render::ToolbarLayout layout = render::loadToolbarLayout(available);
    for (const QString &id : layout.order) {
        QAction *action = m_actions.value(id);
        m_toolBar->addAction(action);
        // Toolbar actions live on the toolbar only, so hiding the action
        // hides just its button.
        action->setVisible(!layout.hidden.contains(id));
    }

    QToolBar *viewBar = addToolBar(QStringLiteral("Вид"));
    viewBar->setObjectName(QStringLiteral("viewerViewBar"));
    viewBar->addAction(m_actions.value(QStringLiteral("layout")));
    viewBar->addSeparator();
    viewBar->addAction(m_actions.value(QStringLiteral("cine")));
    viewBar->addWidget(new QLabel(QStringLiteral("Скорость:"), viewBar));
    m_cineRate = new QSpinBox(viewBar);
    m_cineRate->setRange(render::cineMinRate, render::cineMaxRate);
    m_cineRate->setValue(render::cineDefaultRate);
    m_cineRate->setSuffix(QStringLiteral(" кадр/сек"));
    // Reachable by a click only: focus moving on from a panel never lands here.
    m_cineRate->setFocusPolicy(Qt::ClickFocus);
    viewBar->addWidget(m_cineRate);
    connect(m_cineRate, &QSpinBox::valueChanged, this, &ViewerWindow::onCineRateChanged);
}

} // namespace velmaris
