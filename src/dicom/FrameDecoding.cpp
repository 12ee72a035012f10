#include "dicom/FrameDecoding.h"

#include "DcmtkSupport.h"
#include "FrameValueDecoding.h"
#include "NestingScan.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmimgle/dcmimage.h>
// Registers DicomImage's colour support (RGB, YBR, palette) for the process.
#include <dcmtk/dcmimage/diregist.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace dicom {

namespace {

// DicomImage creation flags: CIF_MayDetachPixelData.
constexpr unsigned long imageCreationFlags = CIF_MayDetachPixelData;
// A colour cine opened for one frame also asks DCMTK to decompress only that
// frame; without it every frame of a compressed loop is decoded each time.
constexpr unsigned long singleFrameCreationFlags = CIF_MayDetachPixelData | CIF_UsePartialAccessToPixelData;
// Colour files with more frames than this are opened one frame at a time, and
// compressed grey ones decoded one frame at a time.
constexpr int wholeFrameLimit = 16;

std::atomic<std::uint64_t> renderProbeCount{0};
std::atomic<std::uint64_t> renderImageLoadCount{0};
std::atomic<std::uint64_t> valueFileLoadCount{0};

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// Bytes of uncompressed pixel data that `frames` frames need; samples of
// YBR_FULL_422 / YBR_PARTIAL_422 data come two per pixel (Y Y Cb Cr per pair).
// The matrix and sample size of a dataset's pixels, 0 where not stated.
struct PixelLayout
{
    Uint16 rows = 0;
    Uint16 columns = 0;
    Uint16 bitsAllocated = 0;
    Uint16 pixelRepresentation = 0;
};

PixelLayout readPixelLayout(DcmItem &item)
{
    PixelLayout layout;
    item.findAndGetUint16(DCM_Rows, layout.rows);
    item.findAndGetUint16(DCM_Columns, layout.columns);
    item.findAndGetUint16(DCM_BitsAllocated, layout.bitsAllocated);
    item.findAndGetUint16(DCM_PixelRepresentation, layout.pixelRepresentation);
    return layout;
}

quint64 requiredPixelBytes(quint64 frames, quint64 rows, quint64 columns, quint64 samples,
                           quint64 bitsAllocated)
{
    const quint64 bits = frames * rows * columns * samples * bitsAllocated;
    return (bits + 7) / 8;
}

// ---------------------------------------------------------------------------
// renderPicture

struct HeaderProbe
{
    bool ok = false;
    int samplesPerPixel = 1;
    int frames = 1;
    double pixelAspectRatio = 1.0;
    // Set when uncompressed Pixel Data is shorter than the frames need.
    bool pixelDataShort = false;
    // What the object is when it has no pixel data of any kind.
    QString objectWithoutImage;
    // Set when the declared size is more than could be decoded (see
    // detail::pixelDataDecodable); DicomImage never sees such a file.
    bool sizeRefused = false;
    // Pixel Data in an encapsulated (compressed) transfer syntax.
    bool encapsulated = false;
    // The parsed header (values above 4 KiB left in the file).
    std::unique_ptr<DcmFileFormat> file;
};

struct RenderCache
{
    // The last image of a whole file, or of one frame of a colour cine, and
    // its key: the path, or "path#frame".
    std::unique_ptr<DicomImage> image;
    QString imageKey;
    // A compressed loop is decoded a frame at a time: its parsed file and
    // the frames drawn so far (declared after the file, so they go first).
    QString loopPath;
    std::unique_ptr<DcmFileFormat> loopSource;
    std::map<int, std::unique_ptr<DicomImage>> loopFrames;
    // The key of the image drawn last.
    QString key;
};

std::mutex renderMutex;

RenderCache &renderCache()
{
    static RenderCache cache;
    return cache;
}

bool hasAnyPixelData(DcmDataset &ds)
{
    // Float and double float data are images too, even where DicomImage
    // cannot draw them: those stay decoding failures.
    return ds.tagExists(DCM_PixelData) || ds.tagExists(DCM_FloatPixelData)
           || ds.tagExists(DCM_DoubleFloatPixelData);
}

QString datasetText(DcmDataset &ds, const DcmTagKey &tag)
{
    OFString value;
    if (ds.findAndGetOFString(tag, value).bad())
        return QString();
    return QString::fromLatin1(value.c_str(), qsizetype(value.length())).trimmed();
}

// How the viewer names an object without pixel data: the modality (SR, ECG,
// DOC) says most in the fewest words; the SOP class stands in without one.
QString objectKind(DcmDataset &ds)
{
    const QString modality = datasetText(ds, DCM_Modality);
    if (!modality.isEmpty())
        return modality;
    const QString sopClass = datasetText(ds, DCM_SOPClassUID);
    if (sopClass.isEmpty())
        return QStringLiteral("?");
    const QByteArray uid = sopClass.toLatin1();
    const char *name = dcmFindNameOfUID(uid.constData(), nullptr);
    return name != nullptr ? QString::fromLatin1(name) : sopClass;
}

HeaderProbe probeHeader(const QString &path)
{
    HeaderProbe probe;
    renderProbeCount.fetch_add(1, std::memory_order_relaxed);
    // DCMTK's parser recurses once per sequence level. The probe's load bounds
    // the nesting of every element it parses, and DicomImage parses the same
    // elements again (how many value bytes either loads changes no structure).
    probe.file = detail::loadFile(path, detail::LoadMode::Lazy);
    if (!probe.file)
        return probe;
    DcmDataset *ds = probe.file->getDataset();
    if (ds == nullptr)
        return probe;
    probe.ok = true;

    Uint16 samples = 0;
    if (ds->findAndGetUint16(DCM_SamplesPerPixel, samples).good() && samples > 0)
        probe.samplesPerPixel = samples;
    Sint32 frames = 0;
    if (ds->findAndGetSint32(DCM_NumberOfFrames, frames).good() && frames > 0)
        probe.frames = frames;
    // Pixel Aspect Ratio is the vertical size over the horizontal one.
    Sint32 vertical = 0;
    Sint32 horizontal = 0;
    if (ds->findAndGetSint32(DCM_PixelAspectRatio, vertical, 0).good()
        && ds->findAndGetSint32(DCM_PixelAspectRatio, horizontal, 1).good() && vertical > 0 && horizontal > 0)
        probe.pixelAspectRatio = double(vertical) / double(horizontal);
    if (!hasAnyPixelData(*ds)) {
        probe.objectWithoutImage = objectKind(*ds);
        return probe;
    }
    // A colour cine is opened one frame at a time, anything else whole.
    const int decodedFrames = probe.samplesPerPixel > 1 && probe.frames > wholeFrameLimit ? 1 : 0;
    if (!detail::pixelDataDecodable(*ds, DcmXfer(ds->getOriginalXfer()).isEncapsulated(),
                                           quint64(QFileInfo(path).size()), decodedFrames, nullptr)) {
        probe.sizeRefused = true;
        return probe;
    }

    // Uncompressed Pixel Data must hold every frame: DicomImage would pad a
    // short value with zeros and report success. Compressed data is checked
    // by its decoder.
    probe.encapsulated = DcmXfer(ds->getOriginalXfer()).isEncapsulated();
    DcmElement *pixelData = nullptr;
    if (probe.encapsulated || ds->findAndGetElement(DCM_PixelData, pixelData).bad() || pixelData == nullptr)
        return probe;
    const PixelLayout layout = readPixelLayout(*ds);
    const Uint16 rows = layout.rows;
    const Uint16 columns = layout.columns;
    const Uint16 bitsAllocated = layout.bitsAllocated;
    if (rows == 0 || columns == 0 || bitsAllocated == 0)
        return probe; // DicomImage refuses these itself
    OFString photometric;
    ds->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    const bool subsampled = photometric == "YBR_FULL_422" || photometric == "YBR_PARTIAL_422";
    const quint64 samplesPerPixelStored = subsampled ? 2 : quint64(probe.samplesPerPixel);
    const Uint32 length = pixelData->getLength();
    probe.pixelDataShort = length != DCM_UndefinedLength
                           && quint64(length) < requiredPixelBytes(quint64(probe.frames), rows, columns,
                                                                   samplesPerPixelStored, bitsAllocated);
    return probe;
}

// ---------------------------------------------------------------------------
// loadDecodedFrame

struct ValueCache
{
    std::shared_ptr<DcmFileFormat> file;
    QString path;
    // Frames decoded alone from the file's compressed Pixel Data, kept while
    // the file is paged (8-bit samples packed two to an element).
    detail::DecodedFrames decoded;
};

// Decodes frame `frame` of compressed grey Pixel Data alone (DCMTK finds its
// fragments through the offset table, or by their count or markers without
// one) into `out`. False where DCMTK cannot: the whole Pixel Data is then
// decoded instead, which reports its own errors.
bool decodeOneFrame(DcmDataset &ds, int frame, std::vector<Uint16> &out)
{
    Uint16 samples = 1;
    ds.findAndGetUint16(DCM_SamplesPerPixel, samples);
    DcmElement *element = nullptr;
    if (samples != 1 || ds.findAndGetElement(DCM_PixelData, element).bad() || element == nullptr)
        return false;
    Uint32 frameBytes = 0;
    if (element->getUncompressedFrameSize(&ds, frameBytes).bad() || frameBytes == 0)
        return false;
    try {
        out.assign((std::size_t(frameBytes) + 1) / 2, 0);
        Uint32 startFragment = 0;
        OFString colourModel;
        if (element->getUncompressedFrame(&ds, Uint32(frame), startFragment, out.data(), Uint32(out.size() * 2),
                                          colourModel)
                .good())
            return true;
    } catch (const std::bad_alloc &) {
    }
    out.clear();
    return false;
}

std::mutex valueMutex;

ValueCache &valueCache()
{
    static ValueCache cache;
    return cache;
}

// A DS value (first of several) as a number; `fallback` when the element is
// absent, empty, not a number or not finite.
double decimalOr(DcmItem &item, const DcmTagKey &tag, double fallback)
{
    OFString text;
    if (item.findAndGetOFString(tag, text).bad())
        return fallback;
    const QByteArray trimmed = QByteArray(text.c_str(), qsizetype(text.length())).trimmed();
    if (trimmed.isEmpty())
        return fallback;
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    return ok && std::isfinite(value) ? value : fallback;
}

// Where a frame's Rescale Slope and Intercept stand: at the top level, or in
// an enhanced object's Pixel Value Transformation Sequence, the frame's own
// functional group before the shared one (DicomImage reads them there too).
DcmItem &rescaleSource(DcmDataset &ds, int frame)
{
    if (ds.tagExists(DCM_RescaleSlope) || ds.tagExists(DCM_RescaleIntercept))
        return ds;
    for (const auto &[groups, index] : {std::pair{DCM_PerFrameFunctionalGroupsSequence, frame},
                                        std::pair{DCM_SharedFunctionalGroupsSequence, 0}}) {
        DcmItem *group = nullptr;
        DcmItem *transformation = nullptr;
        if (ds.findAndGetSequenceItem(groups, group, index).good() && group != nullptr
            && group->findAndGetSequenceItem(DCM_PixelValueTransformationSequence, transformation, 0).good()
            && transformation != nullptr)
            return *transformation;
    }
    return ds;
}

int numberOfFrames(DcmItem &item)
{
    OFString text;
    if (item.findAndGetOFStringArray(DCM_NumberOfFrames, text).bad())
        return 1;
    bool ok = false;
    const int frames = QByteArray(text.c_str(), qsizetype(text.length())).trimmed().toInt(&ok, 10);
    return ok && frames >= 1 ? frames : 1;
}

QString dataText(const void *data)
{
    return data == nullptr ? QStringLiteral("nullptr") : QStringLiteral("не nullptr");
}

QString conditionText(const OFCondition &condition)
{
    return QString::fromLocal8Bit(condition.text());
}

QString shortPixelDataText(quint64 available, quint64 required, int frames, int rows, int columns,
                           int bits)
{
    return QStringLiteral("Pixel Data короче ожидаемого: %1 отсчётов вместо %2 "
                          "(кадров %3 × строк %4 × столбцов %5 по %6 бит)")
        .arg(available)
        .arg(required)
        .arg(frames)
        .arg(rows)
        .arg(columns)
        .arg(bits);
}

bool fail(DecodedFrame &out, QString *error, const QString &message)
{
    out.ok = false;
    out.values.clear();
    out.error = message;
    if (error)
        *error = message;
    return false;
}

template<typename Sample>
void convert(const Sample *first, std::size_t count, double slope, double intercept, double *out)
{
    for (std::size_t i = 0; i < count; ++i)
        out[i] = double(first[i]) * slope + intercept;
}

} // namespace

namespace {

// Applies the window (the requested one, else the file's, else min-max) to
// `image` and copies out its frame `outputFrame` as 8-bit grey or RGB. With
// `wholeNeeded` given, a grey image that would fall back to min-max is not
// drawn and *wholeNeeded is set instead: a min-max window spans every frame
// of the file, not just those in the image.
RenderedPicture drawImage(DicomImage &image, unsigned long outputFrame, const WindowRequest &window,
                          RenderedPicture result, bool *wholeNeeded)
{
    // A requested window DCMTK refuses (a width below 1) falls back to the
    // renderer's own choice, as does a file window it refuses.
    bool applied = window.given && image.setWindow(window.center, window.width) != 0;
    if (!applied && image.getWindowCount() > 0)
        applied = image.setWindow(0) != 0;
    if (!applied && wholeNeeded != nullptr && image.isMonochrome()) {
        *wholeNeeded = true;
        return result;
    }
    if (!applied)
        image.setMinMaxWindow(0);
    double center = 0.0;
    double width = 0.0;
    if (!image.getWindow(center, width)) {
        // Colour images are not windowed.
        center = window.given ? window.center : 0.0;
        width = window.given ? window.width : 0.0;
    }

    const unsigned long columns = image.getWidth();
    const unsigned long rows = image.getHeight();
    if (columns == 0 || rows == 0 || columns > 65535 || rows > 65535)
        return result;
    const auto *data = static_cast<const uchar *>(image.getOutputData(8, outputFrame, 0));
    if (data == nullptr)
        return result;
    const bool monochrome = image.isMonochrome();
    const std::size_t rowBytes = monochrome ? columns : 3 * columns;
    if (image.getOutputDataSize(8) < rowBytes * rows)
        return result;

    result.pixels = QByteArray(reinterpret_cast<const char *>(data), qsizetype(rowBytes * rows));
    result.width = int(columns);
    result.height = int(rows);
    result.colour = !monochrome;
    result.windowCenter = center;
    result.windowWidth = width;
    result.ok = true;
    return result;
}

// The whole file (key: the path) or one frame of a colour cine (partial,
// key "path#frame"), through the cached image when it has the key.
RenderedPicture renderWithImage(RenderCache &cache, const QString &path, const QString &key, bool partial, int frame,
                                const WindowRequest &window, RenderedPicture result)
{
    if (!cache.image || cache.imageKey != key || cache.image->getStatus() != EIS_Normal) {
        renderImageLoadCount.fetch_add(1, std::memory_order_relaxed);
        const QByteArray name = nativePath(path);
        auto fresh = std::make_unique<DicomImage>(name.constData(),
                                                  partial ? singleFrameCreationFlags : imageCreationFlags,
                                                  partial ? static_cast<unsigned long>(frame) : 0UL,
                                                  partial ? 1UL : 0UL);
        if (fresh->getStatus() != EIS_Normal)
            return result;
        cache.image = std::move(fresh);
        cache.imageKey = key;
    }
    cache.key = key;
    return drawImage(*cache.image, partial ? 0UL : static_cast<unsigned long>(frame), window, std::move(result),
                     nullptr);
}

// One frame of a compressed grey loop, decoded alone from the parsed file
// and kept with the frames decoded before it, so that paging back and forth
// decodes each frame once. Sets *wholeNeeded where the whole file must be
// decoded instead (a min-max window, or a frame DCMTK cannot decode alone).
RenderedPicture renderLoopFrame(RenderCache &cache, const QString &path, std::unique_ptr<DcmFileFormat> parsed,
                                int frame, const WindowRequest &window, RenderedPicture result, bool *wholeNeeded)
{
    if (cache.loopPath != path || !cache.loopSource) {
        cache.loopFrames.clear();
        cache.loopSource = std::move(parsed);
        cache.loopPath = path;
    }
    std::unique_ptr<DicomImage> &image = cache.loopFrames[frame];
    if (!image) {
        renderImageLoadCount.fetch_add(1, std::memory_order_relaxed);
        image = std::make_unique<DicomImage>(cache.loopSource.get(), cache.loopSource->getDataset()->getOriginalXfer(),
                                             CIF_UsePartialAccessToPixelData, static_cast<unsigned long>(frame), 1UL);
    }
    if (image->getStatus() != EIS_Normal) {
        cache.loopFrames.erase(frame);
        *wholeNeeded = true;
        return result;
    }
    cache.key = QStringLiteral("%1#%2").arg(path, QString::number(frame));
    RenderedPicture picture = drawImage(*image, 0, window, std::move(result), wholeNeeded);
    // The picture has its copy; the frame keeps only its values.
    image->deleteOutputData();
    return picture;
}

void dropLoop(RenderCache &cache)
{
    cache.loopFrames.clear();
    cache.loopSource.reset();
    cache.loopPath.clear();
}

} // namespace

RenderedPicture renderPicture(const QString &path, int frameIndex, const WindowRequest &window)
{
    RenderedPicture result;
    std::lock_guard lock(renderMutex);
    RenderCache &cache = renderCache();

    HeaderProbe probe = probeHeader(path);
    result.frameCount = probe.frames;
    result.pixelAspectRatio = probe.pixelAspectRatio;
    result.objectWithoutImage = probe.objectWithoutImage;
    // Without a readable header nothing can vouch for the pixel data length,
    // and DicomImage would parse the same bytes again.
    if (!probe.ok || probe.pixelDataShort || probe.sizeRefused || !probe.objectWithoutImage.isEmpty())
        return result;

    int frame = frameIndex == -1 ? probe.frames / 2 : frameIndex;
    frame = std::clamp(frame, 0, probe.frames - 1);

    const bool colourCine = probe.samplesPerPixel > 1 && probe.frames > wholeFrameLimit;
    // A compressed loop shows its first frame after that frame's decode, not
    // after all of them; once its whole image exists, that serves every frame.
    const bool compressedLoop =
        probe.encapsulated && probe.frames > wholeFrameLimit && !colourCine && cache.imageKey != path;
    if (cache.loopPath != path)
        dropLoop(cache);

    // Whatever the header check let through, a decoder that runs out of
    // memory ends this call, not the process.
    try {
        if (compressedLoop) {
            bool wholeNeeded = false;
            RenderedPicture picture =
                renderLoopFrame(cache, path, std::move(probe.file), frame, window, result, &wholeNeeded);
            if (!wholeNeeded)
                return picture;
            dropLoop(cache);
        }
        const QString key = colourCine ? QStringLiteral("%1#%2").arg(path, QString::number(frame)) : path;
        return renderWithImage(cache, path, key, colourCine, frame, window, result);
    } catch (const std::bad_alloc &) {
        dropLoop(cache);
        cache.image.reset();
        cache.imageKey.clear();
        cache.key.clear();
        return result;
    }
}


bool loadDecodedFrame(DecodedFrame &out, const QString &path, int frameIndex, QString *error)
{
    out.ok = false;
    out.width = 0;
    out.height = 0;
    out.values.clear();
    out.error.clear();

    std::lock_guard lock(valueMutex);
    ValueCache &cache = valueCache();

    std::shared_ptr<DcmFileFormat> file;
    if (cache.file && cache.path == path) {
        file = cache.file;
    } else {
        valueFileLoadCount.fetch_add(1, std::memory_order_relaxed);
        QString condition;
        std::unique_ptr<DcmFileFormat> loaded =
            detail::loadFile(path, detail::LoadMode::Whole, &condition);
        if (!loaded)
            return fail(out, error, QStringLiteral("loadFile: %1").arg(condition));
        file = std::shared_ptr<DcmFileFormat>(std::move(loaded));
        cache.file = file;
        cache.path = path;
        cache.decoded.clear();
    }
    return detail::decodeFrameValues(*file, path, frameIndex, out, error, &cache.decoded);
}

namespace detail {

bool decodeFrameValues(DcmFileFormat &file, const QString &path, int frameIndex, DecodedFrame &out,
                       QString *error, DecodedFrames *decodedFrames)
{
    // Frames decoded alone are kept by whoever keeps the file; without such
    // a keeper they live for this call only.
    DecodedFrames scratch;
    DecodedFrames &decoded = decodedFrames != nullptr ? *decodedFrames : scratch;
    out.ok = false;
    out.width = 0;
    out.height = 0;
    out.error.clear();

    DcmDataset *ds = file.getDataset();
    if (ds == nullptr)
        return fail(out, error, QStringLiteral("getDataset() вернул nullptr"));

    const bool encapsulated = DcmXfer(ds->getOriginalXfer()).isEncapsulated();
    QString refusal;
    if (!detail::pixelDataDecodable(*ds, encapsulated, quint64(QFileInfo(path).size()), 0, &refusal))
        return fail(out, error, refusal);
    // A compressed grey loop decodes the frame asked for, not all of them.
    const int framesDeclared = numberOfFrames(*ds);
    const int wanted = std::clamp(frameIndex, 0, framesDeclared - 1);
    const bool oneFrame = encapsulated && framesDeclared > wholeFrameLimit
                          && (decoded.count(wanted) != 0 || decodeOneFrame(*ds, wanted, decoded[wanted]));
    if (!oneFrame)
        decoded.erase(wanted);
    if (encapsulated && !oneFrame) {
        OFCondition status;
        try {
            status = ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
        } catch (const std::bad_alloc &) {
            return fail(out, error, QStringLiteral("Недостаточно памяти для декодирования Pixel Data"));
        }
        if (status.bad())
            return fail(out, error, QStringLiteral("chooseRepresentation: %1").arg(conditionText(status)));
    }

    // Plain copies, not a structured binding: the lambdas below capture them,
    // which clang 14 does not allow for bindings.
    const PixelLayout layout = readPixelLayout(*ds);
    const Uint16 rows = layout.rows;
    const Uint16 columns = layout.columns;
    const Uint16 bitsAllocated = layout.bitsAllocated;
    const Uint16 pixelRepresentation = layout.pixelRepresentation;
    if (rows == 0 || columns == 0)
        return fail(out, error,
                    QStringLiteral("Rows/Columns не прочитаны (rows=%1, columns=%2)").arg(rows).arg(columns));

    const int frames = numberOfFrames(*ds);
    const int frame = std::clamp(frameIndex, 0, frames - 1);
    DcmItem &rescale = rescaleSource(*ds, frame);
    const double slope = decimalOr(rescale, DCM_RescaleSlope, 1.0);
    const double intercept = decimalOr(rescale, DCM_RescaleIntercept, 0.0);
    const std::size_t frameSize = std::size_t(rows) * std::size_t(columns);
    const quint64 required = quint64(frames) * frameSize; // samples
    const std::size_t first = std::size_t(frame) * frameSize;

    auto failRead = [&](const QString &message) {
        return fail(out, error,
                    QStringLiteral("rows=%1 cols=%2 bits=%3 pixRepr=%4 frames=%5 frameIdx=%6: %7")
                        .arg(rows)
                        .arg(columns)
                        .arg(bitsAllocated)
                        .arg(pixelRepresentation)
                        .arg(frames)
                        .arg(frame)
                        .arg(message));
    };

    if (bitsAllocated > 16)
        return failRead(QStringLiteral("Bits Allocated = %1 не поддерживается (не более 16 бит)")
                            .arg(bitsAllocated));

    // Reads the frame's samples once the whole Pixel Data is known to hold
    // every frame; never past its end.
    auto store = [&](const auto *samples, unsigned long available, int bits) {
        if (quint64(available) < required)
            return failRead(shortPixelDataText(available, required, frames, rows, columns, bits));
        try {
            out.values.assign(frameSize, 0.0);
        } catch (const std::bad_alloc &) {
            return failRead(QStringLiteral("недостаточно памяти для %1 значений").arg(frameSize));
        }
        convert(samples + first, frameSize, slope, intercept, out.values.data());
        return true;
    };

    bool stored = false;
    if (oneFrame) {
        const std::size_t sampleBytes = bitsAllocated <= 8 ? 1 : 2;
        const std::vector<Uint16> &frameSamples = decoded[wanted];
        const std::size_t available = frameSamples.size() * 2 / sampleBytes;
        if (available < frameSize)
            return failRead(shortPixelDataText(available, frameSize, 1, rows, columns, int(sampleBytes * 8)));
        try {
            out.values.assign(frameSize, 0.0);
        } catch (const std::bad_alloc &) {
            return failRead(QStringLiteral("недостаточно памяти для %1 значений").arg(frameSize));
        }
        const Uint16 *data = frameSamples.data();
        if (sampleBytes == 1)
            convert(reinterpret_cast<const Uint8 *>(data), frameSize, slope, intercept, out.values.data());
        else if (pixelRepresentation == 1)
            convert(reinterpret_cast<const Sint16 *>(data), frameSize, slope, intercept, out.values.data());
        else
            convert(data, frameSize, slope, intercept, out.values.data());
        stored = true;
    } else if (bitsAllocated <= 8) {
        // DCMTK hands out OW values (implicit VR files store Pixel Data so) as
        // bytes in little-endian order, which is the order of 8-bit samples.
        const Uint8 *bytes = nullptr;
        unsigned long count = 0;
        const OFCondition status = ds->findAndGetUint8Array(DCM_PixelData, bytes, &count);
        if (status.bad() || bytes == nullptr)
            return failRead(QStringLiteral("findAndGetUint8Array(PixelData): %1 (data=%2)")
                                .arg(conditionText(status), dataText(bytes)));
        stored = store(bytes, count, 8);
    } else {
        const Uint16 *words = nullptr;
        unsigned long count = 0;
        const OFCondition status = ds->findAndGetUint16Array(DCM_PixelData, words, &count);
        const bool isSigned = pixelRepresentation == 1;
        if (status.bad() || words == nullptr) {
            const QString call = isSigned ? QStringLiteral("findAndGetUint16Array(PixelData, знаковый)")
                                          : QStringLiteral("findAndGetUint16Array(PixelData)");
            return failRead(QStringLiteral("%1: %2 (data=%3)").arg(call, conditionText(status), dataText(words)));
        }
        stored = isSigned ? store(reinterpret_cast<const Sint16 *>(words), count, 16)
                          : store(words, count, 16);
    }
    if (!stored)
        return false;

    out.width = columns;
    out.height = rows;
    out.ok = true;
    return true;
}

} // namespace detail

double valueAt(const DecodedFrame &frame, int x, int y)
{
    if (!frame.ok || x < 0 || y < 0 || x >= frame.width || y >= frame.height)
        return 0.0;
    const std::size_t index = std::size_t(frame.width) * std::size_t(y) + std::size_t(x);
    return index < frame.values.size() ? frame.values[index] : 0.0;
}

DecoderStatistics decoderStatistics()
{
    DecoderStatistics statistics;
    statistics.renderProbes = renderProbeCount.load(std::memory_order_relaxed);
    statistics.renderImageLoads = renderImageLoadCount.load(std::memory_order_relaxed);
    statistics.valueFileLoads = valueFileLoadCount.load(std::memory_order_relaxed);
    return statistics;
}

QString renderCacheKey()
{
    std::lock_guard lock(renderMutex);
    return renderCache().key;
}

} // namespace dicom
