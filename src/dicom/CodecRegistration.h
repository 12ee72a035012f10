#pragma once

namespace dicom {

// Registers the JPEG, RLE and JPEG-LS codecs of DCMTK and our JPEG 2000 decoder
// for the whole process. Calls nest: the codecs are unregistered when the last
// registration is released.
void registerCodecs();
void unregisterCodecs();

// Holds the codecs registered for its lifetime.
class CodecRegistration
{
public:
    CodecRegistration() { registerCodecs(); }
    ~CodecRegistration() { unregisterCodecs(); }
    CodecRegistration(const CodecRegistration &) = delete;
    CodecRegistration &operator=(const CodecRegistration &) = delete;
};

} // namespace dicom
