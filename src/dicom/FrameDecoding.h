#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// The two frame decoders behind every viewer, analysis window and exporter.
// renderPicture draws one frame as an 8-bit picture through DCMTK's
// DicomImage; loadDecodedFrame returns its measured values after rescale.
// The display layer (render::renderFrame) turns the picture into a QImage.
//
// Both are safe to call from any thread. Each serialises its callers with a
// process-wide mutex of its own that also guards its cache of one file (the
// last DicomImage with its key, the last parsed file with its path, and the
// frames of a compressed loop decoded so far); the two never hold both locks. Compressed files need the codecs registered for the process
// (dicom::CodecRegistration).
namespace dicom {

// The window asked of renderPicture, in rescaled units. When `given` is false the
// renderer chooses: the file's first VOI window, else the image's min-max one.
struct WindowRequest
{
    double center = 0.0;
    double width = 0.0;
    bool given = false;
};

// One frame drawn under a window.
struct RenderedPicture
{
    // Rows of `width` bytes of grey (MONOCHROME1/2, MONOCHROME1 already
    // inverted) or `width` × 3 bytes of RGB (every other photometric
    // interpretation), packed without padding; Columns × Rows.
    QByteArray pixels;
    int width = 0;
    int height = 0;
    bool colour = false;
    // The window in force for the picture: the requested one, or the one the
    // renderer chose. Colour pictures are not windowed; they report the
    // requested window when one was given, else 0 and 0.
    double windowCenter = 0.0;
    double windowWidth = 0.0;
    // The file's Number of Frames, 1 when absent or not positive.
    int frameCount = 1;
    // A pixel's height over its width by Pixel Aspect Ratio; 1 when the file
    // has none. Pixel Spacing, where present, says the same more precisely.
    double pixelAspectRatio = 1.0;
    bool ok = false;
    // Set (with ok false) for an object that holds no image at all, such as
    // a structured report, a waveform or an encapsulated document: what it
    // is, by its Modality, else the name of its SOP class, else that class's
    // UID, else "?". Empty for every file that has Pixel Data.
    QString objectWithoutImage;
};

// The measured values of one frame.
struct DecodedFrame
{
    bool ok = false;
    int width = 0;  // Columns
    int height = 0; // Rows
    // width × height values, row-major (index = width × y + x), each stored
    // value × Rescale Slope + Rescale Intercept.
    std::vector<double> values;
    QString error; // empty on success
};

// Renders frame `frameIndex` of the file: -1 is the middle frame (frame count
// / 2), any other index is clamped to the file's frames. Never throws; a file
// that cannot be drawn gives ok = false (frameCount still filled in when the
// header could be read, objectWithoutImage when it has no Pixel Data). A file
// whose header cannot be read, or whose uncompressed Pixel Data is shorter
// than its frames need, is refused before DicomImage sees it.
RenderedPicture renderPicture(const QString &path, int frameIndex, const WindowRequest &window);

// Reads the values of frame `frameIndex` (clamped to the file's frames) into
// `out`, which is cleared first. On failure returns false, leaves the values
// empty and writes the Russian message to out.error and, when given, *error.
// The parsed file stays cached, so later frames of the same file cost no
// parse. Compressed files are decompressed once, except loops of more than 16
// frames: those decode the frame asked for, and keep it.
// A Rescale Slope that is present but not a number counts as 1.0, an
// unparsable Intercept as 0.0. Pixel Data shorter than Number of Frames ×
// Rows × Columns samples and Bits Allocated above 16 are refused.
bool loadDecodedFrame(DecodedFrame &out, const QString &path, int frameIndex,
                      QString *error = nullptr);

// values[width × y + x], or 0.0 when the frame is not ok or (x, y) lies outside.
double valueAt(const DecodedFrame &frame, int x, int y);

// Test and benchmark hooks: how often each decoder parsed a file since the
// process started. Counters only grow.
struct DecoderStatistics
{
    // renderPicture: header probes (one per call that got that far) and
    // DicomImage objects created from a file (cache misses).
    std::uint64_t renderProbes = 0;
    std::uint64_t renderImageLoads = 0;
    // loadDecodedFrame: whole-file parses (cache misses).
    std::uint64_t valueFileLoads = 0;
};
DecoderStatistics decoderStatistics();

// The key of the DicomImage that renderPicture drew with last: the path for a
// file opened whole, "path#frame" for one frame of a colour file or of a
// compressed grey loop of more than 16 frames; empty before the first
// successful render.
QString renderCacheKey();

} // namespace dicom
