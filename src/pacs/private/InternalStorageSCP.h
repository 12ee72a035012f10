#pragma once

// Internal to the pacs library (dcmnet stays inside it).

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/scp.h>

#include <QString>

namespace pacs {

class StorageListener;

// The DICOM side of the storage listener: takes C-STORE requests, writes each
// object to a file of its own and answers with what really happened to it.
class InternalStorageSCP : public DcmSCP
{
public:
    InternalStorageSCP(StorageListener *listener, QString outputDir);
    ~InternalStorageSCP() override;

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message *incomingMsg,
                                      const DcmPresentationContextInfo &presInfo) override;
    // Comes back after each quiet connection time-out only when a stop was
    // asked for; the port stays open meanwhile.
    OFBool stopAfterConnectionTimeout() override;

private:
    OFCondition storeObject(T_DIMSE_C_StoreRQ &request, T_ASC_PresentationContextID presentationId);

    StorageListener *m_listener;
    QString m_outputDir;
};

} // namespace pacs
