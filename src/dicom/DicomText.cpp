#include "dicom/DicomText.h"

#include <QDate>

#include <QStringList>

#include <array>
#include <cmath>

namespace dicom {

namespace {

bool isWellFormedUtf8(const unsigned char *data, std::size_t length)
{
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = data[i];
        std::size_t continuation = 0;
        if (lead < 0x80)
            continuation = 0;
        else if ((lead & 0xE0) == 0xC0)
            continuation = 1;
        else if ((lead & 0xF0) == 0xE0)
            continuation = 2;
        else if ((lead & 0xF8) == 0xF0)
            continuation = 3;
        else
            return false;
        if (continuation > length - i - 1)
            return false;
        for (std::size_t k = 1; k <= continuation; ++k) {
            if ((data[i + k] & 0xC0) != 0x80)
                return false;
        }
        i += continuation + 1;
    }
    return true;
}

// Windows-1251, bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F. The one
// unassigned byte (0x98) maps to the C1 control of the same value, as Windows does.
constexpr std::array<char16_t, 64> cp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

QString decodeCp1251(const unsigned char *data, std::size_t length)
{
    QString result(static_cast<qsizetype>(length), Qt::Uninitialized);
    QChar *out = result.data();
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = data[i];
        if (byte < 0x80)
            out[i] = QChar(byte);
        else if (byte < 0xC0)
            out[i] = QChar(cp1251High[byte - 0x80]);
        else
            out[i] = QChar(static_cast<char16_t>(0x0410 + (byte - 0xC0)));
    }
    return result;
}

} // namespace

QString decodeDicomText(const char *data, std::size_t length)
{
    if (data == nullptr || length == 0)
        return QString();
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    if (isWellFormedUtf8(bytes, length))
        return QString::fromUtf8(data, static_cast<qsizetype>(length)).trimmed();
    return decodeCp1251(bytes, length).trimmed();
}

std::optional<double> parseDicomTime(const QString &input)
{
    const QString text = input.trimmed();
    if (text.isEmpty())
        return std::nullopt;

    if (text.contains(QLatin1Char(':'))) {
        const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
        if (parts.size() < 2)
            return std::nullopt;
        bool ok = false;
        const int hours = parts.at(0).toInt(&ok, 10);
        if (!ok)
            return std::nullopt;
        const int minutes = parts.at(1).toInt(&ok, 10);
        if (!ok)
            return std::nullopt;
        double seconds = 0.0;
        if (parts.size() >= 3) {
            seconds = parts.at(2).toDouble(&ok);
            if (!ok)
                return std::nullopt;
        }
        return hours * 3600.0 + minutes * 60.0 + seconds;
    }

    if (text.size() < 2)
        return std::nullopt;
    bool ok = false;
    const int hours = text.left(2).toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    int minutes = 0;
    if (text.size() >= 4) {
        minutes = text.mid(2, 2).toInt(&ok, 10);
        if (!ok)
            minutes = 0;
    }
    double seconds = 0.0;
    if (text.size() >= 6) {
        seconds = text.mid(4).toDouble(&ok);
        if (!ok)
            seconds = 0.0;
    }
    return hours * 3600.0 + minutes * 60.0 + seconds;
}

QTime parseDicomTimeOfDay(const QString &text)
{
    const std::optional<double> seconds = parseDicomTime(text);
    constexpr double secondsPerDay = 24 * 3600;
    if (!seconds || *seconds < 0.0 || *seconds >= secondsPerDay)
        return QTime();
    // Whole milliseconds, cut rather than rounded: 23:59:59.9999 stays in its day.
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(std::floor(*seconds * 1000.0)));
}

QString displayDicomDate(const QString &text)
{
    if (text.size() != 8)
        return text;
    const QDate date = QDate::fromString(text, QStringLiteral("yyyyMMdd"));
    return date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : text;
}

QString displayDicomTime(const QString &text, bool withSeconds)
{
    const QTime time = parseDicomTimeOfDay(text);
    if (!time.isValid())
        return text.trimmed();
    return time.toString(withSeconds ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

QString displayPersonName(const QString &stored)
{
    // Groups after "=" repeat the name in ideographic and phonetic writing;
    // the first one that holds anything is the one to show.
    for (const QString &group : stored.split(QLatin1Char('='))) {
        QString shown = group;
        shown.replace(QLatin1Char('^'), QLatin1Char(' '));
        shown = shown.simplified();
        if (!shown.isEmpty())
            return shown;
    }
    return QString();
}

QString normalizedPersonName(const QString &stored)
{
    return displayPersonName(stored).toCaseFolded();
}

} // namespace dicom
