#pragma once

#include "volume/Volume.h"
#include "volume/VolumeSlice.h"

#include <QList>
#include <QString>

// Assembling the frames of one series into a Volume. The frames are decoded
// on threads of the build's own, each with a reader of its own, so the build
// never waits on (or evicts) the viewer's decoder caches.
namespace render {

struct VolumeBuildOptions
{
    // Loading threads; 0: the hardware's (at most 16).
    int threads = 0;
    // The most bytes the voxels may take; 0: the memory the system has
    // available now. A larger volume is refused before it is allocated.
    quint64 memoryLimitBytes = 0;
};

// 1 (sagittal) when the lower-cased text holds "sag", else 2 (coronal) for
// "cor", else 0 (axial).
int planeHintFromText(const QString &text);

// The volume of `slices`, turned so that its axes follow the patient axes
// (by the frames' orientation, else by the plane hint) and placed in patient
// space when every slice has orientation and position. `message` is written
// only when there is something to say: the reason when the volume is not
// valid, a warning (skipped slices, uneven spacing) when it is.
Volume buildVolume(const QList<VolumeSlice> &slices, QString &message, int planeHint,
                   const VolumeBuildOptions &options = {});

// The stack as loaded, sorted by position, without reorientation or geometry.
Volume loadSlices(const QList<VolumeSlice> &slices, QString &message, const VolumeBuildOptions &options = {});

} // namespace render
