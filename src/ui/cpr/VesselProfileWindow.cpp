#include "ui/cpr/VesselProfileWindow.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPromise>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>

namespace velmaris {

namespace {

// Sections along the line, in millimetres.
constexpr double profileStepMm = 0.5;
const QString exportTitle = QStringLiteral("Экспорт PNG");

} // namespace

VesselProfileWindow::VesselProfileWindow(std::shared_ptr<const render::Volume> volume,
                                         const render::Centerline &line, const QString &series, QWidget *parent)
    : QWidget(parent, Qt::Window), m_cancel(std::make_shared<std::atomic<bool>>(false))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(render::vesselProfileTitle(series));
    resize(800, 420);
    m_quantity = new QComboBox(this);
    m_quantity->addItems({QStringLiteral("Диаметр просвета, мм"), QStringLiteral("Площадь просвета, мм²")});
    connect(m_quantity, &QComboBox::currentIndexChanged, this, qOverload<>(&QWidget::update));
    m_progress = new QProgressBar(this);
    m_export = new QPushButton(exportTitle, this);
    m_export->setEnabled(false);
    m_summary = new QLabel(QStringLiteral("Идёт расчёт профиля…"), this);
    auto *top = new QHBoxLayout;
    top->addWidget(m_quantity);
    top->addWidget(m_progress, 1);
    top->addWidget(m_export);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_summary);
    layout->addStretch(1);
    connect(m_export, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, exportTitle, QString(),
                                                          QStringLiteral("Изображения PNG (*.png)"));
        QString message;
        if (!path.isEmpty() && !exportPng(path, message))
            QMessageBox::warning(this, exportTitle, message);
    });

    connect(&m_watcher, &QFutureWatcherBase::progressRangeChanged, m_progress, &QProgressBar::setRange);
    connect(&m_watcher, &QFutureWatcherBase::progressValueChanged, m_progress, &QProgressBar::setValue);
    connect(&m_watcher, &QFutureWatcherBase::finished, this, [this] {
        if (m_watcher.future().resultCount() > 0)
            m_profile = m_watcher.result();
        m_finished = true;
        m_progress->hide();
        m_export->setEnabled(!m_profile.empty());
        auto narrowest = std::min_element(m_profile.begin(), m_profile.end(), [](const auto &a, const auto &b) {
            const double da = a.lumen.found ? a.lumen.diameterMm : 1e9;
            const double db = b.lumen.found ? b.lumen.diameterMm : 1e9;
            return da < db;
        });
        if (narrowest != m_profile.end() && narrowest->lumen.found)
            m_summary->setText(QStringLiteral("Наименьший просвет: %1 мм на %2 мм от начала")
                                   .arg(narrowest->lumen.diameterMm, 0, 'f', 1)
                                   .arg(narrowest->arcMm, 0, 'f', 0));
        else
            m_summary->setText(QStringLiteral("Просвет сосуда по ходу линии не найден."));
        update();
        emit finished();
    });
    // The worker holds the volume and the stop flag itself: closing the
    // window only raises the flag, it never waits.
    const std::shared_ptr<std::atomic<bool>> cancel = m_cancel;
    m_watcher.setFuture(QtConcurrent::run(
        [volume, line, cancel](QPromise<std::vector<render::VesselProfilePoint>> &promise) {
            promise.addResult(render::vesselProfile(*volume, line, profileStepMm, {}, cancel.get(),
                                                    [&promise](int done, int total) {
                                                        promise.setProgressRange(0, total);
                                                        promise.setProgressValue(done);
                                                    }));
        }));
}

VesselProfileWindow::~VesselProfileWindow()
{
    m_cancel->store(true);
}

QRect VesselProfileWindow::chartArea() const
{
    return rect().adjusted(8, m_summary->geometry().bottom() + 8, -8, -8);
}

void VesselProfileWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintChart(painter, chartArea());
}

QImage VesselProfileWindow::chartImage(const QSize &size) const
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    paintChart(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

bool VesselProfileWindow::exportPng(const QString &path, QString &message) const
{
    if (!chartImage(QSize(1200, 600)).save(path, "PNG")) {
        message = QStringLiteral("Не удалось сохранить файл: %1").arg(path);
        return false;
    }
    return true;
}

void VesselProfileWindow::paintChart(QPainter &painter, const QRectF &area) const
{
    painter.fillRect(area, QColor(0x20, 0x20, 0x20));
    if (m_profile.empty() || area.width() < 60 || area.height() < 60)
        return;
    const bool byArea = m_quantity->currentIndex() == 1;
    auto valueOf = [byArea](const render::VesselProfilePoint &p) {
        return p.lumen.found ? (byArea ? p.lumen.areaMm2 : p.lumen.diameterMm) : 0.0;
    };
    double top = 0.0;
    for (const auto &p : m_profile)
        top = std::max(top, valueOf(p));
    top = top > 0.0 ? top * 1.1 : 1.0;
    const double length = std::max(m_profile.back().arcMm, 1e-6);
    const QRectF plot = area.adjusted(50, 16, -16, -30);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0x90, 0x90, 0x90));
    painter.drawRect(plot);
    painter.drawText(QPointF(area.left() + 4, plot.top() + 10), QString::number(top, 'f', 1));
    painter.drawText(QPointF(area.left() + 4, plot.bottom()), QStringLiteral("0"));
    painter.drawText(QPointF(plot.left(), plot.bottom() + 18), QStringLiteral("0 мм"));
    painter.drawText(QPointF(plot.right() - 60, plot.bottom() + 18),
                     QStringLiteral("%1 мм").arg(length, 0, 'f', 0));
    QPainterPath path;
    for (std::size_t i = 0; i < m_profile.size(); ++i) {
        const QPointF p(plot.left() + m_profile[i].arcMm / length * plot.width(),
                        plot.bottom() - valueOf(m_profile[i]) / top * plot.height());
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    painter.setPen(QPen(QColor(0xff, 0x55, 0x55), 2.0));
    painter.drawPath(path);
}

} // namespace velmaris
