#pragma once

#include <dcmtk/dcmdata/dcfilefo.h>

#include <QFile>
#include <QList>
#include <QPair>
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

// A copy of `source` with other values for some attributes.
inline bool writeVariant(const QString &source, const QString &target, const QList<QPair<DcmTagKey, QString>> &values)
{
    DcmFileFormat file;
    if (file.loadFile(OFFilename(QFile::encodeName(source).constData())).bad())
        return false;
    for (const auto &[tag, value] : values)
        file.getDataset()->putAndInsertString(tag, value.toUtf8().constData());
    return file.saveFile(OFFilename(QFile::encodeName(target).constData()), EXS_Unknown).good();
}

} // namespace velmaris::testing
