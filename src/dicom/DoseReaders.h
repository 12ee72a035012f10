#pragma once

#include <QString>

#include <optional>

namespace dicom {

// Readers for the CT dose estimate.
std::optional<double> readTotalDlp(const QString &filePath);   // dose SR, code 113813 (DCM)
QString readCtdiPhantom(const QString &filePath);              // "head", "body" or empty
std::optional<double> readCtdiVol(const QString &filePath);    // CTDIvol (0018,9345)
QString readProtocolName(const QString &filePath);             // Protocol Name, trimmed

} // namespace dicom
