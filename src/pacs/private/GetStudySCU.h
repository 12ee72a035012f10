#pragma once

// Internal to the pacs library (dcmnet stays inside it).

#include "pacs/PacsClient.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/scu.h>

#include <QString>

namespace pacs {

// The C-GET side of a retrieve: every object the peer sends on the GET
// association is written to the destination folder under a name of its own.
// Overrides only handleSTORERequest.
class GetStudySCU : public DcmSCU
{
public:
    GetStudySCU(const QString &destinationFolder, StoredFileCallback onFile);

    int storedCount() const { return m_stored; }
    // Objects received but not written (answered with 0xA700).
    int failedCount() const { return m_failed; }
    QString lastWriteError() const { return m_lastWriteError; }

protected:
    OFCondition handleSTORERequest(const T_ASC_PresentationContextID presID, DcmDataset *incomingObject,
                                   OFBool &continueCGETSession, Uint16 &cStoreReturnStatus) override;

private:
    QString m_folder;
    StoredFileCallback m_onFile;
    int m_stored = 0;
    int m_failed = 0;
    QString m_lastWriteError;
};

} // namespace pacs
