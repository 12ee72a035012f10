#include "dicom/DcmtkAccess.h"

#include "DcmtkSupport.h"

namespace dicom {

void prepareDcmtkLibrary()
{
    detail::prepareDcmtk();
}

std::unique_ptr<DcmFileFormat> loadDcmtkFile(const QString &path, QString *conditionText)
{
    return detail::loadFile(path, detail::LoadMode::Lazy, conditionText);
}

QString dcmtkText(DcmItem &item, const DcmTagKey &tag)
{
    return detail::text(item, tag);
}

} // namespace dicom
