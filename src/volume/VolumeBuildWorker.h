#pragma once

#include "volume/Volume.h"
#include "volume/VolumeBuilder.h"
#include "volume/VolumeSlice.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QThread;

namespace render {

// One volume build on a thread of its own: holds the slice list, the plane
// hint, and after run the volume and the message. Builds once.
class VolumeBuildWorker : public QObject
{
    Q_OBJECT
public:
    VolumeBuildWorker(const QList<VolumeSlice> &slices, int planeHint, const VolumeBuildOptions &options = {});

    // The finished volume, moved out to the window that asked for it.
    Volume takeVolume() { return std::move(m_volume); }
    QString message() const { return m_message; }

public slots:
    void run();

signals:
    void finished();

private:
    QList<VolumeSlice> m_slices;
    int m_planeHint = 0;
    VolumeBuildOptions m_options;
    Volume m_volume;
    QString m_message;
};

// The hand-over the volume windows use: a QThread child of `owner` runs the
// (parentless) worker from its started signal at the inherited priority; on
// finished, `takeOver` runs in `owner`'s thread with the volume and the
// message, the thread quits, and worker and thread are deleted later once
// the thread has finished. Returns the started thread.
QThread *startVolumeBuild(VolumeBuildWorker *worker, QObject *owner,
                          std::function<void(Volume &&volume, const QString &message)> takeOver);

} // namespace render
