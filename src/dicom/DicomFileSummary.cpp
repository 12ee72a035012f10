#include "dicom/DicomFileSummary.h"

namespace dicom {

void registerSummaryMetaType()
{
    qRegisterMetaType<dicom::DicomFileSummary>("dicom::DicomFileSummary");
}

} // namespace dicom
