#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace velmaris::cli {

// The curved-reconstruction verbs: "cpr" (a series' CPR along control points
// or a parameter file, written as PNG) and "trace" (the vessel centre line
// traced between two points). Points are in volume millimetres of the
// series' volume (voxel index × spacing, frames' orientation kept).
bool isCprCommand(const QString &command);

// Runs one of them (arguments after the verb); records as JSON Lines to
// `out`, messages to `err`; returns the exit code of norvane-cli.
int runCprCommand(const QString &command, const QStringList &arguments, std::FILE *out, std::FILE *err);


} // namespace velmaris::cli
