#pragma once

#include "dicom/DicomFileSummary.h"

#include <QObject>
#include <QString>

namespace dicom {

// Walks a folder on the thread it lives in and reports one summary per usable
// DICOM file. One instance serves one import; it keeps no state of its own.
class DicomImporter : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

public slots:
    void importDirectory(const QString &directoryPath);

signals:
    void progress(int filesScanned, int dicomFilesFound);
    void fileFound(const dicom::DicomFileSummary &summary);
    void finished(int totalImported, int totalSkipped);
    void errorOccurred(const QString &message);
};

} // namespace dicom
