#pragma once

#include "volume/Volume.h"
#include "volume/VolumeSlice.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QThread;

namespace render {

// The volumes of the open series, one per series at a time: the MPR window,
// panel reconstructions and fusion layers of the same series hold the same
// build, which is freed when the last holder lets go. A series asked for
// while its build runs joins that build instead of starting a second one.
//
// The builds run on threads owned here, not by the windows that asked: a
// window closed during its build only stops waiting, and the build finishes
// into nobody's hands and is dropped.
class SharedVolumes : public QObject
{
    Q_OBJECT
public:
    using Handle = std::shared_ptr<const Volume>;
    // The volume (null when it failed) and the build's message.
    using Ready = std::function<void(const Handle &volume, const QString &message)>;

    // The registry of the process, a child of the application object.
    static SharedVolumes *instance();

    explicit SharedVolumes(QObject *parent = nullptr);
    ~SharedVolumes() override;

    // Hands the volume of `key` (keyFor of the slices) to `ready`
    // on `context`'s thread: queued at once when it is held, else when the
    // build ends. Nothing is called once `context` is gone. Returns true when
    // a build was started for this call.
    bool acquire(const QString &key, const QList<VolumeSlice> &slices, int planeHint, QObject *context,
                 Ready ready);

    // The key of a series' slice list and the plane hint it is built with:
    // the same frames under the same hint give the same key (a hint turns a
    // volume without orientation, so it is another volume).
    static QString keyFor(const QList<VolumeSlice> &slices, int planeHint);

    // True while someone holds the volume of `key`, or its build runs.
    bool isHeld(const QString &key) const;
    bool isBuilding(const QString &key) const;

private:
    struct Waiter
    {
        QPointer<QObject> context;
        Ready ready;
    };
    struct Entry
    {
        std::weak_ptr<const Volume> volume;
        QString message;
        QList<Waiter> waiters;
        bool building = false;
    };

    void deliver(const QString &key, Volume &&volume, const QString &message);

    QHash<QString, Entry> m_entries;
    QList<QPointer<QThread>> m_threads;
};

} // namespace render
