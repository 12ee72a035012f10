#pragma once

#include "volume/Centerline.h"
#include "volume/VesselAnalysis.h"
#include "volume/Volume.h"

#include <QFutureWatcher>
#include <QImage>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace velmaris {

// "Профиль сосуда — %1": the lumen's equivalent diameter or area along the
// centre line, measured by a worker on the thread pool (the window shows its
// progress and stops it when closed), drawn as a chart and exported to PNG.
class VesselProfileWindow : public QWidget
{
    Q_OBJECT
public:
    VesselProfileWindow(std::shared_ptr<const render::Volume> volume, const render::Centerline &line,
                        const QString &series, QWidget *parent = nullptr);
    ~VesselProfileWindow() override;

    bool isFinished() const { return m_finished; }
    const std::vector<render::VesselProfilePoint> &profile() const { return m_profile; }
    // The chart as drawn, at the given size.
    QImage chartImage(const QSize &size) const;
    // Writes the chart to a PNG file; false with a message.
    bool exportPng(const QString &path, QString &message) const;

signals:
    void finished();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintChart(QPainter &painter, const QRectF &area) const;
    QRect chartArea() const;

    std::shared_ptr<std::atomic<bool>> m_cancel;
    QFutureWatcher<std::vector<render::VesselProfilePoint>> m_watcher;
    std::vector<render::VesselProfilePoint> m_profile;
    bool m_finished = false;
    QComboBox *m_quantity;
    QProgressBar *m_progress;
    QPushButton *m_export;
    QLabel *m_summary;
};

} // namespace velmaris
