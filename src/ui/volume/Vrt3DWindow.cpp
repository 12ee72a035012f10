#include "ui/volume/Vrt3DWindow.h"

#include "ui/volume/DensityRangeDialog.h"
#include "ui/volume/GlVolumeRenderWidget.h"
#include "ui/volume/GlVolumeRenderer.h"
#include "ui/volume/TransferFunctionEditorDialog.h"
#include "ui/volume/VolumeRenderWidget.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/Vrt3DVolumeBuildWorker.h"
#include "volume/VrtPresetSettings.h"

#include <QScreen>
#include <QActionGroup>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace velmaris {

namespace {

constexpr int fallbackMessageMs = 8000;
const double densityOffMin = -1024.0;
const double densityOffMax = 3071.0;

// The open 3D windows, for "Синхронизировать окна".
QList<QPointer<Vrt3DWindow>> &openWindows()
{
    static QList<QPointer<Vrt3DWindow>> windows;
    return windows;
}

QString cpuTip()
{
    return QStringLiteral("По умолчанию используется GPU (OpenGL). Эта кнопка переключает на обычный программный "
                          "рендерер — например, чтобы сверить картинку, или если GPU работает нестабильно на вашей "
                          "видеокарте.");
}

QToolButton *menuButton(const QString &text, QMenu *menu, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setText(text);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    return button;
}

} // namespace

template<typename Call>
void Vrt3DWindow::forEachView(Call call)
{
    call(*m_software);
    if (m_gpu)
        call(*m_gpu);
}

Vrt3DWindow::Vrt3DWindow(const Vrt3DSource &source, QWidget *parent)
    : QMainWindow(parent), m_source(source), m_preset(render::presetByName(QStringLiteral("Кости")))
{
    setWindowTitle(QStringLiteral("3D VRT — %1").arg(source.seriesDescription));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    resize(QSize(1280, 860).boundedTo(screen()->availableSize()));

    m_stack = new QStackedWidget(this);
    setCentralWidget(m_stack);
    m_software = new VolumeRenderWidget(m_stack);
    m_stack->addWidget(m_software);
    connectView(m_software);

    // A context that cannot be made at all (no display, the offscreen
    // platform, no driver) must not get as far as a QOpenGLWidget.
    QString glError;
    if (render::openGlAvailable(glError)) {
        m_gpu = new GlVolumeRenderWidget(m_stack);
        m_stack->addWidget(m_gpu);
        m_stack->setCurrentWidget(m_gpu);
        connectView(m_gpu);
        connect(m_gpu, &GlVolumeRenderWidget::initializationFailed, this, &Vrt3DWindow::onGpuInitializationFailed);
    }
    forEachView([this](auto &view) {
        view.setVrtPreset(m_preset);
        view.setDensityRange(-1e30, 1e30);
    });
    buildToolBar();
    openWindows().append(this);

    if (!m_gpu)
        onGpuInitializationFailed(glError);
    else
        statusBar()->showMessage(
            QStringLiteral("Строится объём для 3D-реконструкции… (%1 срез.)").arg(source.slices.size()));

    auto *worker = new render::Vrt3DVolumeBuildWorker(
        render::seriesVolumeSlices(source.slices, render::SliceOrientationUse::Drop),
        render::planeHintFromText(source.seriesDescription));
    render::startVolumeBuild(worker, this, [this](render::Volume &&volume, const QString &message) {
        m_volume = std::make_shared<const render::Volume>(std::move(volume));
        onVolumeBuilt(message);
    });
}

Vrt3DWindow::~Vrt3DWindow()
{
    openWindows().removeAll(QPointer<Vrt3DWindow>(this));
    openWindows().removeAll(QPointer<Vrt3DWindow>());
}

Vrt3DWindow *Vrt3DWindow::open(const Vrt3DSource &source)
{
    auto *window = new Vrt3DWindow(source);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

bool Vrt3DWindow::isCpuMode() const
{
    return m_stack->currentWidget() == m_software;
}

QWidget *Vrt3DWindow::currentView() const
{
    return m_stack->currentWidget();
}

QAction *Vrt3DWindow::action(const QString &text) const
{
    return m_actions.value(text);
}

render::VolumeCameraState Vrt3DWindow::cameraState() const
{
    return isCpuMode() ? m_software->cameraState() : m_gpu->cameraState();
}

void Vrt3DWindow::connectView(QObject *view)
{
    if (auto *software = qobject_cast<VolumeRenderWidget *>(view)) {
        connect(software, &VolumeRenderWidget::statusMessage, this, [this](const QString &m) {
            statusBar()->showMessage(m);
        });
        connect(software, &VolumeRenderWidget::cameraSettled, this, &Vrt3DWindow::shareCamera);
        connect(software, &VolumeRenderWidget::cutOutsChanged, this, &Vrt3DWindow::updateCutOutActions);
    } else if (auto *gpu = qobject_cast<GlVolumeRenderWidget *>(view)) {
        connect(gpu, &GlVolumeRenderWidget::statusMessage, this, [this](const QString &m) {
            statusBar()->showMessage(m);
        });
        connect(gpu, &GlVolumeRenderWidget::cameraSettled, this, &Vrt3DWindow::shareCamera);
        connect(gpu, &GlVolumeRenderWidget::cutOutsChanged, this, &Vrt3DWindow::updateCutOutActions);
    }
}

void Vrt3DWindow::buildToolBar()
{
    m_toolBar = addToolBar(QStringLiteral("3D VRT"));
    m_toolBar->setObjectName(QStringLiteral("vrt3dToolBar"));
    auto remember = [this](QAction *action) {
        m_actions.insert(action->text(), action);
        return action;
    };

    auto *presets = new QMenu(this);
    connect(presets, &QMenu::aboutToShow, this, [this, presets] {
        presets->clear();
        for (const render::TransferFunctionPreset &preset : render::builtInPresets())
            presets->addAction(preset.name, this, [this, preset] { setPreset(preset); });
        const QList<render::TransferFunctionPreset> custom = render::settings::customPresets();
        if (!custom.isEmpty())
            presets->addSeparator();
        for (const render::TransferFunctionPreset &preset : custom)
            presets->addAction(preset.name, this, [this, preset] { setPreset(preset); });
    });
    m_toolBar->addWidget(menuButton(QStringLiteral("Пресеты VRT"), presets, m_toolBar));
    connect(remember(m_toolBar->addAction(QStringLiteral("Редактор кривой…"))), &QAction::triggered, this,
            &Vrt3DWindow::openCurveEditor);

    auto *density = new QMenu(this);
    struct DensityChoice
    {
        QString text;
        double minimum;
        double maximum;
        QString preset;
    };
    const QList<DensityChoice> choices = {
        {QStringLiteral("Выключить (показать всё)"), densityOffMin, densityOffMax, QString()},
        {QStringLiteral("Убрать кости (мягкие ткани)"), -1024.0, 200.0, QStringLiteral("Мягкие ткани")},
        {QStringLiteral("Только кости"), 200.0, 3071.0, QStringLiteral("Кости")},
        {QStringLiteral("Только сосуды (контраст)"), 80.0, 500.0, QStringLiteral("Сосуды (контраст)")},
    };
    for (const DensityChoice &choice : choices)
        remember(density->addAction(choice.text, this, [this, choice] {
            if (!choice.preset.isEmpty())
                setPreset(render::presetByName(choice.preset));
            setDensityRange(choice.minimum, choice.maximum);
        }));
    remember(density->addAction(QStringLiteral("Свой диапазон…"), this, [this] {
        DensityRangeDialog dialog(m_densityMin, m_densityMax, this);
        if (dialog.exec() == QDialog::Accepted)
            setDensityRange(dialog.minimum(), dialog.maximum());
    }));
    m_toolBar->addWidget(menuButton(QStringLiteral("Вырез по плотности"), density, m_toolBar));
    m_toolBar->addSeparator();

    auto *rotation = new QActionGroup(this);
    for (const auto &[text, mode] : {std::pair{QStringLiteral("Свободный поворот"), render::VolumeRotationMode::Free},
                                     std::pair{QStringLiteral("Поворот в плоскости"), render::VolumeRotationMode::InPlane}}) {
        QAction *action = remember(m_toolBar->addAction(text));
        action->setCheckable(true);
        action->setChecked(mode == render::VolumeRotationMode::Free);
        rotation->addAction(action);
        connect(action, &QAction::triggered, this, [this, mode] {
            forEachView([mode](auto &view) { view.setRotationMode(mode); });
        });
    }
    connect(remember(m_toolBar->addAction(QStringLiteral("Сбросить вид"))), &QAction::triggered, this, [this] {
        forEachView([](auto &view) { view.resetView(); });
        shareCamera();
    });
    auto *orientation = new QMenu(this);
    for (int i = 0; i <= int(render::VolumeViewPreset::Bottom); ++i) {
        const auto preset = render::VolumeViewPreset(i);
        orientation->addAction(render::viewPresetLabel(preset), this, [this, preset] {
            forEachView([preset](auto &view) { view.setViewPreset(preset); });
            shareCamera();
        });
    }
    m_toolBar->addWidget(menuButton(QStringLiteral("Ориентация"), orientation, m_toolBar));
    // The cut-out and renderer tools on a row of their own: one row would not fit a 1280-pixel screen.
    addToolBarBreak();
    QToolBar *tools = addToolBar(QStringLiteral("Обрезка и рендерер"));
    tools->setObjectName(QStringLiteral("vrt3dTools"));

    QAction *cut = remember(tools->addAction(QStringLiteral("Обрезка (рисование)")));
    cut->setCheckable(true);
    cut->setToolTip(QStringLiteral("Обведите левой кнопкой область, которую нужно оставить; всё вне контура скрывается"));
    connect(cut, &QAction::toggled, this, [this](bool on) { forEachView([on](auto &view) { view.setCutOutDrawing(on); }); });
    connect(remember(tools->addAction(QStringLiteral("Отменить шаг"))), &QAction::triggered, this, [this] {
        forEachView([](auto &view) { view.undoCutOut(); });
    });
    connect(remember(tools->addAction(QStringLiteral("Убрать обрезку"))), &QAction::triggered, this, [this] {
        forEachView([](auto &view) { view.clearCutOuts(); });
    });
    tools->addSeparator();

    QAction *cpu = remember(tools->addAction(QStringLiteral("Режим CPU (запасной)")));
    cpu->setCheckable(true);
    cpu->setToolTip(cpuTip());
    connect(cpu, &QAction::triggered, this, &Vrt3DWindow::setCpuMode);

    QAction *sync = remember(tools->addAction(QStringLiteral("Синхронизировать окна")));
    sync->setCheckable(true);
    sync->setEnabled(!m_source.studyUid.isEmpty());
    sync->setToolTip(QStringLiteral("Поворот, масштаб и сдвиг общие с другими окнами 3D VRT этого пациента"));
    connect(sync, &QAction::toggled, this, [this](bool on) {
        if (on)
            shareCamera();
    });
    updateCutOutActions();
}

void Vrt3DWindow::updateCutOutActions()
{
    const int count = isCpuMode() ? m_software->cutOutCount() : m_gpu->cutOutCount();
    m_actions.value(QStringLiteral("Отменить шаг"))->setEnabled(count > 0);
    m_actions.value(QStringLiteral("Убрать обрезку"))->setEnabled(count > 0);
}

void Vrt3DWindow::onVolumeBuilt(const QString &message)
{
    if (!m_volume || !m_volume->isValid()) {
        statusBar()->clearMessage();
        QMessageBox::warning(this, QStringLiteral("Реконструкция не удалась"),
                             QStringLiteral("Не удалось построить объём для реконструкции:\n%1")
                                 .arg(message.isEmpty() ? QStringLiteral("неизвестная ошибка") : message));
        return;
    }
    forEachView([this](auto &view) { view.setVolume(m_volume); });
    const render::Volume &v = *m_volume;
    const QString text = !message.isEmpty()
                             ? message
                             : QStringLiteral("Объём: %1×%2×%3 вокселей, spacing %4×%5×%6 мм")
                                   .arg(v.width)
                                   .arg(v.height)
                                   .arg(v.depth)
                                   .arg(v.spacingX, 0, 'f', 2)
                                   .arg(v.spacingY, 0, 'f', 2)
                                   .arg(v.spacingZ, 0, 'f', 2);
    // A fallback notice still showing is not pushed out by the volume's line.
    if (!statusBar()->currentMessage().startsWith(QStringLiteral("OpenGL недоступен")))
        statusBar()->showMessage(text);
}

void Vrt3DWindow::onGpuInitializationFailed(const QString &errorMessage)
{
    m_gpuFailed = true;
    if (m_gpu && !isCpuMode())
        m_software->setRenderParameters(m_gpu->renderParameters());
    m_stack->setCurrentWidget(m_software);
    QAction *cpu = m_actions.value(QStringLiteral("Режим CPU (запасной)"));
    {
        const QSignalBlocker blocker(cpu);
        cpu->setChecked(true);
    }
    // Going back would only fail again.
    cpu->setEnabled(false);
    updateCutOutActions();
    statusBar()->showMessage(QStringLiteral("OpenGL недоступен: %1").arg(errorMessage), fallbackMessageMs);
}

void Vrt3DWindow::setCpuMode(bool on)
{
    if (!m_gpu || m_gpuFailed) {
        const QSignalBlocker blocker(m_actions.value(QStringLiteral("Режим CPU (запасной)")));
        m_actions.value(QStringLiteral("Режим CPU (запасной)"))->setChecked(true);
        return;
    }
    if (on == isCpuMode())
        return;
    if (on) {
        m_software->setRenderParameters(m_gpu->renderParameters());
        m_stack->setCurrentWidget(m_software);
    } else {
        m_gpu->setRenderParameters(m_software->renderParameters());
        m_stack->setCurrentWidget(m_gpu);
    }
    updateCutOutActions();
}

void Vrt3DWindow::setPreset(const render::TransferFunctionPreset &preset)
{
    m_preset = preset;
    forEachView([&preset](auto &view) {
        view.setProjectionMode(render::ProjectionMode::Vrt);
        view.setVrtPreset(preset);
    });
}

void Vrt3DWindow::setDensityRange(double minimum, double maximum)
{
    m_densityMin = minimum;
    m_densityMax = maximum;
    // "Off" shows every density, the volume's padding and metal included.
    const bool off = minimum == densityOffMin && maximum == densityOffMax;
    forEachView([=](auto &view) { view.setDensityRange(off ? -1e30 : minimum, off ? 1e30 : maximum); });
}

void Vrt3DWindow::openCurveEditor()
{
    const double huMin = m_volume ? m_volume->minValue : -1024.0;
    const double huMax = m_volume ? m_volume->maxValue : 3071.0;
    auto *dialog = new TransferFunctionEditorDialog(m_preset, huMin, huMax, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto apply = [this](const render::TransferFunctionPreset &preset) {
        forEachView([&preset](auto &view) { view.setVrtPreset(preset); });
    };
    connect(dialog, &TransferFunctionEditorDialog::presetChangedDraft, this, apply);
    connect(dialog, &TransferFunctionEditorDialog::presetChangedFinal, this, [this, apply](const auto &preset) {
        apply(preset);
        m_preset = preset;
    });
    connect(dialog, &TransferFunctionEditorDialog::saveAsPresetRequested, this,
            [this](const render::TransferFunctionPreset &preset) {
                render::settings::saveCustomPreset(preset);
                statusBar()->showMessage(QStringLiteral("Пресет «%1» сохранён").arg(preset.name), 5000);
            });
    dialog->open();
}

void Vrt3DWindow::shareCamera()
{
    QAction *sync = m_actions.value(QStringLiteral("Синхронизировать окна"));
    if (!sync || !sync->isChecked())
        return;
    const render::VolumeCameraState state = cameraState();
    for (const QPointer<Vrt3DWindow> &other : openWindows()) {
        if (other.isNull() || other == this || other->m_source.patientKey != m_source.patientKey)
            continue;
        QAction *theirs = other->m_actions.value(QStringLiteral("Синхронизировать окна"));
        if (theirs && theirs->isChecked())
            other->takePeerCamera(state);
    }
}

void Vrt3DWindow::takePeerCamera(const render::VolumeCameraState &state)
{
    // Rotation, zoom and pan are shared; each window keeps its own window.
    forEachView([&state](auto &view) {
        render::VolumeCameraState mine = view.cameraState();
        const double level = mine.level;
        const double width = mine.width;
        mine = state;
        mine.level = level;
        mine.width = width;
        view.setCameraState(mine);
    });
}

} // namespace velmaris
