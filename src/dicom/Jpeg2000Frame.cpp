#include "Jpeg2000Frame.h"

#include <openjpeg.h>

#include <QStringList>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace dicom::detail {

namespace {

struct CodecDeleter
{
    void operator()(opj_codec_t *codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter
{
    void operator()(opj_stream_t *stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter
{
    void operator()(opj_image_t *image) const { opj_image_destroy(image); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;
struct InfoDeleter
{
    void operator()(opj_codestream_info_v2_t *info) const { opj_destroy_cstr_info(&info); }
};
using InfoPtr = std::unique_ptr<opj_codestream_info_v2_t, InfoDeleter>;

// A raw codestream starts with SOC immediately followed by SIZ.
constexpr std::uint8_t rawSignature[] = {0xFF, 0x4F, 0xFF, 0x51};
// A JP2 file starts with its 12-byte signature box.
constexpr std::uint8_t jp2Signature[] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                         0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};

bool startsWith(const std::uint8_t *data, std::size_t size, const std::uint8_t *prefix,
                std::size_t prefixSize)
{
    return size >= prefixSize && std::memcmp(data, prefix, prefixSize) == 0;
}

// The read position in the caller's buffer. OpenJPEG pulls through the three
// callbacks below and never sees the buffer itself, so every bound is checked
// here.
struct MemoryReader
{
    const std::uint8_t *data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

OPJ_SIZE_T readMemory(void *buffer, OPJ_SIZE_T wanted, void *user)
{
    auto *reader = static_cast<MemoryReader *>(user);
    if (reader->position >= reader->size)
        return static_cast<OPJ_SIZE_T>(-1); // end of stream
    const std::size_t n = std::min<std::size_t>(wanted, reader->size - reader->position);
    std::memcpy(buffer, reader->data + reader->position, n);
    reader->position += n;
    return n;
}

OPJ_OFF_T skipMemory(OPJ_OFF_T count, void *user)
{
    auto *reader = static_cast<MemoryReader *>(user);
    if (count < 0) {
        const auto back = static_cast<std::size_t>(-count);
        if (back > reader->position)
            return -1;
        reader->position -= back;
        return count;
    }
    // OpenJPEG repeats a skip until the whole count is done; at the end it
    // must hear -1, since a skip of 0 would have it ask forever.
    if (reader->position >= reader->size)
        return -1;
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(count), reader->size - reader->position);
    reader->position += n;
    return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL seekMemory(OPJ_OFF_T offset, void *user)
{
    auto *reader = static_cast<MemoryReader *>(user);
    if (offset < 0 || static_cast<std::size_t>(offset) > reader->size)
        return OPJ_FALSE;
    reader->position = static_cast<std::size_t>(offset);
    return OPJ_TRUE;
}

void collectMessage(const char *message, void *user)
{
    auto *messages = static_cast<QStringList *>(user);
    const QString text = QString::fromUtf8(message).trimmed();
    // A broken codestream can make the decoder repeat itself per code block.
    if (!text.isEmpty() && messages->size() < 4 && !messages->contains(text))
        messages->append(text);
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

std::uint32_t bigEndian16(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 8 | p[1];
}

std::uint64_t bigEndian32(const std::uint8_t *p)
{
    return std::uint64_t(p[0]) << 24 | std::uint64_t(p[1]) << 16 | std::uint64_t(p[2]) << 8 | p[3];
}

// The codestream inside a JP2 file: the contents of its 'jp2c' box.
bool findJp2Codestream(const std::uint8_t *data, std::size_t size, std::size_t &begin,
                       std::size_t &end)
{
    std::size_t position = 0;
    while (size - position >= 8) {
        std::uint64_t length = bigEndian32(data + position);
        std::size_t header = 8;
        if (length == 1) { // 64-bit length follows the type
            if (size - position < 16)
                return false;
            length = bigEndian32(data + position + 8) << 32 | bigEndian32(data + position + 12);
            header = 16;
        } else if (length == 0) { // box runs to the end of the file
            length = size - position;
        }
        if (length < header || length > size - position)
            return false;
        if (std::memcmp(data + position + 4, "jp2c", 4) == 0) {
            begin = position + header;
            end = position + std::size_t(length);
            return true;
        }
        position += std::size_t(length);
    }
    return false;
}

// OpenJPEG, strict or not, decodes a codestream that stops at a tile-part
// boundary without complaint and leaves the missing tiles empty; a transfer
// cut short after a fragment does exactly that. Every tile has at least one
// tile-part, and a tile-part that gives the count of its tile's parts lets us
// check for all of them, so walk the tile-part headers and count.
bool checkAllTilesPresent(const std::uint8_t *data, std::size_t size, std::size_t tiles,
                          QString *error)
{
    std::size_t position = 2; // after SOC
    // Main header: marker segments up to the first SOT.
    while (true) {
        if (size - position < 4 || data[position] != 0xFF)
            return fail(error, QStringLiteral("main header ends unexpectedly"));
        if (data[position + 1] == 0x90)
            break;
        position += 2 + bigEndian16(data + position + 2);
        if (position > size)
            return fail(error, QStringLiteral("main header ends unexpectedly"));
    }

    std::vector<std::uint32_t> partsFound(tiles, 0);
    std::vector<std::uint32_t> partsDeclared(tiles, 0);
    std::size_t openEnded = tiles; // a tile whose last part runs to the end
    while (size - position >= 12 && data[position] == 0xFF && data[position + 1] == 0x90) {
        const std::uint32_t tile = bigEndian16(data + position + 4);
        const std::uint64_t length = bigEndian32(data + position + 6);
        if (tile >= tiles)
            return fail(error, QStringLiteral("tile-part for tile %1 in an image of %2 tiles").arg(tile).arg(tiles));
        ++partsFound[tile];
        partsDeclared[tile] = std::max<std::uint32_t>(partsDeclared[tile], data[position + 11]);
        if (length == 0) {
            openEnded = tile;
            break;
        }
        if (length < 14 || length > size - position)
            return fail(error, QStringLiteral("tile-part of tile %1 runs past the end of the data").arg(tile));
        position += std::size_t(length);
    }

    std::size_t missingTiles = 0, shortTiles = 0;
    for (std::size_t t = 0; t < tiles; ++t) {
        if (partsFound[t] == 0)
            ++missingTiles;
        else if (t != openEnded && partsFound[t] < partsDeclared[t])
            ++shortTiles;
    }
    if (missingTiles > 0 || shortTiles > 0)
        return fail(error, QStringLiteral("codestream is incomplete: %1 of %2 tiles missing, "
                                          "%3 more lack tile-parts")
                               .arg(missingTiles)
                               .arg(tiles)
                               .arg(shortTiles));
    return true;
}

QString decoderFailure(const QString &what, const QStringList &messages)
{
    return messages.isEmpty() ? what : what + QStringLiteral(": ") + messages.join(QStringLiteral("; "));
}

} // namespace

std::size_t jpeg2000FrameBytes(const Jpeg2000FrameLayout &layout)
{
    return static_cast<std::size_t>(layout.rows) * static_cast<std::size_t>(layout.columns)
        * static_cast<std::size_t>(layout.samplesPerPixel)
        * static_cast<std::size_t>(layout.bitsAllocated / 8);
}

bool endsWithJpeg2000EndMarker(const std::uint8_t *data, std::size_t size)
{
    if (size >= 2 && data[size - 2] == 0xFF && data[size - 1] == 0xD9)
        return true;
    return size >= 3 && data[size - 3] == 0xFF && data[size - 2] == 0xD9 && data[size - 1] == 0x00;
}

bool decodeJpeg2000Frame(const std::uint8_t *data, std::size_t size,
                         const Jpeg2000FrameLayout &layout, std::uint8_t *out, QString *error)
{
    if (layout.rows <= 0 || layout.columns <= 0
        || (layout.samplesPerPixel != 1 && layout.samplesPerPixel != 3)
        || (layout.bitsAllocated != 8 && layout.bitsAllocated != 16))
        return fail(error, QStringLiteral("unsupported image layout: %1 x %2, %3 samples, %4 bits allocated")
                               .arg(layout.rows)
                               .arg(layout.columns)
                               .arg(layout.samplesPerPixel)
                               .arg(layout.bitsAllocated));

    OPJ_CODEC_FORMAT format;
    if (startsWith(data, size, rawSignature, sizeof rawSignature))
        format = OPJ_CODEC_J2K;
    else if (startsWith(data, size, jp2Signature, sizeof jp2Signature))
        format = OPJ_CODEC_JP2;
    else
        return fail(error, QStringLiteral("not a JPEG 2000 codestream (%1 bytes starting with %2)")
                               .arg(size)
                               .arg(QString::fromLatin1(
                                   QByteArray(reinterpret_cast<const char *>(data),
                                              qsizetype(std::min<std::size_t>(size, 4)))
                                       .toHex(' '))));

    QStringList messages;
    const CodecPtr codec(opj_create_decompress(format));
    if (!codec)
        return fail(error, QStringLiteral("cannot create a JPEG 2000 decoder"));
    opj_set_error_handler(codec.get(), collectMessage, &messages);

    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters))
        return fail(error, decoderFailure(QStringLiteral("cannot set up the JPEG 2000 decoder"), messages));
    // Without strict mode a truncated codestream decodes "successfully" into
    // an image whose missing part is simply blurred or grey.
    opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE);

    MemoryReader reader{data, size, 0};
    const StreamPtr stream(
        opj_stream_create(std::min<std::size_t>(size, OPJ_J2K_STREAM_CHUNK_SIZE), OPJ_TRUE));
    if (!stream)
        return fail(error, QStringLiteral("cannot create a JPEG 2000 input stream"));
    opj_stream_set_user_data(stream.get(), &reader, nullptr);
    opj_stream_set_user_data_length(stream.get(), size);
    opj_stream_set_read_function(stream.get(), readMemory);
    opj_stream_set_skip_function(stream.get(), skipMemory);
    opj_stream_set_seek_function(stream.get(), seekMemory);

    opj_image_t *header = nullptr;
    const bool headerRead = opj_read_header(stream.get(), codec.get(), &header);
    const ImagePtr image(header);
    if (!headerRead || !image)
        return fail(error, decoderFailure(QStringLiteral("unreadable header"), messages));

    // Checked before decoding, so that a header claiming a huge image costs
    // nothing: the dataset's size is the one the caller has room for.
    const auto width = qint64(image->x1) - qint64(image->x0);
    const auto height = qint64(image->y1) - qint64(image->y0);
    if (width != layout.columns || height != layout.rows)
        return fail(error, QStringLiteral("codestream is %1 x %2 pixels, the dataset says %3 x %4")
                               .arg(width)
                               .arg(height)
                               .arg(layout.columns)
                               .arg(layout.rows));
    // A JP2 palette may still turn one component into three.
    if (image->numcomps == 0 || image->numcomps > OPJ_UINT32(layout.samplesPerPixel))
        return fail(error, QStringLiteral("codestream has %1 components, the dataset says %2 samples per pixel")
                               .arg(image->numcomps)
                               .arg(layout.samplesPerPixel));

    const InfoPtr info(opj_get_cstr_info(codec.get()));
    if (!info)
        return fail(error, decoderFailure(QStringLiteral("unreadable header"), messages));
    std::size_t codestreamBegin = 0, codestreamEnd = size;
    if (format == OPJ_CODEC_JP2 && !findJp2Codestream(data, size, codestreamBegin, codestreamEnd))
        return fail(error, QStringLiteral("JP2 file without a complete codestream box"));
    if (!checkAllTilesPresent(data + codestreamBegin, codestreamEnd - codestreamBegin,
                              std::size_t(info->tw) * std::size_t(info->th), error))
        return false;

    if (!opj_decode(codec.get(), stream.get(), image.get())
        || !opj_end_decompress(codec.get(), stream.get()))
        return fail(error, decoderFailure(QStringLiteral("decoding failed"), messages));

    if (image->numcomps != OPJ_UINT32(layout.samplesPerPixel))
        return fail(error, QStringLiteral("decoded image has %1 components, the dataset says %2 samples per pixel")
                               .arg(image->numcomps)
                               .arg(layout.samplesPerPixel));
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c) {
        const opj_image_comp_t &comp = image->comps[c];
        if (comp.data == nullptr || comp.dx != 1 || comp.dy != 1 || comp.factor != 0
            || comp.w != OPJ_UINT32(layout.columns) || comp.h != OPJ_UINT32(layout.rows))
            return fail(error, QStringLiteral("component %1 is %2 x %3 with subsampling %4 x %5; "
                                              "only full-size components are supported")
                                   .arg(c)
                                   .arg(comp.w)
                                   .arg(comp.h)
                                   .arg(comp.dx)
                                   .arg(comp.dy));
        if (comp.prec < 1 || comp.prec > OPJ_UINT32(layout.bitsAllocated))
            return fail(error, QStringLiteral("component %1 has %2-bit samples, more than %3 bits allocated")
                                   .arg(c)
                                   .arg(comp.prec)
                                   .arg(layout.bitsAllocated));
    }

    const std::size_t pixels = std::size_t(layout.rows) * std::size_t(layout.columns);
    const int samples = layout.samplesPerPixel;
    const int bytes = layout.bitsAllocated / 8;
    for (int c = 0; c < samples; ++c) {
        const opj_image_comp_t &comp = image->comps[c];
        const qint64 full = qint64(1) << comp.prec;
        const qint64 half = full / 2;
        // Some writers mark the codestream unsigned while the dataset's Pixel
        // Representation says signed, or the other way round. The dataset
        // decides, as it does for every other reader of the pixels: the
        // same bits are read as the other kind of number.
        const bool toSigned = layout.signedSamples && !comp.sgnd;
        const bool toUnsigned = !layout.signedSamples && comp.sgnd;
        std::uint8_t *target = out + std::size_t(c) * std::size_t(bytes);
        const std::size_t stride = std::size_t(samples) * std::size_t(bytes);
        for (std::size_t i = 0; i < pixels; ++i, target += stride) {
            qint64 value = comp.data[i];
            if (toSigned && value >= half)
                value -= full;
            else if (toUnsigned && value < 0)
                value += full;
            const auto bits = static_cast<std::uint32_t>(value);
            target[0] = static_cast<std::uint8_t>(bits & 0xFF);
            if (bytes == 2)
                target[1] = static_cast<std::uint8_t>((bits >> 8) & 0xFF);
        }
    }
    return true;
}

} // namespace dicom::detail
