#pragma once

// Internal to the dicom library (CodecRegistration.cpp and the codec itself):
// a DCMTK decoder for JPEG 2000 pixel data (lossless-only and lossy transfer
// syntaxes), since DCMTK's free codecs have none. Decoding goes through
// OpenJPEG; see Jpeg2000Frame.h.

#include <dcmtk/dcmdata/dccodec.h>

namespace dicom::detail {

// The decoder has no settings, but DCMTK only registers a codec together with
// a parameter object and hands it back on every call.
class Jpeg2000CodecParameter : public DcmCodecParameter
{
public:
    DcmCodecParameter *clone() const override;
    const char *className() const override;
};

class Jpeg2000Decoder : public DcmCodec
{
public:
    OFCondition decode(const DcmRepresentationParameter *fromRepParam, DcmPixelSequence *pixSeq,
                       DcmPolymorphOBOW &uncompressedPixelData, const DcmCodecParameter *cp,
                       const DcmStack &objStack, OFBool &removeOldRep) const override;

    OFCondition decodeFrame(const DcmRepresentationParameter *fromParam,
                            DcmPixelSequence *fromPixSeq, const DcmCodecParameter *cp,
                            DcmItem *dataset, Uint32 frameNo, Uint32 &startFragment,
                            void *buffer, Uint32 bufSize,
                            OFString &decompressedColorModel) const override;

    // Decoder only: both encode() calls refuse.
    OFCondition encode(const Uint16 *pixelData, const Uint32 length,
                       const DcmRepresentationParameter *toRepParam, DcmPixelSequence *&pixSeq,
                       const DcmCodecParameter *cp, DcmStack &objStack,
                       OFBool &removeOldRep) const override;
    OFCondition encode(const E_TransferSyntax fromRepType,
                       const DcmRepresentationParameter *fromRepParam,
                       DcmPixelSequence *fromPixSeq, const DcmRepresentationParameter *toRepParam,
                       DcmPixelSequence *&toPixSeq, const DcmCodecParameter *cp,
                       DcmStack &objStack, OFBool &removeOldRep) const override;

    // From either JPEG 2000 transfer syntax to any uncompressed one.
    OFBool canChangeCoding(const E_TransferSyntax oldRepType,
                           const E_TransferSyntax newRepType) const override;

    OFCondition determineDecompressedColorModel(const DcmRepresentationParameter *fromParam,
                                                DcmPixelSequence *fromPixSeq,
                                                const DcmCodecParameter *cp, DcmItem *dataset,
                                                OFString &decompressedColorModel) const override;
};

// Adds the decoder to (and removes it from) DCMTK's global codec list. Not
// reference counted: dicom::registerCodecs() does that for all codecs.
class Jpeg2000DecoderRegistration
{
public:
    static void registerCodecs();
    static void cleanup();
};

} // namespace dicom::detail
