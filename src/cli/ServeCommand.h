#pragma once

#include <QStringList>

#define SERVE_USAGE_TEXT                                                                                       \
    "  norvane-cli serve --db FILE [--aet AET] [--port P] [--storage DIR] [--node AET=HOST:PORT]...\n"

namespace velmaris::cli {

class Output;

// The Mini-PACS without a window: serves until SIGINT or SIGTERM, its log on
// the message stream.
int runServe(const QStringList &arguments, Output &output);

} // namespace velmaris::cli
