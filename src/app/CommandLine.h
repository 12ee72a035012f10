#pragma once

#include "app/PacsOpenRequest.h"

#include <QStringList>

namespace velmaris {

// The first argument that is a valid "velmaris://open?study=…&host=…&port=…&aet=…"
// URL whose fields keep PacsOpenRequest's limits; arguments are the process
// arguments without the program name. Other arguments (plain file paths and
// URLs beyond the limits among them) are ignored.
PacsOpenRequest parseOpenRequest(const QStringList &arguments);

} // namespace velmaris
