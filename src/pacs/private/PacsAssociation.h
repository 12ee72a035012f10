#pragma once

// Internal to the pacs library: what every association of ours shares. The
// only place, with the SCUs, that sees DCMTK's dcmnet.

#include "pacs/PacsConfig.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/scu.h>

#include <QString>
#include <QStringList>

namespace pacs::detail {

OFList<OFString> toOFList(const QStringList &uids);

// Calling and called AE titles, peer address and the time-outs. False, with
// the message, for a port outside 1..65535 (it would wrap in 16 bits).
bool configure(DcmSCU &scu, const PacsServerConfig &node, const PacsConfig &local, QString *error);

// initNetwork and negotiateAssociation; false with the message on failure.
bool connect(DcmSCU &scu, const PacsServerConfig &node, QString *error);

// A failed DCMTK condition in words for the user: a time-out says which node
// stayed silent for how long; anything else is the library's own text.
QString conditionMessage(const OFCondition &condition, const PacsServerConfig &node);

void setError(QString *error, const QString &message);

} // namespace pacs::detail
