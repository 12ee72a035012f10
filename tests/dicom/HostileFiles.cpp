#include "dicom/HostileFiles.h"

#include <QFile>
#include <QtEndian>

#include <zlib.h>

namespace velmaris::testing {

namespace {

template <typename Word>
void appendLittleEndian(QByteArray &out, Word v)
{
    char b[sizeof v];
    qToLittleEndian(v, b);
    out.append(b, sizeof v);
}
void appendU16(QByteArray &out, quint16 v) { appendLittleEndian(out, v); }
void appendU32(QByteArray &out, quint32 v) { appendLittleEndian(out, v); }

QByteArray evenPadded(QByteArray value, char pad)
{
    if (value.size() % 2)
        value.append(pad);
    return value;
}

// A tag and, for explicit VR, its VR with the two reserved bytes of a long
// length that follows.
void appendTag(QByteArray &out, quint16 group, quint16 element, const char *vrAndReserved = nullptr)
{
    appendU16(out, group);
    appendU16(out, element);
    if (vrAndReserved)
        out.append(vrAndReserved, 4);
}

// An explicit-VR little-endian element with a short (16-bit) length field.
QByteArray shortElement(quint16 group, quint16 element, const char vr[2], const QByteArray &value)
{
    QByteArray out;
    appendTag(out, group, element);
    out.append(vr, 2);
    appendU16(out, static_cast<quint16>(value.size()));
    out.append(value);
    return out;
}


QByteArray nestedSequences(int depth)
{
    QByteArray out;
    out.reserve(depth * 20);
    for (int i = 0; i < depth; ++i) {
        // (0008,1115) SQ, undefined length, then an item of undefined length.
        appendTag(out, 0x0008, 0x1115, "SQ\0\0");
        appendU32(out, 0xFFFFFFFFu);
        appendTag(out, 0xFFFE, 0xE000);
        appendU32(out, 0xFFFFFFFFu);
    }
    return out;
}

// SOP Instance, Study and Series Instance UIDs.
QByteArray uids()
{
    return shortElement(0x0008, 0x0018, "UI", evenPadded("1.2.3.4.3", '\0'))
           + shortElement(0x0020, 0x000D, "UI", evenPadded("1.2.3.4.1", '\0'))
           + shortElement(0x0020, 0x000E, "UI", evenPadded("1.2.3.4.2", '\0'));
}

// Raw deflate without a zlib header, as the deflated transfer syntax stores it.
QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

QByteArray dicmHeader(const QByteArray &transferSyntax)
{
    QByteArray out(128, '\0');
    out.append("DICM", 4);
    out.append(shortElement(0x0002, 0x0010, "UI", evenPadded(transferSyntax, '\0')));
    return out;
}

QByteArray deeplyNested(int depth)
{
    return dicmHeader() + nestedSequences(depth);
}

QByteArray nestedAfterPixelData(int depth)
{
    QByteArray out = dicmHeader() + uids();
    const QByteArray pixels(256 * 1024, '\x11');
    appendTag(out, 0x7FE0, 0x0010, "OW\0\0");
    appendU32(out, static_cast<quint32>(pixels.size()));
    out.append(pixels);
    return out + nestedSequences(depth);
}

QByteArray deflatedNested(int depth)
{
    return dicmHeader("1.2.840.10008.1.2.1.99") + rawDeflate(nestedSequences(depth));
}

QByteArray oversizedLength(quint32 declaredLength)
{
    QByteArray out = dicmHeader() + uids();
    appendTag(out, 0x7FE0, 0x0010, "OW\0\0");
    appendU32(out, declaredLength);
    out.append(QByteArray(64, '\x11'));
    return out;
}

QByteArray uncorrectableRecordType()
{
    // A backslash first, then a value longer than CS allows: DCMTK's
    // correction erases from a position past the end of the string.
    QByteArray record;
    appendTag(record, 0xFFFE, 0xE000);
    const QByteArray value = QByteArray("\\").append(QByteArray(40, 'A'));
    const QByteArray type = shortElement(0x0004, 0x1430, "CS", evenPadded(value, ' '));
    appendU32(record, static_cast<quint32>(type.size()));
    record.append(type);

    QByteArray out = dicmHeader();
    appendTag(out, 0x0004, 0x1220, "SQ\0\0");
    appendU32(out, static_cast<quint32>(record.size()));
    return out + record + uids();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(bytes) == bytes.size();
}

} // namespace velmaris::testing
