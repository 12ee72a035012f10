#pragma once

#include <dcmtk/dcmdata/dcfilefo.h>

#include <QFile>
#include <QString>

namespace velmaris::testing {

// An attribute of a file as DCMTK reads it (all values joined by "\"), and
// the transfer syntax the file is in; empty when the file does not load.
inline QString dicomFileValue(const QString &path, const DcmTagKey &tag, E_TransferSyntax *xfer = nullptr)
{
    DcmFileFormat file;
    if (file.loadFile(OFFilename(QFile::encodeName(path).constData())).bad())
        return {};
    if (xfer)
        *xfer = file.getDataset()->getOriginalXfer();
    OFString value;
    file.getDataset()->findAndGetOFStringArray(tag, value);
    return QString::fromUtf8(value.c_str());
}

} // namespace velmaris::testing
