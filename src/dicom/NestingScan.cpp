#include "NestingScan.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace dicom::detail {

namespace {

constexpr char deflatedSyntax[] = "1.2.840.10008.1.2.1.99";
constexpr std::size_t inflateBlock = 65536;

quint32 readLittle32(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 readLittle16(const uchar *p)
{
    return quint16(p[0] | p[1] << 8);
}

// Where the dataset of a Part 10 file starts and whether it is deflated: the
// meta information group (0002) is always explicit VR little endian.
struct MetaHeader
{
    std::size_t datasetStart = 0;
    bool deflated = false;
    // The bytes held the whole group and the start of what follows it.
    bool complete = false;
};

MetaHeader readMetaHeader(const uchar *data, std::size_t size)
{
    MetaHeader meta;
    if (size < 132 || std::memcmp(data + 128, "DICM", 4) != 0) {
        // No meta information: nothing says deflated.
        meta.complete = true;
        return meta;
    }
    std::size_t at = 132;
    while (at + 8 <= size && readLittle16(data + at) == 0x0002) {
        const quint16 element = readLittle16(data + at + 2);
        const char vr[2] = {char(data[at + 4]), char(data[at + 5])};
        const bool longForm = (vr[0] == 'O' && (vr[1] == 'B' || vr[1] == 'W' || vr[1] == 'F'))
                              || (vr[0] == 'S' && vr[1] == 'Q') || (vr[0] == 'U' && (vr[1] == 'T' || vr[1] == 'N'));
        std::size_t valueStart = at + 8;
        quint64 length = readLittle16(data + at + 6);
        if (longForm) {
            if (at + 12 > size)
                break;
            length = readLittle32(data + at + 8);
            valueStart = at + 12;
        }
        if (length == 0xFFFFFFFFu || valueStart + length > size)
            break;
        if (element == 0x0010) {
            QByteArray syntax(reinterpret_cast<const char *>(data + valueStart), qsizetype(length));
            while (!syntax.isEmpty() && (syntax.endsWith('\0') || syntax.endsWith(' ')))
                syntax.chop(1);
            meta.deflated = syntax == deflatedSyntax;
        }
        at = valueStart + std::size_t(length);
    }
    meta.datasetStart = at;
    meta.complete = at + 8 <= size && readLittle16(data + at) != 0x0002;
    return meta;
}

struct InflateEnd
{
    void operator()(z_stream *stream) const
    {
        inflateEnd(stream);
        delete stream;
    }
};

// Feeds the inflated dataset to the scan; false when the data does not
// inflate (the raw bytes are then counted instead).
bool scanInflated(NestingScan &scan, const uchar *data, std::size_t size)
{
    std::unique_ptr<z_stream, InflateEnd> stream(new z_stream{});
    // Raw deflate, no zlib header: the transfer syntax's own encoding.
    if (inflateInit2(stream.get(), -MAX_WBITS) != Z_OK)
        return false;
    std::vector<char> out(inflateBlock);
    std::size_t consumed = 0;
    while (!scan.exceeded()) {
        const std::size_t chunk = std::min<std::size_t>(size - consumed, 1u << 30);
        stream->next_in = const_cast<uchar *>(data + consumed);
        stream->avail_in = uInt(chunk);
        stream->next_out = reinterpret_cast<Bytef *>(out.data());
        stream->avail_out = uInt(out.size());
        const int status = inflate(stream.get(), Z_NO_FLUSH);
        consumed += chunk - stream->avail_in;
        const std::size_t produced = out.size() - stream->avail_out;
        scan.feed(out.data(), produced);
        if (status == Z_STREAM_END)
            return true;
        if (status != Z_OK && status != Z_BUF_ERROR)
            return false;
        if (produced == 0 && consumed >= size)
            return true; // the stream ends early: what came out has been counted
    }
    return true;
}

} // namespace

void NestingScan::feed(const char *data, std::size_t size)
{
    if (exceeded() || size == 0)
        return;
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    const std::uint64_t base = m_fed;
    m_fed += size;
    if (!m_pending.isEmpty()) {
        // The tail of the last piece with the start of this one: enough to
        // settle every tag that began in the tail. Only those bytes are
        // copied; the rest of the piece is scanned where it lies.
        const std::size_t head = std::min<std::size_t>(size, 16);
        m_pending.append(data, qsizetype(head));
        scan(reinterpret_cast<const uchar *>(m_pending.constData()), std::size_t(m_pending.size()),
             m_pendingStart, false);
        if (head == size || exceeded()) {
            keepTail(reinterpret_cast<const uchar *>(m_pending.constData()), std::size_t(m_pending.size()),
                     m_pendingStart);
            return;
        }
        m_pending.clear();
    }
    scan(bytes, size, base, false);
    if (!exceeded())
        keepTail(bytes, size, base);
}

void NestingScan::skip(std::size_t size)
{
    if (exceeded() || size == 0)
        return;
    m_fed += size;
    m_next = m_fed;
    m_pending.clear();
    m_pendingStart = m_fed;
}

void NestingScan::finish()
{
    if (!exceeded() && !m_pending.isEmpty())
        scan(reinterpret_cast<const uchar *>(m_pending.constData()), std::size_t(m_pending.size()), m_pendingStart,
             true);
    m_pending.clear();
}

void NestingScan::keepTail(const uchar *data, std::size_t size, std::uint64_t base)
{
    // The bytes from three before the next one to examine: the start of a tag
    // whose 0xE0 byte comes next.
    const std::uint64_t from = std::max(base, m_next >= 3 ? m_next - 3 : 0);
    const std::uint64_t end = base + size;
    QByteArray tail;
    if (from < end)
        tail = QByteArray(reinterpret_cast<const char *>(data + (from - base)), qsizetype(end - from));
    m_pending = tail;
    m_pendingStart = from;
}

void NestingScan::scan(const uchar *data, std::size_t n, std::uint64_t base, bool final)
{
    std::size_t from = m_next > base ? std::size_t(m_next - base) : 0;
    while (from < n) {
        const auto *hit = static_cast<const uchar *>(std::memchr(data + from, 0xE0, n - from));
        if (hit == nullptr)
            break;
        const auto at = std::size_t(hit - data);
        // A tag whose remaining bytes (the big-endian form's last byte, the
        // length) have not arrived yet waits for the next piece.
        if (!final && at + 8 > n) {
            m_next = base + at;
            return;
        }
        from = at + 1;
        std::size_t tag = 0;
        bool bigEndian = false;
        uchar kind = 0;
        if (at >= 3 && data[at - 3] == 0xFE && data[at - 2] == 0xFF && (data[at - 1] == 0x00 || data[at - 1] == 0x0D)) {
            tag = at - 3;
            kind = data[at - 1];
        } else if (at >= 2 && at + 1 < n && data[at - 2] == 0xFF && data[at - 1] == 0xFE
                   && (data[at + 1] == 0x00 || data[at + 1] == 0x0D)) {
            tag = at - 2;
            kind = data[at + 1];
            bigEndian = true;
        } else {
            continue;
        }
        const std::uint64_t position = base + tag;
        while (!m_definedEnds.empty() && m_definedEnds.top() <= position)
            m_definedEnds.pop();
        if (kind == 0x0D) {
            if (m_openUndefined > 0)
                --m_openUndefined;
            continue;
        }
        if (tag + 8 > n)
            break; // final: a tag cut off at the very end
        const uchar *l = data + tag + 4;
        const quint32 length = bigEndian ? (quint32(l[0]) << 24 | quint32(l[1]) << 16 | quint32(l[2]) << 8 | quint32(l[3]))
                                         : readLittle32(l);
        if (length == 0xFFFFFFFFu)
            ++m_openUndefined;
        else
            m_definedEnds.push(position + 8 + length);
        m_deepest = std::max(m_deepest, int(std::min<std::size_t>(m_openUndefined + m_definedEnds.size(), 1u << 30)));
        if (exceeded())
            return;
    }
    m_next = base + n;
}

bool datasetBytesPlain(const uchar *data, std::size_t size)
{
    const MetaHeader meta = readMetaHeader(data, size);
    return meta.complete && !meta.deflated;
}

int itemNestingDepth(const QString &path, int limit)
{
    QFile file(path);
    // Only regular files: opening a named pipe would block.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return 0; // the loader will report the file itself
    const qint64 size = file.size();
    if (size < 16)
        return 0;
    const uchar *data = file.map(0, size);
    if (data == nullptr)
        return 0;
    const auto n = std::size_t(size);

    NestingScan scan(limit);
    const MetaHeader meta = readMetaHeader(data, n);
    if (meta.deflated && meta.datasetStart < n) {
        scan.feed(reinterpret_cast<const char *>(data), meta.datasetStart);
        NestingScan inflated = scan;
        if (scanInflated(inflated, data + meta.datasetStart, n - meta.datasetStart)) {
            inflated.finish();
            return inflated.deepest();
        }
        scan.feed(reinterpret_cast<const char *>(data + meta.datasetStart), n - meta.datasetStart);
    } else {
        scan.feed(reinterpret_cast<const char *>(data), n);
    }
    scan.finish();
    return scan.deepest();
}

} // namespace dicom::detail
