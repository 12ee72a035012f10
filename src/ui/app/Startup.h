#pragma once

namespace velmaris {

// The whole life of the Norvane process: identity, theme, codecs, then
// portable or normal mode. Returns the process exit code.
int runWorkstation(int &argc, char **argv);

} // namespace velmaris
