#include "dicom/DatasetEditor.h"

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpath.h>

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

bool setValues(const QString &path, const QStringList &assignments)
{
    bool applied = true;
    const bool saved = editDataset(path, [&](DcmDataset &ds) {
        for (const QString &assignment : assignments) {
            const QByteArray text = assignment.toUtf8();
            DcmPathProcessor processor;
            Uint32 deleted = 0;
            if (text.endsWith('='))
                processor.findOrDeletePath(&ds, text.chopped(1).constData(), deleted); // absent is fine too
            else
                applied = processor.applyPathWithValue(&ds, text.constData()).good() && applied;
        }
    });
    return applied && saved;
}

} // namespace velmaris::testing
