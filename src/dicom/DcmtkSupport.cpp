#include "DcmtkSupport.h"

#include "dicom/DicomText.h"
#include "GuardedFileStream.h"
#include "NestingScan.h"

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/oflog/oflog.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <algorithm>
#include <mutex>
#include <new>
#include <queue>
#include <vector>

namespace dicom::detail {

void prepareDcmtk()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Malformed files are an expected input; their warnings are noise.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        // Some writers store standard attributes with VR UN (a UID among them);
        // read those with their dictionary VR instead of as hex bytes.
        dcmEnableUnknownVRConversion.set(OFTrue);
        if (!dcmDataDict.isDictionaryLoaded())
            qWarning("DCMTK: словарь данных не загружен (DCMDICTPATH)");
    });
}

bool isSpecialFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}

OFCondition loadFileNoThrow(DcmFileFormat &file, const OFFilename &name, Uint32 maxReadLength)
{
    // Module numbers above 1023 are left to applications by DCMTK.
    constexpr unsigned short conditionModule = 1202;
    try {
        return file.loadFile(name, EXS_Unknown, EGL_noChange, maxReadLength, ERM_autoDetect);
    } catch (const std::exception &e) {
        return makeOFCondition(conditionModule, 1, OF_error, e.what());
    }
}

namespace {

// What DcmFileFormat::loadFile does with its own file stream, on ours.
OFCondition readNoThrow(DcmFileFormat &file, DcmInputStream &stream, Uint32 maxReadLength)
{
    constexpr unsigned short conditionModule = 1202;
    try {
        const E_FileReadMode oldMode = file.getReadMode();
        file.setReadMode(ERM_autoDetect);
        file.transferInit();
        const OFCondition cond = file.read(stream, EXS_Unknown, EGL_noChange, maxReadLength);
        file.transferEnd();
        file.setReadMode(oldMode);
        return cond;
    } catch (const std::exception &e) {
        return makeOFCondition(conditionModule, 1, OF_error, e.what());
    }
}

} // namespace

std::unique_ptr<DcmFileFormat> loadFile(const QString &path, LoadMode mode, QString *conditionText)
{
    // A named pipe or device would block the reader or never end; only
    // regular files are read.
    if (isSpecialFile(path)) {
        if (conditionText)
            *conditionText = QStringLiteral("Не является обычным файлом: %1").arg(path);
        return nullptr;
    }
    prepareDcmtk();
    // DCMTK's parser recurses once per nesting level, so a hostile file of
    // endlessly nested sequences would overflow the stack. Real objects nest a
    // few levels deep. The stream bounds the nesting of the bytes the parser
    // reads; a deflated data set is inflated behind it, so its nesting is
    // counted over the whole file first.
    const auto tooDeep = [conditionText] {
        if (conditionText)
            *conditionText = QStringLiteral("Слишком глубокая вложенность последовательностей");
        return nullptr;
    };
    auto file = std::make_unique<DcmFileFormat>();
    const Uint32 maxReadLength = mode == LoadMode::Whole ? std::numeric_limits<Uint32>::max()
                                                         : DCM_MaxReadLength;
    GuardedFileStream stream(path, maxItemNesting);
    OFCondition cond;
    if (stream.valid() && !stream.deflated()) {
        cond = readNoThrow(*file, stream, maxReadLength);
        if (stream.tooDeep())
            return tooDeep();
    } else {
        if (itemNestingDepth(path, maxItemNesting) > maxItemNesting)
            return tooDeep();
        cond = loadFileNoThrow(*file, OFFilename(QFile::encodeName(path).constData()), maxReadLength);
    }
    if (cond.bad()) {
        if (conditionText)
            *conditionText = QString::fromLocal8Bit(cond.text());
        return nullptr;
    }
    return file;
}

DcmElement *findElement(DcmItem &item, const DcmTagKey &tag)
{
    DcmElement *element = nullptr;
    if (item.findAndGetElement(tag, element).bad())
        return nullptr;
    return element;
}

std::optional<QByteArray> rawString(DcmItem &item, const DcmTagKey &tag)
{
    return rawString(findElement(item, tag));
}

QString text(DcmItem &item, const DcmTagKey &tag)
{
    return text(findElement(item, tag));
}

std::optional<double> number(DcmItem &item, const DcmTagKey &tag)
{
    return number(findElement(item, tag));
}

std::optional<qint32> integer(DcmItem &item, const DcmTagKey &tag)
{
    return integer(findElement(item, tag));
}

std::optional<QVector<double>> doubleParts(DcmItem &item, const DcmTagKey &tag, int count)
{
    return doubleParts(findElement(item, tag), count);
}

std::optional<QByteArray> rawString(DcmElement *element)
{
    if (element == nullptr)
        return std::nullopt;
    OFString value;
    if (element->getOFStringArray(value).bad())
        return std::nullopt;
    return QByteArray(value.c_str(), static_cast<qsizetype>(value.length()));
}

QString text(DcmElement *element)
{
    const auto raw = rawString(element);
    if (!raw)
        return QString();
    return decodeDicomText(raw->constData(), static_cast<std::size_t>(raw->size()));
}

std::optional<double> number(DcmElement *element)
{
    const auto raw = rawString(element);
    if (!raw)
        return std::nullopt;
    bool ok = false;
    const double value = QString::fromUtf8(*raw).trimmed().toDouble(&ok);
    // "inf" and "nan" convert, but no attribute we index can hold them, and the
    // index would store them as NULL.
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<qint32> integer(DcmElement *element)
{
    if (element == nullptr)
        return std::nullopt;
    // findAndGetSint32 refuses US and UL elements (Rows, Columns, Temporal
    // Position Index), so read each VR with its own accessor.
    switch (element->ident()) {
    case EVR_US: {
        Uint16 v = 0;
        if (element->getUint16(v, 0).good())
            return static_cast<qint32>(v);
        break;
    }
    case EVR_SS: {
        Sint16 v = 0;
        if (element->getSint16(v, 0).good())
            return static_cast<qint32>(v);
        break;
    }
    case EVR_UL: {
        Uint32 v = 0;
        if (element->getUint32(v, 0).good() && v <= static_cast<Uint32>(std::numeric_limits<qint32>::max()))
            return static_cast<qint32>(v);
        break;
    }
    case EVR_SL:
    case EVR_IS: {
        Sint32 v = 0;
        if (element->getSint32(v, 0).good())
            return static_cast<qint32>(v);
        break;
    }
    default:
        break;
    }
    return std::nullopt;
}

std::optional<QVector<double>> doubleParts(DcmElement *element, int count)
{
    const auto raw = rawString(element);
    if (!raw)
        return std::nullopt;
    const QList<QByteArray> parts = raw->split('\\');
    if (parts.size() != count)
        return std::nullopt;
    QVector<double> values;
    values.reserve(count);
    for (const QByteArray &part : parts) {
        bool ok = false;
        const double v = part.trimmed().toDouble(&ok);
        values.append(ok && std::isfinite(v) ? v : 0.0);
    }
    return values;
}

DcmItem *firstItem(DcmItem &item, const DcmTagKey &sequenceTag)
{
    DcmItem *first = nullptr;
    if (item.findAndGetSequenceItem(sequenceTag, first, 0).bad())
        return nullptr;
    return first;
}

bool saveReplacing(DcmFileFormat &file, const QString &destination, E_TransferSyntax xfer,
                   QString *conditionText)
{
    const QFileInfo target(destination);
    QTemporaryFile temporary(target.absolutePath() + QLatin1String("/.") + target.fileName()
                             + QLatin1String(".XXXXXX"));
    if (!temporary.open()) {
        if (conditionText)
            *conditionText = temporary.errorString();
        return false;
    }
    temporary.close(); // DCMTK writes by name; the object still removes it on failure
    const OFCondition cond = file.saveFile(
        OFFilename(QFile::encodeName(temporary.fileName()).constData()), xfer,
        EET_UndefinedLength, EGL_recalcGL, EPD_withoutPadding, 0, 0, EWM_createNewMeta);
    if (cond.bad()) {
        if (conditionText)
            *conditionText = QString::fromLocal8Bit(cond.text());
        return false;
    }
    // Keep the permissions of a file being replaced; a new file gets the usual ones.
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                     | QFile::ReadOther | QFile::ReadUser | QFile::WriteUser;
    if (target.exists())
        permissions = QFile::permissions(destination);
    temporary.setPermissions(permissions);
    // rename(2) replaces the destination in one step.
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(),
                    QFile::encodeName(destination).constData())
        != 0) {
        if (conditionText)
            *conditionText = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    temporary.setAutoRemove(false);
    return true;
}

bool pixelDataDecodable(DcmItem &dataset, bool encapsulated, quint64 fileBytes, int framesToDecode,
                        QString *reason)
{
    const auto refuse = [reason](const QString &text) {
        if (reason)
            *reason = text;
        return false;
    };
    const qint32 samples = integer(dataset, DCM_SamplesPerPixel).value_or(1);
    if (samples != 1 && samples != 3)
        return refuse(QStringLiteral("Samples per Pixel = %1 не поддерживается (допустимы 1 и 3)").arg(samples));
    const quint64 rows = quint64(std::max(0, integer(dataset, DCM_Rows).value_or(0)));
    const quint64 columns = quint64(std::max(0, integer(dataset, DCM_Columns).value_or(0)));
    const quint64 bits = quint64(std::max(0, integer(dataset, DCM_BitsAllocated).value_or(0)));
    const quint64 declaredFrames = quint64(std::max(1, integer(dataset, DCM_NumberOfFrames).value_or(1)));
    const quint64 frames = framesToDecode > 0 ? std::min(declaredFrames, quint64(framesToDecode)) : declaredFrames;
    // At most 65535² × 3 × 8 bytes a frame: the product cannot overflow
    // before it is compared, as long as it is taken in two steps.
    const quint64 frameBytes = rows * columns * quint64(samples) * ((bits + 7) / 8);
    const quint64 decoded = frameBytes == 0 ? 0
                            : frames > maxDecodedPixelBytes / frameBytes ? maxDecodedPixelBytes + 1
                                                                          : frames * frameBytes;
    const auto megabytes = [](quint64 bytes) { return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 0); };
    if (decoded > maxDecodedPixelBytes)
        return refuse(QStringLiteral("Объявленный размер изображения не декодируется: %1 × %2, кадров %3 "
                                     "(больше %4 МБ)")
                          .arg(columns)
                          .arg(rows)
                          .arg(declaredFrames)
                          .arg(megabytes(maxDecodedPixelBytes)));
    const quint64 plausible = std::max(compressionRatioFloorBytes,
                                       fileBytes > maxDecodedPixelBytes / maxCompressionRatio
                                           ? maxDecodedPixelBytes
                                           : fileBytes * maxCompressionRatio);
    if (encapsulated && decoded > plausible)
        return refuse(QStringLiteral("Объявленный размер изображения не согласуется со сжатыми данными: %1 × %2, "
                                     "кадров %3 (%4 МБ из файла в %5 байт)")
                          .arg(columns)
                          .arg(rows)
                          .arg(declaredFrames)
                          .arg(megabytes(decoded))
                          .arg(fileBytes));
    return true;
}

E_TransferSyntax uncompressedWriteXfer(DcmDataset &dataset, quint64 fileBytes)
{
    const E_TransferSyntax original = dataset.getOriginalXfer();
    if (!DcmXfer(original).isEncapsulated() || !pixelDataDecodable(dataset, true, fileBytes, 0, nullptr))
        return original;
    try {
        if (dataset.chooseRepresentation(EXS_LittleEndianExplicit, nullptr).good()
            && dataset.canWriteXfer(EXS_LittleEndianExplicit))
            return EXS_LittleEndianExplicit;
    } catch (const std::bad_alloc &) {
        // Not enough memory to decode: the file is written as it was read.
    }
    return original;
}

} // namespace dicom::detail
