#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace velmaris::cli {

// The verbs that build volumes and draw them ("volume", "mpr", "vrt", "cpr",
// "trace") and the network verbs ("echo", "find", "get", "move", "send",
// "serve") run in norvane-cli-ext, beside norvane-cli: they need the imaging,
// OpenGL and DICOM network libraries, which every other command would
// otherwise load at each start. norvane-cli hands such a call over whole, so
// both programs take the same command lines.
bool isExtendedVerb(const QString &command);

extern const char volumeUsageText[];
extern const char vrtUsageText[];
extern const char cprUsageText[];

// Runs such a verb (the verb and its arguments); set by the program that
// holds them, or the hand-over to the program beside it.
using ExtendedVerbRunner = int (*)(const QStringList &arguments, std::FILE *out, std::FILE *err);
void setExtendedVerbRunner(ExtendedVerbRunner runner);
int runExtendedVerb(const QStringList &arguments, std::FILE *out, std::FILE *err);

} // namespace velmaris::cli
