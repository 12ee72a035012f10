#include "volume/SharedVolumes.h"

#include "volume/MprVolumeBuildWorker.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QMetaObject>
#include <QThread>

namespace render {

SharedVolumes *SharedVolumes::instance()
{
    static QPointer<SharedVolumes> registry;
    if (!registry)
        registry = new SharedVolumes(QCoreApplication::instance());
    return registry;
}

SharedVolumes::SharedVolumes(QObject *parent) : QObject(parent) {}

SharedVolumes::~SharedVolumes()
{
    // A build cannot be interrupted; its thread must not outlive its parent.
    for (const QPointer<QThread> &thread : std::as_const(m_threads)) {
        if (thread) {
            thread->quit();
            thread->wait();
        }
    }
}

QString SharedVolumes::keyFor(const QList<VolumeSlice> &slices, int planeHint)
{
    // Every frame counts: a list with one frame replaced is another volume.
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const VolumeSlice &slice : slices) {
        hash.addData(slice.path.toUtf8());
        hash.addData(QByteArray::number(slice.frameIndex));
        hash.addData(QByteArrayView("\n"));
    }
    return QString::fromLatin1(hash.result().toHex()) + QLatin1Char('#') + QString::number(slices.size())
           + QLatin1Char('@') + QString::number(planeHint);
}

bool SharedVolumes::isHeld(const QString &key) const
{
    const auto it = m_entries.constFind(key);
    return it != m_entries.constEnd() && (it->building || !it->volume.expired());
}

bool SharedVolumes::isBuilding(const QString &key) const
{
    const auto it = m_entries.constFind(key);
    return it != m_entries.constEnd() && it->building;
}

bool SharedVolumes::acquire(const QString &key, const QList<VolumeSlice> &slices, int planeHint, QObject *context,
                            Ready ready)
{
    Entry &entry = m_entries[key];
    if (Handle held = entry.volume.lock()) {
        const QString message = entry.message;
        QMetaObject::invokeMethod(
            context, [ready = std::move(ready), held, message] { ready(held, message); }, Qt::QueuedConnection);
        return false;
    }
    entry.waiters.append({QPointer<QObject>(context), std::move(ready)});
    if (entry.building)
        return false;
    entry.building = true;
    auto *worker = new MprVolumeBuildWorker(slices, planeHint);
    QThread *thread = startVolumeBuild(worker, this, [this, key](Volume &&volume, const QString &message) {
        deliver(key, std::move(volume), message);
    });
    m_threads.removeAll(QPointer<QThread>());
    m_threads.append(thread);
    return true;
}

void SharedVolumes::deliver(const QString &key, Volume &&volume, const QString &message)
{
    Entry &entry = m_entries[key];
    entry.building = false;
    const QList<Waiter> waiters = std::exchange(entry.waiters, {});
    Handle handle;
    if (volume.isValid())
        handle = std::make_shared<const Volume>(std::move(volume));
    entry.volume = handle;
    entry.message = message;
    for (const Waiter &waiter : waiters) {
        if (waiter.context)
            waiter.ready(handle, message);
    }
    // Nobody kept it (every asker closed meanwhile, or it failed): forget the
    // series so that the next request builds afresh. A waiter may have asked
    // again from inside its hand-over (behind a message box): that build stays.
    const auto it = m_entries.find(key);
    if (handle.use_count() <= 1 && it != m_entries.end() && !it->building)
        m_entries.erase(it);
}

} // namespace render
