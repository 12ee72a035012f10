// The JPEG 2000 codec on arbitrary codestreams, reached the way every reader
// reaches it: an encapsulated frame in a dataset that DCMTK is asked to
// decompress, so fragment matching and the OpenJPEG wrapper both run.
//
// Input: an 8-byte header that describes the dataset, then the codestream.
//   0-1  Rows (little-endian, modulo 2048)      2-3  Columns (the same)
//   4    flags: 0x01 three samples, else one; 0x02 16 bits allocated, else 8;
//        0x04 signed; 0x08 lossy transfer syntax, else lossless-only;
//        0x30 frames - 1 (each frame holds the same codestream);
//        0x40 each codestream split over two fragments;
//        0x80 decode frame by frame (as DicomImage does) instead of the
//        whole Pixel Data at once
//   5    where the split falls, in 1/256 of the codestream
//   6    Photometric Interpretation, an index into the lists below
//   7    reserved
// fuzz/make-corpus.sh writes pydicom's JPEG 2000 samples in this form.

#include "FuzzSupport.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHeaderBytes = 8;

const char *const monochromeModels[] = {"MONOCHROME2", "MONOCHROME1", "MONOCHROME2", "PALETTE COLOR"};
const char *const colourModels[] = {"RGB", "YBR_ICT", "YBR_RCT", "YBR_FULL"};

void appendFragment(DcmPixelSequence &sequence, const std::uint8_t *data, std::size_t size)
{
    // Fragments in a file always have an even length; the pad byte is zero.
    std::vector<Uint8> bytes(data, data + size);
    if (bytes.size() % 2 != 0)
        bytes.push_back(0);
    auto *item = new DcmPixelItem(DCM_PixelItemTag);
    item->putUint8Array(bytes.data(), Uint32(bytes.size()));
    sequence.insert(item);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    velmaris::fuzz::prepareProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < kHeaderBytes)
        return 0;
    const Uint16 rows = Uint16((data[0] | data[1] << 8) % 2048);
    const Uint16 columns = Uint16((data[2] | data[3] << 8) % 2048);
    const std::uint8_t flags = data[4];
    const Uint16 samples = (flags & 0x01) != 0 ? 3 : 1;
    const Uint16 bits = (flags & 0x02) != 0 ? 16 : 8;
    const Uint16 representation = (flags & 0x04) != 0 ? 1 : 0;
    const E_TransferSyntax xfer = (flags & 0x08) != 0 ? EXS_JPEG2000 : EXS_JPEG2000LosslessOnly;
    const int frames = 1 + ((flags >> 4) & 0x03);
    const bool split = (flags & 0x40) != 0;
    const bool frameByFrame = (flags & 0x80) != 0;
    const char *photometric = (samples == 1 ? monochromeModels : colourModels)[data[6] % 4];

    const std::uint8_t *codestream = data + kHeaderBytes;
    const std::size_t codestreamSize = size - kHeaderBytes;
    const std::size_t splitAt = codestreamSize * data[5] / 256;

    DcmDataset dataset;
    dataset.putAndInsertUint16(DCM_SamplesPerPixel, samples);
    dataset.putAndInsertString(DCM_PhotometricInterpretation, photometric);
    dataset.putAndInsertUint16(DCM_Rows, rows);
    dataset.putAndInsertUint16(DCM_Columns, columns);
    dataset.putAndInsertUint16(DCM_BitsAllocated, bits);
    dataset.putAndInsertUint16(DCM_BitsStored, bits);
    dataset.putAndInsertUint16(DCM_HighBit, Uint16(bits - 1));
    dataset.putAndInsertUint16(DCM_PixelRepresentation, representation);
    if (samples == 3)
        dataset.putAndInsertUint16(DCM_PlanarConfiguration, 0);
    dataset.putAndInsertString(DCM_NumberOfFrames, std::to_string(frames).c_str());

    auto *sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
    sequence->insert(new DcmPixelItem(DCM_PixelItemTag)); // empty offset table
    for (int frame = 0; frame < frames; ++frame) {
        if (split && splitAt > 0 && splitAt < codestreamSize) {
            appendFragment(*sequence, codestream, splitAt);
            appendFragment(*sequence, codestream + splitAt, codestreamSize - splitAt);
        } else {
            appendFragment(*sequence, codestream, codestreamSize);
        }
    }
    auto *pixelData = new DcmPixelData(DCM_PixelData);
    pixelData->putOriginalRepresentation(xfer, nullptr, sequence);
    dataset.insert(pixelData);

    if (!frameByFrame) {
        (void)dataset.chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
        return 0;
    }
    Uint32 frameBytes = 0;
    if (pixelData->getUncompressedFrameSize(&dataset, frameBytes).bad() || frameBytes == 0)
        return 0;
    std::vector<Uint8> buffer(frameBytes);
    Uint32 startFragment = 0;
    for (int frame = 0; frame < frames; ++frame) {
        OFString colourModel;
        if (pixelData->getUncompressedFrame(&dataset, Uint32(frame), startFragment, buffer.data(),
                                            frameBytes, colourModel)
                .bad())
            break;
    }
    return 0;
}
