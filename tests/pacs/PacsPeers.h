#pragma once

#include "pacs/PacsConfig.h"
#include "seriesgen/SeriesGenerator.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace velmaris::testing {

// A TCP port nobody listens on at the moment of asking.
int freePort();

// A node on 127.0.0.1.
pacs::PacsServerConfig loopbackNode(int port, const QString &aeTitle);

// A generated series of one patient's study, to fill the peers with.
velmaris::gen::SeriesSpec patientSeries(int slices, const QString &name, const QString &id, const QString &date,
                                        velmaris::gen::Kind kind = velmaris::gen::Kind::CT,
                                        velmaris::gen::Compression compression = velmaris::gen::Compression::None);

// One real DICOM peer run by a test: Orthanc, dcmqrscp or storescp on a free
// port, with its own configuration and storage in a private folder; stopped
// when the object goes.
class DicomPeer
{
public:
    enum class Kind { Orthanc, Dcmqrscp, Storescp };

    // moveDestination*: the node C-MOVE may send to (AE title and port on
    // 127.0.0.1); storescp ignores them and accepts every syntax.
    DicomPeer(Kind kind, const QString &aeTitle, const QString &moveDestinationAe = QString(),
              int moveDestinationPort = 0);
    ~DicomPeer();
    DicomPeer(const DicomPeer &) = delete;
    DicomPeer &operator=(const DicomPeer &) = delete;

    // Starts the process and waits (polling C-ECHO, generously) until it
    // answers; false with the reason otherwise.
    bool start(QString *error);

    pacs::PacsServerConfig node() const;
    // Where storescp writes what it receives.
    QString receivedFolder() const;
    // Orthanc's REST interface on 127.0.0.1 (0 for the others).
    int httpPort() const { return m_httpPort; }

private:
    Kind m_kind;
    QString m_aeTitle;
    QString m_moveAe;
    int m_movePort;
    int m_port = 0;
    int m_httpPort = 0;
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace velmaris::testing
