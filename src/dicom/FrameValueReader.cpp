#include "dicom/FrameValueReader.h"

#include "DcmtkSupport.h"
#include "FrameValueDecoding.h"

namespace dicom {

FrameValueReader::FrameValueReader() = default;
FrameValueReader::~FrameValueReader() = default;

bool FrameValueReader::read(DecodedFrame &out, const QString &path, int frameIndex, QString *error)
{
    if (!m_file || m_path != path) {
        m_file.reset();
        m_path.clear();
        QString condition;
        std::unique_ptr<DcmFileFormat> loaded = detail::loadFile(path, detail::LoadMode::Whole, &condition);
        if (!loaded) {
            out.ok = false;
            out.width = 0;
            out.height = 0;
            out.values.clear();
            out.error = QStringLiteral("loadFile: %1").arg(condition);
            if (error)
                *error = out.error;
            return false;
        }
        m_file = std::move(loaded);
        m_path = path;
    }
    return detail::decodeFrameValues(*m_file, path, frameIndex, out, error);
}

} // namespace dicom
