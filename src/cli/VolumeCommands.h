#pragma once

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

extern const char volumeUsageText[];

} // namespace velmaris::cli
