#pragma once

#include <QString>
#include <QTime>

#include <cstddef>
#include <optional>

namespace dicom {

// DICOM string bytes to text: UTF-8 when the bytes are well-formed UTF-8,
// otherwise Windows-1251. Surrounding white space is trimmed.
QString decodeDicomText(const char *data, std::size_t length);

// "HHMMSS.frac" or "HH:MM[:SS.frac]" to seconds since midnight.
std::optional<double> parseDicomTime(const QString &text);

// The same forms as a time of day, the fraction dropped; invalid when the text
// is not a time or lies outside 00:00:00-23:59:59.
QTime parseDicomTimeOfDay(const QString &text);

// A stored DA value ("20240131") as a person reads it: "31.01.2024"; a value
// that is not a date is shown as stored.
QString displayDicomDate(const QString &text);

// A stored TM value as a person reads it: "HH:mm:ss", or "HH:mm" without the
// seconds; a value that is not a time is shown as stored.
QString displayDicomTime(const QString &text, bool withSeconds = true);

// A DICOM person name ("Иванов^Иван^Петрович") as a person reads it: the
// components of the first non-empty group joined by single spaces.
QString displayPersonName(const QString &stored);

// The form in which two stored names are compared: the shown form without
// regard to case, so that "Иванов^Иван^Петрович" and "ИВАНОВ^Иван Петрович"
// are one name.
QString normalizedPersonName(const QString &stored);

} // namespace dicom
