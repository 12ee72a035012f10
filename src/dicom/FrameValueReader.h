#pragma once

#include "dicom/FrameDecoding.h"

#include <QString>

#include <memory>

class DcmFileFormat;

namespace dicom {

// The value decoder of loadDecodedFrame without its process-wide lock and
// cache: a reader keeps its own last parsed file, so a multi-frame file is
// parsed once per reader, and readers on different threads decode at the same
// time. A volume build gives each of its loading threads one reader; it never
// touches (or evicts) the file the viewer's decoder holds.
//
// One reader serves one thread at a time. Results, messages and limits are
// those of loadDecodedFrame.
class FrameValueReader
{
public:
    FrameValueReader();
    ~FrameValueReader();
    FrameValueReader(const FrameValueReader &) = delete;
    FrameValueReader &operator=(const FrameValueReader &) = delete;

    // Reads frame `frameIndex` (clamped to the file's frames) into `out`,
    // reusing its value buffer.
    bool read(DecodedFrame &out, const QString &path, int frameIndex, QString *error = nullptr);

private:
    std::unique_ptr<DcmFileFormat> m_file;
    QString m_path;
};

} // namespace dicom
