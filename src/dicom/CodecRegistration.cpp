#include "dicom/CodecRegistration.h"

#include "Jpeg2000Codec.h"

#include <dcmtk/dcmdata/dcrleerg.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/dcmjpls/djencode.h>

#include <mutex>

namespace dicom {

namespace {
// DCMTK keeps one global codec list; registering twice adds duplicates and
// cleaning up while another user still needs them removes them for everyone.
std::mutex registrationMutex;
int registrationCount = 0;
} // namespace

void registerCodecs()
{
    std::lock_guard lock(registrationMutex);
    if (registrationCount++ > 0)
        return;
    DJDecoderRegistration::registerCodecs();
    DJEncoderRegistration::registerCodecs();
    DcmRLEDecoderRegistration::registerCodecs();
    DcmRLEEncoderRegistration::registerCodecs();
    DJLSDecoderRegistration::registerCodecs();
    DJLSEncoderRegistration::registerCodecs();
    detail::Jpeg2000DecoderRegistration::registerCodecs();
}

void unregisterCodecs()
{
    std::lock_guard lock(registrationMutex);
    if (registrationCount == 0 || --registrationCount > 0)
        return;
    DJDecoderRegistration::cleanup();
    DJEncoderRegistration::cleanup();
    DcmRLEDecoderRegistration::cleanup();
    DcmRLEEncoderRegistration::cleanup();
    DJLSDecoderRegistration::cleanup();
    DJLSEncoderRegistration::cleanup();
    detail::Jpeg2000DecoderRegistration::cleanup();
}

} // namespace dicom
