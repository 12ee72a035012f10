#pragma once

#include "dicom/DicomFileSummary.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace dicom {

// The indexing summary of one file; empty when the file cannot be read or lacks
// the Study, Series or SOP Instance UID. Reentrant.
std::optional<DicomFileSummary> readSummary(const QString &filePath);

// The same summary, computed from a load of the whole file (pixel data
// included). readSummary stops at Pixel Data and must always agree with this.
std::optional<DicomFileSummary> readSummaryFullLoad(const QString &filePath);

// True when the file is at least 132 bytes long and bytes 128..131 are "DICM".
bool isDicomFile(const QString &filePath);

} // namespace dicom
