#include "volume/VolumeBuildWorker.h"

#include <QThread>

namespace render {

VolumeBuildWorker::VolumeBuildWorker(const QList<VolumeSlice> &slices, int planeHint,
                                     const VolumeBuildOptions &options)
    : m_slices(slices), m_planeHint(planeHint), m_options(options)
{
}

void VolumeBuildWorker::run()
{
    m_message.clear();
    m_volume = buildVolume(m_slices, m_message, m_planeHint, m_options);
    emit finished();
}

QThread *startVolumeBuild(VolumeBuildWorker *worker, QObject *owner,
                          std::function<void(Volume &&volume, const QString &message)> takeOver)
{
    auto *thread = new QThread(owner);
    worker->moveToThread(thread);
    QObject::connect(thread, &QThread::started, worker, &VolumeBuildWorker::run);
    QObject::connect(worker, &VolumeBuildWorker::finished, owner,
                     [worker, thread, takeOver = std::move(takeOver)] {
                         takeOver(worker->takeVolume(), worker->message());
                         thread->quit();
                     });
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
    return thread;
}

} // namespace render
