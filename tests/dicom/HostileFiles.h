#pragma once

#include <QByteArray>
#include <QString>

// Raw byte images of malformed DICOM files, built by hand because no proper
// writer would produce them.
namespace velmaris::testing {

// 128-byte preamble, "DICM" and a meta group naming the transfer syntax,
// Explicit VR Little Endian unless told otherwise.
QByteArray dicmHeader(const QByteArray &transferSyntax = "1.2.840.10008.1.2.1");

// A dataset whose sequences nest `depth` levels deep, never closed.
QByteArray deeplyNested(int depth);
// The same after the UIDs and a long Pixel Data value, which the summary
// reader skips unread.
QByteArray nestedAfterPixelData(int depth);
// The same in the deflated transfer syntax: a few kilobytes on disk.
QByteArray deflatedNested(int depth);

// Study/series/SOP UIDs, then Pixel Data claiming `declaredLength` bytes of
// which only a few follow.
QByteArray oversizedLength(quint32 declaredLength);

// A Directory Record Sequence whose one record has a Directory Record Type
// DCMTK tries to correct while reading, and throws std::out_of_range doing so.
QByteArray uncorrectableRecordType();

bool writeBytes(const QString &path, const QByteArray &bytes);

} // namespace velmaris::testing
