#pragma once

// Internal to the dicom library: DCMTK helpers shared by the readers and the
// file operations. Never included from a public header.

#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

namespace dicom::detail {

// Silences DCMTK's parser chatter (it logs through OFLog to stderr) and makes
// sure the data dictionary is there. Safe to call from any thread, many times.
void prepareDcmtk();

enum class LoadMode {
    Lazy,  // values above 4 KiB stay in the file until accessed
    Whole, // every value read into memory
};

// Item nesting deeper than this is refused before DCMTK sees the file.
constexpr int maxItemNesting = 512;

// True for something that exists but is no regular file (a named pipe, a
// device, a folder): opening one could block or never end, so it is not read.
bool isSpecialFile(const QString &path);

// DcmFileFormat::loadFile that never throws: DCMTK's reader can throw while
// it parses (it corrects a malformed Directory Record Type with a
// std::string erase past the end, for one), and an exception left to
// unwind would end the whole program. Gives an error condition instead.
// DCMTK is not exception-safe: the record it was reading when it threw is
// never freed (a few hundred bytes per such file).
OFCondition loadFileNoThrow(DcmFileFormat &file, const OFFilename &name, Uint32 maxReadLength);

// Loads a file (with or without meta header). Returns null on failure and, when
// asked, the DCMTK condition text.
std::unique_ptr<DcmFileFormat> loadFile(const QString &path, LoadMode mode,
                                        QString *conditionText = nullptr);

// The element's whole value as DCMTK returns it (all values joined with
// backslashes), or nothing when the element is absent or has no string form.
std::optional<QByteArray> rawString(DcmItem &item, const DcmTagKey &tag);

// The element with the tag in the item itself (not in its sequences), or null.
DcmElement *findElement(DcmItem &item, const DcmTagKey &tag);

// The readers above for an element already found (null: absent), for callers
// that look many up at once.
std::optional<QByteArray> rawString(DcmElement *element);
QString text(DcmElement *element);
std::optional<double> number(DcmElement *element);
std::optional<qint32> integer(DcmElement *element);
std::optional<QVector<double>> doubleParts(DcmElement *element, int count);

// String field: decoded with decodeDicomText, empty when absent.
QString text(DcmItem &item, const DcmTagKey &tag);

// Number field: the whole value as UTF-8, trimmed and converted; nothing when
// absent or not a (finite) number - so a two-valued element gives nothing.
std::optional<double> number(DcmItem &item, const DcmTagKey &tag);

// Integer field read with the element's own VR (US, UL, SS, SL, IS ...), first
// value. Nothing when absent, unreadable or out of the 32-bit signed range.
std::optional<qint32> integer(DcmItem &item, const DcmTagKey &tag);

// Backslash-separated parts (empty parts kept) converted to doubles, an
// unparsable part giving 0; nothing unless there are exactly `count` parts.
std::optional<QVector<double>> doubleParts(DcmItem &item, const DcmTagKey &tag, int count);

// First item of a sequence, or null.
DcmItem *firstItem(DcmItem &item, const DcmTagKey &sequenceTag);

// Saves through a temporary file beside the destination that replaces it only
// once complete, so a failed save never leaves a half-written file behind.
bool saveReplacing(DcmFileFormat &file, const QString &destination, E_TransferSyntax xfer,
                   QString *conditionText = nullptr);

// Decoders allocate what a header declares before they look at the data. A
// declaration no real image makes is refused before any decoder sees it:
// Samples per Pixel other than 1 or 3; more than maxDecodedPixelBytes once
// decoded; for encapsulated data, more than maxCompressionRatio times the
// bytes of the file (above a floor that any small file may decode to).
inline constexpr quint64 maxDecodedPixelBytes = 4ULL << 30;
inline constexpr quint64 maxCompressionRatio = 10000;
inline constexpr quint64 compressionRatioFloorBytes = 64ULL << 20;

// Checks the declared size of `framesToDecode` frames (0: every frame) of the
// dataset's Pixel Data. On refusal returns false with the Russian reason.
bool pixelDataDecodable(DcmItem &dataset, bool encapsulated, quint64 fileBytes, int framesToDecode,
                        QString *reason);

// The transfer syntax to write a loaded file in: compressed data is decoded to
// Explicit VR Little Endian when possible (and plausible in size), else kept
// as read.
E_TransferSyntax uncompressedWriteXfer(DcmDataset &dataset, quint64 fileBytes);

} // namespace dicom::detail
