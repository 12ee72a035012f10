#pragma once

class QWidget;

namespace pacs {
class PacsOpenCoordinator;
}

namespace velmaris {

class LocalApiServer;

// Hands the bridge's requests to the coordinator and the main window, queued
// so that each client has its answer before anything happens, and tells the
// bridge while an open request waits for the user, so that it refuses
// further ones meanwhile instead of stacking them up.
void connectBridge(LocalApiServer *bridge, pacs::PacsOpenCoordinator *coordinator, QWidget *window);

} // namespace velmaris
