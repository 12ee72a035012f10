#include "app/StartupSettings.h"

namespace velmaris {

quint16 bridgePort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("VELMARIS_BRIDGE_PORT", &ok);
    return ok && port > 0 && port < 65536 ? static_cast<quint16>(port) : defaultBridgePort;
}

} // namespace velmaris
