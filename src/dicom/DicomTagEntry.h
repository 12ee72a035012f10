#pragma once

#include <QList>
#include <QString>

namespace dicom {

// One row of the tag editor.
struct DicomTagEntry
{
    quint16 group = 0;
    quint16 element = 0;
    QString name; // dictionary name
    QString vr;   // two-letter VR name
    QString value;

    bool operator==(const DicomTagEntry &) const = default;
};

// File meta information first, then the top-level dataset, without Pixel Data.
QList<DicomTagEntry> listTags(const QString &filePath, QString *error = nullptr);

// Puts each entry's value into the file under its tag and saves the file back.
bool writeTags(const QString &filePath, const QList<DicomTagEntry> &entries,
               QString *error = nullptr);

} // namespace dicom
