#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace velmaris::cli {

// "vrt": builds a series' volume as the 3D window does and writes one
// rendered picture as PNG.
bool isVrtCommand(const QString &command);
int runVrtCommand(const QStringList &arguments, std::FILE *out, std::FILE *err);

// Whether the arguments of a norvane-cli call ask for the OpenGL renderer
// (so that main() makes a GUI application when a display is there).
bool vrtWantsOpenGl(const QStringList &arguments);

// argv after the program name, before an application object exists.
QStringList argumentList(int argc, char *argv[]);


} // namespace velmaris::cli
