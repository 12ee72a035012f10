#pragma once

#include "volume/Volume.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace velmaris::cli {

// The volume verbs: "volume" (build a series' volume, write its voxels) and
// "mpr" (build it and write one resliced plane as PNG).
bool isVolumeCommand(const QString &command);

// Runs one of them (arguments after the verb); records as JSON Lines to
// `out`, messages to `err`; returns the exit code of norvane-cli.
int runVolumeCommand(const QString &command, const QStringList &arguments, std::FILE *out, std::FILE *err);


// Opens the index, reads the series and builds its volume (with the frames'
// orientation kept, or turned by the plane hint); false with the reason when
// the index cannot be read or the volume cannot be built. A warning about a
// built volume lands in `message` too.
bool buildIndexedSeriesVolume(const QString &database, const QString &seriesUid, bool orientation,
                              render::Volume &volume, QString &message);

} // namespace velmaris::cli
