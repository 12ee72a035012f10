#pragma once

#include <QString>

namespace velmaris {

// The loopback port shared by the bridge and the forwarding second start.
constexpr quint16 defaultBridgePort = 53214;
// Port an open request gets when it names none (or names no number).
constexpr int defaultPacsPort = 104;
constexpr int forwardTimeoutMs = 3000;

inline const QString singleInstanceName = QStringLiteral("VelmarisSingleInstanceMutex_v1");
inline const QString portableMarkerName = QStringLiteral("portable.marker");
inline const QString portableImageFolderName = QStringLiteral("DICOM");

// The bridge port; VELMARIS_BRIDGE_PORT overrides it so that several
// workstations (or test runs) can live side by side on one machine.
quint16 bridgePort();

} // namespace velmaris
