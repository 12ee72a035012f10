// readSummary on arbitrary bytes: the header parse every import path runs on
// every file it meets.

#include "FuzzSupport.h"

#include "dicom/DicomSummaryReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    velmaris::fuzz::prepareProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const velmaris::fuzz::TmpfsFile file(data, size, ".dcm");
    if (!file.ok())
        return 0;
    (void)dicom::isDicomFile(file.path());
    (void)dicom::readSummary(file.path());
    return 0;
}
