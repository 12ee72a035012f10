#pragma once

// Internal to the dicom library: one JPEG 2000 frame decoded with OpenJPEG.
// Knows nothing of DCMTK; the codec in Jpeg2000Codec.cpp finds the frame's
// bytes and the dataset's expectations and hands them here.

#include <QString>

#include <cstddef>
#include <cstdint>

namespace dicom::detail {

// What the dataset says a decoded frame looks like. The codestream must agree
// on size and sample count; its own signedness is overruled by signedSamples.
struct Jpeg2000FrameLayout
{
    int rows = 0;
    int columns = 0;
    int samplesPerPixel = 1; // 1 or 3
    int bitsAllocated = 16;  // 8 or 16
    bool signedSamples = false;
};

// Bytes of one decoded frame: rows x columns x samples x bitsAllocated / 8.
std::size_t jpeg2000FrameBytes(const Jpeg2000FrameLayout &layout);

// True when the bytes end the way a codestream does: the end-of-codestream
// marker, possibly followed by the single pad byte of an even-length fragment.
bool endsWithJpeg2000EndMarker(const std::uint8_t *data, std::size_t size);

// Decodes a raw codestream or a JP2 file (told apart by their first bytes)
// into `out`, which holds jpeg2000FrameBytes(layout) bytes: pixels in row
// order, the samples of a pixel side by side, each sample little-endian.
// Colour data comes out as RGB: a multi-component transform in the codestream
// is undone by the decoder. Never reads outside `data`; on failure returns
// false with the reason in `error` and leaves `out` in an unspecified state.
bool decodeJpeg2000Frame(const std::uint8_t *data, std::size_t size,
                         const Jpeg2000FrameLayout &layout, std::uint8_t *out,
                         QString *error = nullptr);

} // namespace dicom::detail
