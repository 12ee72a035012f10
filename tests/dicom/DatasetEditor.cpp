#include "dicom/DatasetEditor.h"

#include <dcmtk/dcmdata/dcfilefo.h>

#include <QFile>

namespace velmaris::testing {

bool editDataset(const QString &path, const std::function<void(DcmDataset &)> &edit)
{
    DcmFileFormat file;
    const QByteArray name = QFile::encodeName(path);
    if (file.loadFile(name.constData()).bad())
        return false;
    file.loadAllDataIntoMemory();
    DcmDataset &ds = *file.getDataset();
    edit(ds);
    return file.saveFile(name.constData(), ds.getOriginalXfer()).good();
}

} // namespace velmaris::testing
