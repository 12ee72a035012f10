#pragma once

#include <QMetaType>
#include <QString>

namespace velmaris {

// A request to open one study, possibly fetched from a PACS node first. It
// comes from the command line or from the loopback bridge.
struct PacsOpenRequest
{
    QString studyInstanceUID; // never empty in a valid request
    QString serverHost;
    int serverPort = 104;
    QString serverAeTitle;
    bool valid = false;

    bool operator==(const PacsOpenRequest &) const = default;
};

} // namespace velmaris

Q_DECLARE_METATYPE(velmaris::PacsOpenRequest)
