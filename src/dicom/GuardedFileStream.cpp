#include "GuardedFileStream.h"

#include <dcmtk/dcmdata/dcerror.h>
#include <dcmtk/dcmdata/dcistrmf.h>

#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace dicom::detail {

namespace {

// Bytes scanned beyond what the parser asked for: the parser reads a tag, a
// length, a short value at a time, and each scan call has a fixed cost.
constexpr offile_off_t scanAhead = 512;
// The parser reads element and item headers a few bytes at a time (a tag, a
// VR, a length) and a value in one read of its whole length. A longer read is
// a value: what the parser skips unread in the lazy mode it reads whole in the
// other, and neither is scanned, so both modes refuse the same files.
constexpr offile_off_t longestHeaderRead = 16;
// Bytes first read into the window: the headers of a typical image object.
constexpr offile_off_t headBytes = 16384;
// Bytes read into the window later, after a value: what DCMTK's own buffered
// reads fetch. A header between the fragments of a compressed loop costs one
// such read, not a read of the fragments around it.
constexpr offile_off_t windowBytes = 4096;
// Module numbers above 1023 are left to applications by DCMTK.
constexpr unsigned short conditionModule = 1202;

} // namespace

void GuardedFileProducer::attach(QFile *file, offile_off_t size, const QByteArray &head)
{
    m_file = file;
    m_size = size;
    m_window = head;
    m_windowStart = 0;
}

OFBool GuardedFileProducer::good() const
{
    return !m_scan.exceeded() && !m_failed;
}

OFCondition GuardedFileProducer::status() const
{
    if (m_scan.exceeded())
        return makeOFCondition(conditionModule, 2, OF_error, "item nesting too deep");
    return m_failed ? EC_InvalidStream : EC_Normal;
}

OFBool GuardedFileProducer::eos()
{
    return !good() || m_position >= m_size;
}

offile_off_t GuardedFileProducer::avail()
{
    return good() ? m_size - m_position : 0;
}

bool GuardedFileProducer::readAt(offile_off_t from, void *buf, offile_off_t length)
{
    if (m_file == nullptr || !m_file->seek(from) || m_file->read(static_cast<char *>(buf), length) != length) {
        m_failed = true;
        return false;
    }
    return true;
}

bool GuardedFileProducer::window(offile_off_t from, offile_off_t length)
{
    const offile_off_t windowEnd = m_windowStart + offile_off_t(m_window.size());
    if (from >= m_windowStart && from + length <= windowEnd)
        return true;
    const offile_off_t bytes = std::min(m_size - from, std::max(length, windowBytes));
    m_window.resize(qsizetype(bytes));
    m_windowStart = from;
    if (readAt(from, m_window.data(), bytes))
        return true;
    m_window.clear();
    return false;
}

offile_off_t GuardedFileProducer::read(void *buf, offile_off_t buflen)
{
    const offile_off_t count = std::min(buflen, avail());
    if (count <= 0)
        return 0;
    if (count > longestHeaderRead) {
        // A value: straight from the file, past the window.
        if (!readAt(m_position, buf, count))
            return 0;
    } else {
        scanUpTo(m_position + count);
        if (!good() || !window(m_position, count))
            return 0;
        std::memcpy(buf, m_window.constData() + (m_position - m_windowStart), std::size_t(count));
    }
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
    if (!window(m_scanned, to - m_scanned))
        return;
    m_scan.feed(m_window.constData() + (m_scanned - m_windowStart), std::size_t(to - m_scanned));
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
    if (!QFileInfo(path).isFile() || !m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return;
    const qint64 size = m_file.size();
    // The meta information says whether the data set is deflated; one too
    // long to tell from the first window counts as deflated.
    QByteArray head(qsizetype(std::min<qint64>(size, headBytes)), Qt::Uninitialized);
    if (m_file.read(head.data(), head.size()) != head.size())
        return;
    m_producer.attach(&m_file, offile_off_t(size), head);
    m_deflated = !datasetBytesPlain(reinterpret_cast<const uchar *>(head.constData()), std::size_t(head.size()));
    m_valid = true;
}

DcmInputStreamFactory *GuardedFileStream::newFactory() const
{
    return new DcmInputFileStreamFactory(OFFilename(QFile::encodeName(m_path).constData()), tell());
}

} // namespace dicom::detail
