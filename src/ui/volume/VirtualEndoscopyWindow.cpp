#include "ui/volume/VirtualEndoscopyWindow.h"

#include "ui/volume/EndoscopyPlaneView.h"
#include "ui/volume/VolumeRenderWidget.h"
#include "volume/SeriesVolumeSlices.h"
#include "volume/Vrt3DVolumeBuildWorker.h"

#include <QScreen>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {

constexpr int flightIntervalMs = 100;

// A basis looking along `direction`, keeping `up` as far as it can.
void lookAlong(render::VolumeCameraState &camera, QVector3D direction)
{
    direction.normalize();
    if (direction.isNull())
        return;
    QVector3D up = camera.up - direction * QVector3D::dotProduct(camera.up, direction);
    if (up.lengthSquared() < 1e-6f)
        up = QVector3D(0, 0, 1) - direction * direction.z();
    if (up.lengthSquared() < 1e-6f)
        up = QVector3D(0, 1, 0) - direction * direction.y();
    up.normalize();
    camera.direction = direction;
    camera.up = up;
    camera.right = QVector3D::crossProduct(direction, up).normalized();
}

} // namespace

VirtualEndoscopyWindow::VirtualEndoscopyWindow(const Vrt3DSource &source, QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Виртуальная эндоскопия — %1").arg(source.seriesDescription));
    resize(QSize(1200, 800).boundedTo(screen()->availableSize()));
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    auto *planes = new QWidget(splitter);
    auto *column = new QGridLayout(planes);
    column->setContentsMargins(0, 0, 0, 0);
    for (int plane = 0; plane < 3; ++plane) {
        auto *view = new EndoscopyPlaneView(plane, planes);
        column->addWidget(view, plane, 0);
        m_planes.append(view);
        connect(view, &EndoscopyPlaneView::pointClicked, this, &VirtualEndoscopyWindow::addPathPoint);
        connect(view, &EndoscopyPlaneView::cursorMoved, this, [this](const QVector3D &mm) {
            for (EndoscopyPlaneView *p : std::as_const(m_planes))
                p->setCursor(mm);
        });
    }
    m_view = new VolumeRenderWidget(splitter);
    splitter->addWidget(planes);
    splitter->addWidget(m_view);
    splitter->setSizes({360, 840});
    setCentralWidget(splitter);

    QToolBar *bar = addToolBar(QStringLiteral("Эндоскопия"));
    m_presets = new QComboBox(bar);
    m_presets->addItem(render::endoscopyInsidePresetName());
    m_presets->addItem(render::endoscopyOutsidePresetName());
    bar->addWidget(m_presets);
    connect(m_presets, &QComboBox::activated, this, [this](int index) { setInside(index == 0); });
    bar->addWidget(new QLabel(QStringLiteral(" Угол обзора: "), bar));
    auto *fov = new QSpinBox(bar);
    fov->setRange(30, 120);
    fov->setValue(90);
    fov->setSuffix(QStringLiteral("°"));
    bar->addWidget(fov);
    connect(fov, &QSpinBox::valueChanged, this, [this](int degrees) {
        render::VolumeRenderParameters p = m_view->renderParameters();
        p.fovDeg = degrees;
        m_view->setRenderParameters(p);
    });
    QAction *fly = bar->addAction(QStringLiteral("Пролёт"));
    fly->setCheckable(true);
    fly->setToolTip(QStringLiteral("Провести эндоскоп по намеченному пути"));
    m_flight = new QTimer(this);
    m_flight->setInterval(flightIntervalMs);
    connect(fly, &QAction::toggled, this, [this](bool on) {
        if (on && m_along >= pathLength())
            m_along = 0.0;
        on ? m_flight->start() : m_flight->stop();
    });
    connect(m_flight, &QTimer::timeout, this, [this, fly] {
        advance(m_stepMm);
        if (m_path.size() < 2 || m_along >= pathLength())
            fly->setChecked(false);
    });
    bar->addAction(QStringLiteral("Очистить путь"), this, &VirtualEndoscopyWindow::clearPath);

    render::VolumeRenderParameters p = m_view->renderParameters();
    p.fovDeg = fov->value();
    m_view->setRenderParameters(p);
    setInside(true);
    statusBar()->showMessage(QStringLiteral("Строится объём для 3D-реконструкции… (%1 срез.)").arg(source.slices.size()));
    auto *worker = new render::Vrt3DVolumeBuildWorker(
        render::seriesVolumeSlices(source.slices, render::SliceOrientationUse::Drop),
        render::planeHintFromText(source.seriesDescription));
    render::startVolumeBuild(worker, this, [this](render::Volume &&volume, const QString &message) {
        m_volume = std::make_shared<const render::Volume>(std::move(volume));
        onVolumeBuilt(message);
    });
}

VirtualEndoscopyWindow *VirtualEndoscopyWindow::open(const Vrt3DSource &source)
{
    auto *window = new VirtualEndoscopyWindow(source);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

void VirtualEndoscopyWindow::onVolumeBuilt(const QString &message)
{
    if (!m_volume || !m_volume->isValid()) {
        statusBar()->clearMessage();
        QMessageBox::warning(this, QStringLiteral("Реконструкция не удалась"),
                             QStringLiteral("Не удалось построить объём для реконструкции:\n%1")
                                 .arg(message.isEmpty() ? QStringLiteral("неизвестная ошибка") : message));
        return;
    }
    const render::Volume &v = *m_volume;
    m_stepMm = std::max({render::usableSpacing(v.spacingX), render::usableSpacing(v.spacingY),
                         render::usableSpacing(v.spacingZ)});
    for (EndoscopyPlaneView *plane : std::as_const(m_planes)) {
        plane->setVolume(m_volume);
        plane->setCursor(QVector3D());
    }
    m_view->setVolume(m_volume);
    // The volume's window would spread the lumen presets' HU; they are meant absolute.
    render::VolumeRenderParameters p = m_view->renderParameters();
    p.camera.level = (v.minValue + v.maxValue) / 2.0;
    p.camera.width = std::max(v.maxValue - v.minValue, 1.0);
    m_view->setRenderParameters(p);
    placeCamera();
    statusBar()->showMessage(
        message.isEmpty() ? QStringLiteral("Отметьте путь щелчками на плоскостях; ↑/W — вперёд, ↓/S — назад") : message);
}

void VirtualEndoscopyWindow::setInside(bool inside)
{
    render::VolumeRenderParameters p = m_view->renderParameters();
    p.preset = render::presetByName(inside ? render::endoscopyInsidePresetName() : render::endoscopyOutsidePresetName());
    p.mode = render::ProjectionMode::Vrt;
    p.perspective = inside;
    if (!inside)
        p.camera.setViewPreset(render::VolumeViewPreset::Front);
    m_view->setRenderParameters(p);
    if (inside)
        placeCamera();
}

double VirtualEndoscopyWindow::pathLength() const
{
    double length = 0.0;
    for (qsizetype i = 1; i < m_path.size(); ++i)
        length += (m_path.at(i) - m_path.at(i - 1)).length();
    return length;
}

QVector3D VirtualEndoscopyWindow::endoscopePosition() const
{
    if (m_path.size() < 2)
        return m_path.isEmpty() ? m_free : m_path.first() + m_free;
    double left = m_along;
    for (qsizetype i = 1; i < m_path.size(); ++i) {
        const QVector3D segment = m_path.at(i) - m_path.at(i - 1);
        const double length = segment.length();
        if (left <= length || i + 1 == m_path.size())
            return m_path.at(i - 1) + segment * float(length > 0 ? std::min(left / length, 1.0) : 0.0);
        left -= length;
    }
    return m_path.last();
}

void VirtualEndoscopyWindow::placeCamera()
{
    render::VolumeRenderParameters p = m_view->renderParameters();
    const QVector3D at = endoscopePosition();
    if (m_path.size() >= 2) {
        // Look along the segment the endoscope is on.
        double left = m_along;
        QVector3D direction = m_path.at(1) - m_path.at(0);
        for (qsizetype i = 1; i < m_path.size(); ++i) {
            direction = m_path.at(i) - m_path.at(i - 1);
            const double length = direction.length();
            if (left < length)
                break;
            left -= length;
        }
        lookAlong(p.camera, direction);
    }
    p.cameraPosMm = at;
    m_view->setRenderParameters(p);
    for (EndoscopyPlaneView *plane : std::as_const(m_planes)) {
        plane->setCursor(at);
        plane->setPath(m_path, at);
    }
}

void VirtualEndoscopyWindow::addPathPoint(const QVector3D &mm)
{
    m_path.append(mm);
    if (m_path.size() == 1) {
        m_along = 0.0;
        m_free = QVector3D();
    }
    placeCamera();
    statusBar()->showMessage(QStringLiteral("Точек пути: %1, длина %2 мм")
                                 .arg(m_path.size())
                                 .arg(pathLength(), 0, 'f', 1));
}

void VirtualEndoscopyWindow::clearPath()
{
    m_path.clear();
    m_along = 0.0;
    m_free = QVector3D();
    placeCamera();
}

void VirtualEndoscopyWindow::advance(double mm)
{
    if (!m_volume)
        return;
    if (m_path.size() >= 2)
        m_along = std::clamp(m_along + mm, 0.0, pathLength());
    else
        m_free += m_view->renderParameters().camera.direction * float(mm);
    placeCamera();
}

void VirtualEndoscopyWindow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_W:
        advance(m_stepMm * 2.0);
        return;
    case Qt::Key_Down:
    case Qt::Key_S:
        advance(-m_stepMm * 2.0);
        return;
    default:
        QMainWindow::keyPressEvent(event);
    }
}

} // namespace velmaris
