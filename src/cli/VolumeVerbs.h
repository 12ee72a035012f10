#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace velmaris::cli {

// The verbs that build volumes and draw them ("volume", "mpr", "vrt", "cpr",
// "trace") run in norvane-cli-volume, beside norvane-cli: they need the
// imaging and OpenGL libraries, which every other command would otherwise
// load at each start. norvane-cli hands such a call over whole, so both
// programs take the same command lines.
bool isVolumeVerb(const QString &command);

extern const char volumeUsageText[];
extern const char vrtUsageText[];
extern const char cprUsageText[];

// Runs a volume verb (the verb and its arguments); set by the program that
// holds them, or the hand-over to the program beside it.
using VolumeVerbRunner = int (*)(const QStringList &arguments, std::FILE *out, std::FILE *err);
void setVolumeVerbRunner(VolumeVerbRunner runner);
int runVolumeVerb(const QStringList &arguments, std::FILE *out, std::FILE *err);

} // namespace velmaris::cli
