#include "ui/viewer/ViewerWindow.h"

#include "app/HotkeyRegistry.h"
#include "ui/viewer/ImageViewportWidget.h"
#include "ui/viewer/WindowPresetMenu.h"
#include "viewer/MeasurementMode.h"

#include <QActionGroup>
#include <QListWidget>
#include <QMenuBar>
#include <QSplitter>

namespace velmaris {

ViewerWindow::ViewerWindow(const QString &studyUid, bool portable, QWidget *parent)
    : QMainWindow(parent), m_studyUid(studyUid)
{
    setWindowTitle(portable ? QStringLiteral("Velmaris — портативный просмотр")
                            : QStringLiteral("Velmaris — просмотр"));
    resize(1000, 700);
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    m_series = new QListWidget(splitter);
    m_viewport = new ImageViewportWidget(splitter);
    m_viewport->setActive(true);
    splitter->addWidget(m_series);
    splitter->addWidget(m_viewport);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 4);
    setCentralWidget(splitter);
    connect(m_series, &QListWidget::itemActivated, this, &ViewerWindow::onSeriesActivated);
    connect(m_series, &QListWidget::itemClicked, this, &ViewerWindow::onSeriesActivated);
    connect(m_viewport, &ImageViewportWidget::seriesDropped, this, &ViewerWindow::openSeries);
    connect(m_viewport, &ImageViewportWidget::quickToolRequested, m_viewport,
            &ImageViewportWidget::setMeasurementMode);
    buildMenus();
}

void ViewerWindow::buildMenus()
{
    QMenu *tools = menuBar()->addMenu(QStringLiteral("Инструменты"));
    auto *group = new QActionGroup(tools);
    for (int value = 0; value <= 21; ++value) {
        if (!render::isSelectableMode(value))
            continue;
        const auto mode = static_cast<render::MeasurementMode>(value);
        QAction *action = tools->addAction(render::measurementModeLabel(mode));
        action->setCheckable(true);
        action->setChecked(mode == render::MeasurementMode::Browse);
        group->addAction(action);
        connect(action, &QAction::triggered, m_viewport, [this, mode] { m_viewport->setMeasurementMode(mode); });
    }
    tools->addSeparator();
    QAction *clear = tools->addAction(QStringLiteral("Очистить измерения"));
    connect(clear, &QAction::triggered, m_viewport, [this] { m_viewport->clearMeasurements(false); });

    auto *presets = new WindowPresetMenu([this] { return m_viewport->window(); }, this);
    presets->setTitle(QStringLiteral("Window/Level presets"));
    menuBar()->addMenu(presets);
    connect(presets, &WindowPresetMenu::presetChosen, m_viewport, &ImageViewportWidget::setWindowPreset);

    QMenu *view = menuBar()->addMenu(QStringLiteral("Вид"));
    const auto addViewAction = [this, view](const QString &text, const QString &hotkey, auto handler) {
        QAction *action = view->addAction(text);
        if (!hotkey.isEmpty())
            action->setShortcut(HotkeyRegistry::shortcut(hotkey));
        connect(action, &QAction::triggered, m_viewport, handler);
        return action;
    };
    addViewAction(QStringLiteral("Повернуть на 90° против часовой"), QStringLiteral("viewer.rotateCcw"),
                  [this] { m_viewport->rotateBy(-90); });
    addViewAction(QStringLiteral("Повернуть на 90° по часовой"), QStringLiteral("viewer.rotateCw"),
                  [this] { m_viewport->rotateBy(90); });
    addViewAction(QStringLiteral("Повернуть на 180°"), QString(), [this] { m_viewport->rotateBy(180); });
    addViewAction(QStringLiteral("Отразить горизонтально"), QStringLiteral("viewer.flipH"),
                  [this] { m_viewport->flipHorizontally(); });
    addViewAction(QStringLiteral("Отразить вертикально"), QStringLiteral("viewer.flipV"),
                  [this] { m_viewport->flipVertically(); });
    addViewAction(QStringLiteral("Очистить преобразования"), QStringLiteral("viewer.clearTransform"),
                  [this] { m_viewport->clearTransforms(); });
    QAction *invert = view->addAction(QStringLiteral("Инверсия"));
    invert->setCheckable(true);
    connect(invert, &QAction::toggled, m_viewport, [this](bool on) { m_viewport->setInverted(on); });
    addViewAction(QStringLiteral("Копировать в буфер обмена"), QStringLiteral("viewer.copyOne"),
                  [this] { m_viewport->copyCurrentImage(); });
}

void ViewerWindow::showSeries(const QString &seriesUid, const QList<db::SliceRef> &slices)
{
    QListWidgetItem *item = nullptr;
    for (int i = 0; i < m_series->count(); ++i) {
        if (m_series->item(i)->data(Qt::UserRole).toString() == seriesUid)
            item = m_series->item(i);
    }
    if (item == nullptr) {
        item = new QListWidgetItem(m_series);
        item->setData(Qt::UserRole, seriesUid);
    }
    item->setData(Qt::UserRole + 1, static_cast<int>(slices.size()));
    item->setText(QStringLiteral("Серия %1: срезов %2").arg(seriesUid).arg(slices.size()));
    m_slices.insert(seriesUid, slices);

    if (m_viewport->seriesUid().isEmpty()) {
        openSeries(seriesUid);
    } else if (m_viewport->seriesUid() == seriesUid && slices.size() != m_viewport->sliceCount()) {
        // The shown series grew: keep the slice the user is looking at.
        const int current = m_viewport->currentSlice();
        m_viewport->loadSeries(seriesUid, slices);
        m_viewport->showSlice(current);
    }
}

void ViewerWindow::openSeries(const QString &seriesUid)
{
    const auto found = m_slices.constFind(seriesUid);
    if (found == m_slices.cend())
        return;
    m_viewport->loadSeries(seriesUid, *found);
    for (int i = 0; i < m_series->count(); ++i) {
        if (m_series->item(i)->data(Qt::UserRole).toString() == seriesUid)
            m_series->setCurrentRow(i);
    }
}

void ViewerWindow::onSeriesActivated(QListWidgetItem *item)
{
    if (item != nullptr)
        openSeries(item->data(Qt::UserRole).toString());
}

int ViewerWindow::seriesCount() const
{
    return m_series->count();
}

int ViewerWindow::frameCount(const QString &seriesUid) const
{
    return static_cast<int>(m_slices.value(seriesUid).size());
}

} // namespace velmaris
