#pragma once

#include <QMetaType>
#include <QString>

namespace velmaris {

// A request to open one study, possibly fetched from a PACS node first. It
// comes from the command line or from the loopback bridge.
struct PacsOpenRequest
{
    // Limits on what a request may carry; beyond them it is refused where it
    // enters (command line, bridge), before anything shows it or acts on it.
    static constexpr qsizetype kMaxUidLength = 64;      // digits and dots only
    static constexpr qsizetype kMaxHostLength = 64;     // no control characters
    static constexpr qsizetype kMaxAeTitleLength = 16;  // no control characters
    enum class Field { None, StudyInstanceUID, ServerHost, ServerPort, ServerAeTitle };

    QString studyInstanceUID; // never empty in a valid request
    QString serverHost;
    int serverPort = 104;
    QString serverAeTitle;
    bool valid = false;

    // The first field, in declaration order, that breaks the limits above
    // (the port must lie in 1…65535), or Field::None. An empty host or AE
    // title is within them: the coordinator decides what it can do without.
    Field invalidField() const;

    bool operator==(const PacsOpenRequest &) const = default;
};

} // namespace velmaris

Q_DECLARE_METATYPE(velmaris::PacsOpenRequest)
