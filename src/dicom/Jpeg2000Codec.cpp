#include "Jpeg2000Codec.h"

#include "Jpeg2000Frame.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcerror.h>
#include <dcmtk/dcmdata/dcitem.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcstack.h>
#include <dcmtk/dcmdata/dcswap.h>
#include <dcmtk/dcmdata/dcvrpobw.h>
#include <dcmtk/dcmdata/dcxfer.h>

#include <QString>

#include <memory>
#include <vector>

namespace dicom::detail {

namespace {

// Module numbers above 1023 are left to applications by DCMTK.
constexpr unsigned short conditionModule = 1201;
enum ConditionCode : unsigned short {
    BadAttributes = 1, // the Image Pixel attributes cannot describe a decodable image
    BadFragments = 2,  // frames cannot be matched to fragments
    BadCodestream = 3, // the frame's bytes do not decode
};

OFCondition failure(ConditionCode code, const QString &text)
{
    return makeOFCondition(conditionModule, code, OF_error, text.toUtf8().constData());
}

bool isJpeg2000(E_TransferSyntax xfer)
{
    return xfer == EXS_JPEG2000LosslessOnly || xfer == EXS_JPEG2000;
}

OFString trimmed(const OFString &text)
{
    const QByteArray bytes = QByteArray(text.c_str(), qsizetype(text.length())).trimmed();
    return OFString(bytes.constData(), std::size_t(bytes.size()));
}

// The colour model of the decoded pixels. OpenJPEG undoes the codestream's
// multi-component transform itself, so the two JPEG 2000 colour models come
// out as RGB; everything else is what the dataset says.
OFString decodedColorModel(const OFString &photometric)
{
    if (photometric == "YBR_ICT" || photometric == "YBR_RCT")
        return "RGB";
    return photometric;
}

struct ImageAttributes
{
    Jpeg2000FrameLayout layout;
    Uint32 frames = 1;
    OFString photometric;
    std::size_t frameBytes = 0;
};

OFCondition readAttributes(DcmItem &item, ImageAttributes &out)
{
    Uint16 samples = 0, rows = 0, columns = 0, bitsAllocated = 0, representation = 0;
    const auto need = [&item](const DcmTagKey &tag, Uint16 &value, const char *name) {
        return item.findAndGetUint16(tag, value).good()
            ? EC_Normal
            : failure(BadAttributes, QStringLiteral("JPEG 2000 pixel data without %1").arg(QLatin1String(name)));
    };
    OFCondition cond = need(DCM_SamplesPerPixel, samples, "Samples per Pixel");
    if (cond.good())
        cond = need(DCM_Rows, rows, "Rows");
    if (cond.good())
        cond = need(DCM_Columns, columns, "Columns");
    if (cond.good())
        cond = need(DCM_BitsAllocated, bitsAllocated, "Bits Allocated");
    if (cond.good())
        cond = need(DCM_PixelRepresentation, representation, "Pixel Representation");
    if (cond.bad())
        return cond;
    OFString photometric;
    if (item.findAndGetOFString(DCM_PhotometricInterpretation, photometric).bad())
        return failure(BadAttributes, QStringLiteral("JPEG 2000 pixel data without Photometric Interpretation"));

    if ((samples != 1 && samples != 3) || (bitsAllocated != 8 && bitsAllocated != 16) || rows == 0
        || columns == 0)
        return failure(BadAttributes,
                       QStringLiteral("JPEG 2000 decoder supports 1 or 3 samples of 8 or 16 bits; "
                                      "the dataset has %1 x %2 pixels, %3 samples, %4 bits allocated")
                           .arg(rows)
                           .arg(columns)
                           .arg(samples)
                           .arg(bitsAllocated));

    // Number of Frames is optional; absent or nonsense means one frame, as
    // for every other reader of the file.
    Sint32 frames = 1;
    if (item.findAndGetSint32(DCM_NumberOfFrames, frames).bad() || frames < 1)
        frames = 1;

    out.layout.rows = rows;
    out.layout.columns = columns;
    out.layout.samplesPerPixel = samples;
    out.layout.bitsAllocated = bitsAllocated;
    out.layout.signedSamples = representation == 1;
    out.frames = Uint32(frames);
    out.photometric = trimmed(photometric);
    out.frameBytes = jpeg2000FrameBytes(out.layout);
    return EC_Normal;
}

OFCondition fragmentBytes(DcmPixelSequence &sequence, Uint32 index, const Uint8 *&data,
                          Uint32 &length)
{
    DcmPixelItem *item = nullptr;
    if (sequence.getItem(item, index).bad() || item == nullptr)
        return failure(BadFragments, QStringLiteral("cannot read fragment %1 of the pixel data").arg(index));
    length = item->getLength();
    Uint8 *bytes = nullptr;
    if (length > 0 && (item->getUint8Array(bytes).bad() || bytes == nullptr))
        return failure(BadFragments, QStringLiteral("cannot read fragment %1 of the pixel data").arg(index));
    data = bytes;
    return EC_Normal;
}

// The first fragment of every frame according to the Basic Offset Table, or
// nothing when the table is empty or does not match the fragments; then the
// codestream end markers decide.
std::vector<Uint32> offsetTableStarts(DcmPixelSequence &sequence, Uint32 frames)
{
    DcmPixelItem *table = nullptr;
    if (sequence.getItem(table, 0).bad() || table == nullptr)
        return {};
    if (quint64(table->getLength()) != quint64(frames) * 4)
        return {};
    Uint8 *raw = nullptr;
    if (table->getUint8Array(raw).bad() || raw == nullptr)
        return {};

    const Uint32 items = Uint32(sequence.card());
    std::vector<Uint32> starts;
    starts.reserve(frames);
    quint64 position = 0; // of fragment `index`, counted from the first fragment's item tag
    Uint32 index = 1;
    for (Uint32 frame = 0; frame < frames; ++frame) {
        const Uint8 *entry = raw + std::size_t(frame) * 4; // stored little-endian
        const quint64 offset = quint64(entry[0]) | quint64(entry[1]) << 8 | quint64(entry[2]) << 16
            | quint64(entry[3]) << 24;
        while (index < items && position < offset) {
            DcmPixelItem *item = nullptr;
            if (sequence.getItem(item, index).bad() || item == nullptr)
                return {};
            position += quint64(item->getLength()) + 8; // item tag and length
            ++index;
        }
        if (index >= items || position != offset || (!starts.empty() && starts.back() == index))
            return {};
        starts.push_back(index);
    }
    return starts;
}

struct FragmentRange
{
    Uint32 first = 0;
    Uint32 count = 0;
};

// Finds the fragments of frame `frameNo`. `knownStart`, when not 0, is the
// first fragment of that frame as learnt from the previous frame's end.
OFCondition locateFrame(DcmPixelSequence &sequence, Uint32 frames, Uint32 frameNo,
                        Uint32 knownStart, FragmentRange &range)
{
    const Uint32 items = Uint32(sequence.card());
    const Uint32 fragments = items > 0 ? items - 1 : 0; // item 0 is the offset table
    if (fragments < frames)
        return failure(BadFragments,
                       QStringLiteral("the dataset has %1 frames but its pixel data only %2 fragments")
                           .arg(frames)
                           .arg(fragments));
    if (frameNo >= frames)
        return failure(BadFragments, QStringLiteral("frame %1 asked for, the dataset has %2").arg(frameNo + 1).arg(frames));
    if (fragments == frames) {
        range = {frameNo + 1, 1};
        return EC_Normal;
    }
    if (frames == 1) {
        range = {1, fragments};
        return EC_Normal;
    }

    const std::vector<Uint32> starts = offsetTableStarts(sequence, frames);
    if (!starts.empty()) {
        const Uint32 end = frameNo + 1 < frames ? starts[frameNo + 1] : items;
        range = {starts[frameNo], end - starts[frameNo]};
        return EC_Normal;
    }

    // No usable offset table: each frame's codestream closes with an end
    // marker at the end of its last fragment. The last frame takes whatever
    // is left.
    Uint32 frame = 0;
    Uint32 first = 1;
    if (knownStart > 0 && knownStart < items) {
        frame = frameNo;
        first = knownStart;
    }
    for (;; ++frame) {
        if (first >= items)
            return failure(BadFragments, QStringLiteral("no fragments left for frame %1").arg(frame + 1));
        if (frame + 1 == frames) {
            range = {first, items - first};
            return EC_Normal;
        }
        Uint32 last = first;
        for (;; ++last) {
            if (last >= items)
                return failure(BadFragments,
                               QStringLiteral("cannot tell where frame %1 ends: no usable offset table, and no "
                                              "fragment from %2 on closes a codestream")
                                   .arg(frame + 1)
                                   .arg(first));
            const Uint8 *data = nullptr;
            Uint32 length = 0;
            const OFCondition cond = fragmentBytes(sequence, last, data, length);
            if (cond.bad())
                return cond;
            if (endsWithJpeg2000EndMarker(data, length))
                break;
        }
        if (frame == frameNo) {
            range = {first, last - first + 1};
            return EC_Normal;
        }
        first = last + 1;
    }
}

// Decodes one frame into `out` (attributes.frameBytes bytes, little-endian
// samples).
OFCondition decodeOneFrame(DcmPixelSequence &sequence, const ImageAttributes &attributes,
                           Uint32 frameNo, const FragmentRange &range, Uint8 *out)
{
    // One fragment is decoded where it lies; several are joined first, since
    // the codestream runs across their boundaries.
    std::vector<Uint8> joined;
    const Uint8 *data = nullptr;
    Uint32 length = 0;
    OFCondition cond = fragmentBytes(sequence, range.first, data, length);
    if (cond.bad())
        return cond;
    std::size_t size = length;
    if (range.count > 1) {
        joined.assign(data, data + length);
        for (Uint32 i = 1; i < range.count && cond.good(); ++i) {
            cond = fragmentBytes(sequence, range.first + i, data, length);
            if (cond.good())
                joined.insert(joined.end(), data, data + length);
        }
        if (cond.bad())
            return cond;
        data = joined.data();
        size = joined.size();
    }

    QString error;
    if (!decodeJpeg2000Frame(data, size, attributes.layout, out, &error))
        return failure(BadCodestream, QStringLiteral("JPEG 2000 frame %1 of %2: %3")
                                          .arg(frameNo + 1)
                                          .arg(attributes.frames)
                                          .arg(error));
    return EC_Normal;
}

} // namespace

DcmCodecParameter *Jpeg2000CodecParameter::clone() const
{
    return new Jpeg2000CodecParameter(*this);
}

const char *Jpeg2000CodecParameter::className() const
{
    return "Jpeg2000CodecParameter";
}

OFCondition Jpeg2000Decoder::decode(const DcmRepresentationParameter * /*fromRepParam*/,
                                    DcmPixelSequence *pixSeq,
                                    DcmPolymorphOBOW &uncompressedPixelData,
                                    const DcmCodecParameter * /*cp*/, const DcmStack &objStack,
                                    OFBool &removeOldRep) const
{
    DcmStack stack(objStack);
    (void)stack.pop(); // the Pixel Data element
    DcmObject *parent = stack.pop();
    if (pixSeq == nullptr || parent == nullptr
        || (parent->ident() != EVR_dataset && parent->ident() != EVR_item))
        return failure(BadAttributes, QStringLiteral("JPEG 2000 pixel data outside a dataset"));
    auto &item = *static_cast<DcmItem *>(parent);

    ImageAttributes attributes;
    OFCondition cond = readAttributes(item, attributes);
    if (cond.bad())
        return cond;

    const quint64 total = quint64(attributes.frameBytes) * attributes.frames;
    const quint64 padded = total + (total & 1);
    if (padded > 0xFFFFFFFEu)
        return failure(BadAttributes, QStringLiteral("decoded pixel data would exceed 4 GiB (%1 frames of %2 bytes)")
                                          .arg(attributes.frames)
                                          .arg(attributes.frameBytes));

    Uint16 *words = nullptr;
    cond = uncompressedPixelData.createUint16Array(Uint32(padded / 2), words);
    if (cond.bad())
        return cond;
    auto *bytes = reinterpret_cast<Uint8 *>(words);
    if (padded != total)
        bytes[total] = 0;

    Uint32 nextStart = 1;
    for (Uint32 frame = 0; frame < attributes.frames && cond.good(); ++frame) {
        FragmentRange range;
        cond = locateFrame(*pixSeq, attributes.frames, frame, nextStart, range);
        if (cond.good())
            cond = decodeOneFrame(*pixSeq, attributes, frame, range,
                                  bytes + std::size_t(frame) * attributes.frameBytes);
        nextStart = range.first + range.count;
    }
    if (cond.bad())
        return cond;
    // Samples were written little-endian; the element keeps its words in the
    // machine's order.
    cond = swapIfNecessary(gLocalByteOrder, EBO_LittleEndian, words, Uint32(padded), sizeof(Uint16));
    if (cond.bad())
        return cond;

    // The header follows the pixels only once all frames are decoded, so that
    // a failure leaves the dataset describing its compressed pixels.
    bool headerChanged = false;
    const OFString colorModel = decodedColorModel(attributes.photometric);
    if (colorModel != attributes.photometric) {
        cond = item.putAndInsertString(DCM_PhotometricInterpretation, colorModel.c_str());
        headerChanged = true;
    }
    Uint16 planar = 0;
    if (cond.good() && attributes.layout.samplesPerPixel > 1
        && (item.findAndGetUint16(DCM_PlanarConfiguration, planar).bad() || planar != 0)) {
        cond = item.putAndInsertUint16(DCM_PlanarConfiguration, 0);
        headerChanged = true;
    }
    // The compressed pixels no longer match a header that was changed.
    if (headerChanged)
        removeOldRep = OFTrue;
    return cond;
}

OFCondition Jpeg2000Decoder::decodeFrame(const DcmRepresentationParameter * /*fromParam*/,
                                         DcmPixelSequence *fromPixSeq,
                                         const DcmCodecParameter * /*cp*/, DcmItem *dataset,
                                         Uint32 frameNo, Uint32 &startFragment, void *buffer,
                                         Uint32 bufSize, OFString &decompressedColorModel) const
{
    if (fromPixSeq == nullptr || dataset == nullptr || buffer == nullptr)
        return EC_IllegalCall;
    ImageAttributes attributes;
    OFCondition cond = readAttributes(*dataset, attributes);
    if (cond.bad())
        return cond;
    if (attributes.frameBytes > bufSize)
        return failure(BadAttributes, QStringLiteral("frame buffer of %1 bytes for a %2-byte frame")
                                          .arg(bufSize)
                                          .arg(attributes.frameBytes));

    FragmentRange range;
    cond = locateFrame(*fromPixSeq, attributes.frames, frameNo, startFragment, range);
    if (cond.good())
        cond = decodeOneFrame(*fromPixSeq, attributes, frameNo, range, static_cast<Uint8 *>(buffer));
    if (cond.bad())
        return cond;

    // An odd-sized frame's last byte shares a word with the pad byte the
    // caller's buffer has room for.
    Uint32 swapped = Uint32(attributes.frameBytes);
    if ((swapped & 1) != 0 && swapped < bufSize)
        static_cast<Uint8 *>(buffer)[swapped++] = 0;
    cond = swapIfNecessary(gLocalByteOrder, EBO_LittleEndian, buffer, swapped & ~Uint32(1), sizeof(Uint16));
    if (cond.bad())
        return cond;

    startFragment = range.first + range.count;
    decompressedColorModel = decodedColorModel(attributes.photometric);
    return EC_Normal;
}

OFCondition Jpeg2000Decoder::encode(const Uint16 * /*pixelData*/, const Uint32 /*length*/,
                                    const DcmRepresentationParameter * /*toRepParam*/,
                                    DcmPixelSequence *& /*pixSeq*/, const DcmCodecParameter * /*cp*/,
                                    DcmStack & /*objStack*/, OFBool & /*removeOldRep*/) const
{
    return EC_IllegalCall;
}

OFCondition Jpeg2000Decoder::encode(const E_TransferSyntax /*fromRepType*/,
                                    const DcmRepresentationParameter * /*fromRepParam*/,
                                    DcmPixelSequence * /*fromPixSeq*/,
                                    const DcmRepresentationParameter * /*toRepParam*/,
                                    DcmPixelSequence *& /*toPixSeq*/, const DcmCodecParameter * /*cp*/,
                                    DcmStack & /*objStack*/, OFBool & /*removeOldRep*/) const
{
    return EC_IllegalCall;
}

OFBool Jpeg2000Decoder::canChangeCoding(const E_TransferSyntax oldRepType,
                                        const E_TransferSyntax newRepType) const
{
    return isJpeg2000(oldRepType) && DcmXfer(newRepType).isNotEncapsulated();
}

OFCondition Jpeg2000Decoder::determineDecompressedColorModel(
    const DcmRepresentationParameter * /*fromParam*/, DcmPixelSequence * /*fromPixSeq*/,
    const DcmCodecParameter * /*cp*/, DcmItem *dataset, OFString &decompressedColorModel) const
{
    if (dataset == nullptr)
        return EC_IllegalParameter;
    OFString photometric;
    if (dataset->findAndGetOFString(DCM_PhotometricInterpretation, photometric).bad())
        return failure(BadAttributes, QStringLiteral("JPEG 2000 pixel data without Photometric Interpretation"));
    decompressedColorModel = decodedColorModel(trimmed(photometric));
    return EC_Normal;
}

namespace {

std::unique_ptr<Jpeg2000Decoder> registeredDecoder;
std::unique_ptr<Jpeg2000CodecParameter> registeredParameter;

} // namespace

void Jpeg2000DecoderRegistration::registerCodecs()
{
    if (registeredDecoder)
        return;
    auto decoder = std::make_unique<Jpeg2000Decoder>();
    auto parameter = std::make_unique<Jpeg2000CodecParameter>();
    if (DcmCodecList::registerCodec(decoder.get(), nullptr, parameter.get()).good()) {
        registeredDecoder = std::move(decoder);
        registeredParameter = std::move(parameter);
    }
}

void Jpeg2000DecoderRegistration::cleanup()
{
    if (!registeredDecoder)
        return;
    DcmCodecList::deregisterCodec(registeredDecoder.get());
    registeredDecoder.reset();
    registeredParameter.reset();
}

} // namespace dicom::detail
