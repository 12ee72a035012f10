#pragma once

#include <QList>
#include <QString>

class QSettings;

namespace pacs {

// How studies are fetched from a node.
enum class RetrieveMode {
    Move = 0, // C-MOVE to our own storage listener
    Get = 1,  // C-GET on the same association
};

// One remote DICOM node; a plain value, copied freely.
struct PacsServerConfig
{
    QString host;
    int port = 104;
    QString aeTitle;
    QString description; // shown instead of the address where present
    RetrieveMode retrieveMode = RetrieveMode::Move;
};

// The whole PACS configuration of the workstation. Every operation loads it
// afresh when it starts; nothing caches it.
struct PacsConfig
{
    int localPort = 11112;
    QString localAeTitle = QStringLiteral("NORVANE");
    QString moveDestinationAeTitle; // empty: localAeTitle
    QList<PacsServerConfig> servers; // the index is the node's identity elsewhere
};

// The settings group "pacs" of the default settings store. Servers with an
// empty host are skipped on loading; neither call reports errors.
PacsConfig loadPacsConfig();
void savePacsConfig(const PacsConfig &config);

// The same on a given store (the command-line tool reads the workstation's
// store under its own application name).
PacsConfig loadPacsConfig(QSettings &settings);
void savePacsConfig(QSettings &settings, const PacsConfig &config);

} // namespace pacs
