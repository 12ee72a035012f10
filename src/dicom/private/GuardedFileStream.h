#pragma once

// Internal to the dicom library: a file input stream for DCMTK's parser that
// bounds the item nesting of every byte before the parser receives it.

#include "NestingScan.h"

#include <dcmtk/dcmdata/dcistrma.h>

#include <QFile>
#include <QString>

namespace dicom::detail {

// The bytes of a file, the headers the parser reads scanned (NestingScan) a
// little ahead of it and handed out only while the depth stays within the
// limit. Values (pixel data above all) are not scanned, so the cost follows the
// structure DCMTK parses rather than the size of the file. Headers come from
// a small window read at a time, values straight from the file, and skipped
// values are never read: a summary reads about the bytes DCMTK itself would. Past the limit
// it reports an error and ends, before the parser has seen a level too deep.
class GuardedFileProducer : public DcmProducer
{
public:
    explicit GuardedFileProducer(int limit) : m_scan(limit) {}
    // Reads `file` of `size` bytes, whose first bytes `head` already holds.
    void attach(QFile *file, offile_off_t size, const QByteArray &head);

    OFBool good() const override;
    OFCondition status() const override;
    OFBool eos() override;
    offile_off_t avail() override;
    offile_off_t read(void *buf, offile_off_t buflen) override;
    offile_off_t skip(offile_off_t skiplen) override;
    void putback(offile_off_t num) override;

    bool tooDeep() const { return m_scan.exceeded(); }

private:
    void scanUpTo(offile_off_t end);
    // Makes the window hold [from, from + length); false on a read error.
    bool window(offile_off_t from, offile_off_t length);
    bool readAt(offile_off_t from, void *buf, offile_off_t length);

    QFile *m_file = nullptr;
    offile_off_t m_size = 0;
    QByteArray m_window;
    offile_off_t m_windowStart = 0;
    bool m_failed = false;
    offile_off_t m_position = 0;
    offile_off_t m_scanned = 0;
    NestingScan m_scan;
};

// DCMTK's file input stream with the producer above. Values left in the file
// (LoadMode::Lazy) are read later through DCMTK's own file stream.
class GuardedFileStream : public DcmInputStream
{
public:
    // Opens `path`; valid() tells whether that worked.
    GuardedFileStream(const QString &path, int limit);

    bool valid() const { return m_valid; }
    // True when the data set is deflated (or its meta information too long to
    // tell from the first window): its bytes reach the parser through an
    // inflater placed after this producer, where the scan cannot see them.
    bool deflated() const { return m_deflated; }
    bool tooDeep() const { return m_producer.tooDeep(); }

    DcmInputStreamFactory *newFactory() const override;

private:
    GuardedFileProducer m_producer;
    QString m_path;
    QFile m_file;
    bool m_valid = false;
    bool m_deflated = false;
};

} // namespace dicom::detail
