#pragma once

#include "app/PacsOpenRequest.h"

namespace velmaris {

// Hands a second start's request to the running instance: one POST of
// "/pacs/open" (valid request) or "/focus" to the loopback bridge, waiting
// at most timeoutMs. The answer is not examined; nothing is retried.
void forwardToRunningInstance(const PacsOpenRequest &request, quint16 port, int timeoutMs);

} // namespace velmaris
