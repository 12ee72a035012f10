#pragma once

#include <QString>

#include <cstddef>
#include <optional>

namespace dicom {

// DICOM string bytes to text: UTF-8 when the bytes are well-formed UTF-8,
// otherwise Windows-1251. Surrounding white space is trimmed.
QString decodeDicomText(const char *data, std::size_t length);

// "HHMMSS.frac" or "HH:MM[:SS.frac]" to seconds since midnight.
std::optional<double> parseDicomTime(const QString &text);

} // namespace dicom
