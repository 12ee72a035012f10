#pragma once

// Internal to the dicom library: the guard that keeps DCMTK's recursive parser
// away from files nested deep enough to overflow the stack.

#include <QByteArray>
#include <QtGlobal>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <queue>
#include <vector>

namespace dicom::detail {

// Counts sequence item nesting in a byte stream fed in pieces of any size:
// item tags (FFFE,E000) and item delimiters (FFFE,E00D), little or big
// endian, with the items' defined lengths. A match inside a value only
// over-estimates the depth, so the bound is safe.
class NestingScan
{
public:
    explicit NestingScan(int limit) : m_limit(limit) {}

    void feed(const char *data, std::size_t size);
    // The next `size` bytes of the stream are passed over unseen: a value the
    // parser skips without reading. A tag cut off before them cannot continue
    // in them, so what the last piece left open is dropped.
    void skip(std::size_t size);
    // No more bytes: examines what the last piece left open.
    void finish();

    int deepest() const { return m_deepest; }
    bool exceeded() const { return m_deepest > m_limit; }

private:
    // Examines the 0xE0 bytes of data (stream offsets base …) from m_next on.
    void scan(const uchar *data, std::size_t n, std::uint64_t base, bool final);
    void keepTail(const uchar *data, std::size_t n, std::uint64_t base);

    int m_limit;
    int m_deepest = 0;
    std::size_t m_openUndefined = 0;
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> m_definedEnds;
    QByteArray m_pending;             // a few bytes left from the last piece
    std::uint64_t m_pendingStart = 0; // stream offset of m_pending[0]
    std::uint64_t m_next = 0;         // stream offset of the next byte to examine
    std::uint64_t m_fed = 0;          // bytes fed so far
};

// An upper bound of the item nesting depth of a file; stops counting once past
// `limit`. A dataset in the deflated transfer syntax is inflated for the count
// (its tags are invisible in the compressed bytes); data that does not inflate
// is counted as it stands, and DCMTK then reports the damage itself.
int itemNestingDepth(const QString &path, int limit);

// True when the data set's tags lie in the file as the parser reads them: the
// bytes given (the start of the file) hold no meta information, or all of it
// and it names a transfer syntax other than the deflated one, whose tags are
// only seen once inflated.
bool datasetBytesPlain(const uchar *data, std::size_t size);

} // namespace dicom::detail
