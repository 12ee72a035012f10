#include "dicom/GuardedFileStream.h"

#include <dcmtk/dcmdata/dcerror.h>
#include <dcmtk/dcmdata/dcistrmf.h>

#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace dicom::detail {

namespace {

// Bytes scanned beyond what the parser asked for: the parser reads a tag, a
// length, a short value at a time, and each scan call has a fixed cost.
constexpr offile_off_t scanAhead = 4096;
// The parser reads element and item headers a few bytes at a time (a tag, a
// VR, a length) and a value in one read of its whole length. A longer read is
// a value: what the parser skips unread in the lazy mode it reads whole in the
// other, and neither is scanned, so both modes refuse the same files.
constexpr offile_off_t longestHeaderRead = 16;
// Module numbers above 1023 are left to applications by DCMTK.
constexpr unsigned short conditionModule = 1202;

} // namespace

void GuardedFileProducer::attach(const uchar *data, offile_off_t size)
{
    m_data = data;
    m_size = size;
}

OFBool GuardedFileProducer::good() const
{
    return !m_scan.exceeded();
}

OFCondition GuardedFileProducer::status() const
{
    return m_scan.exceeded() ? makeOFCondition(conditionModule, 2, OF_error, "item nesting too deep") : EC_Normal;
}

OFBool GuardedFileProducer::eos()
{
    return m_scan.exceeded() || m_position >= m_size;
}

offile_off_t GuardedFileProducer::avail()
{
    return m_scan.exceeded() ? 0 : m_size - m_position;
}

offile_off_t GuardedFileProducer::read(void *buf, offile_off_t buflen)
{
    const offile_off_t count = std::min(buflen, avail());
    if (count <= 0)
        return 0;
    if (count <= longestHeaderRead)
        scanUpTo(m_position + count);
    if (m_scan.exceeded())
        return 0;
    std::memcpy(buf, m_data + m_position, std::size_t(count));
    m_position += count;
    return count;
}

offile_off_t GuardedFileProducer::skip(offile_off_t skiplen)
{
    const offile_off_t count = std::clamp<offile_off_t>(skiplen, 0, avail());
    m_position += count;
    return count;
}

void GuardedFileProducer::putback(offile_off_t num)
{
    m_position -= std::clamp<offile_off_t>(num, 0, m_position);
}

void GuardedFileProducer::scanUpTo(offile_off_t end)
{
    if (end <= m_scanned)
        return;
    // A value lies between the bytes scanned and those the parser asks for
    // now: its bytes are never parsed.
    if (m_position > m_scanned) {
        m_scan.skip(std::size_t(m_position - m_scanned));
        m_scanned = m_position;
    }
    const offile_off_t to = std::min(m_size, std::max(end, m_scanned + scanAhead));
    m_scan.feed(reinterpret_cast<const char *>(m_data + m_scanned), std::size_t(to - m_scanned));
    m_scanned = to;
    if (m_scanned == m_size)
        m_scan.finish();
}

GuardedFileStream::GuardedFileStream(const QString &path, int limit)
    : DcmInputStream(&m_producer) // DCMTK's own file stream hands its member over the same way
    , m_producer(limit)
    , m_path(path)
    , m_file(path)
{
    // Only regular files: opening a named pipe would block.
    if (!QFileInfo(path).isFile() || !m_file.open(QIODevice::ReadOnly))
        return;
    const qint64 size = m_file.size();
    static const uchar nothing = 0;
    const uchar *data = size > 0 ? m_file.map(0, size) : &nothing;
    if (data == nullptr)
        return;
    m_producer.attach(data, offile_off_t(size));
    m_deflated = deflatedDataset(data, std::size_t(size));
    m_valid = true;
}

DcmInputStreamFactory *GuardedFileStream::newFactory() const
{
    return new DcmInputFileStreamFactory(OFFilename(QFile::encodeName(m_path).constData()), tell());
}

} // namespace dicom::detail
