#pragma once

#include "dicom/FrameDecoding.h"

#include <QImage>
#include <QString>

// The frame decoders as the display layer uses them: the values decoder as
// the dicom library has it, the picture as a QImage. Both are safe to call
// from any thread (see dicom/FrameDecoding.h for their caches and limits).
namespace render {

using WindowRequest = dicom::WindowRequest;
using DecodedFrame = dicom::DecodedFrame;
using DecoderStatistics = dicom::DecoderStatistics;

// One frame drawn under a window.
struct RenderedFrame
{
    // Grayscale8 for MONOCHROME1/2 (MONOCHROME1 already inverted), RGB888 for
    // every other photometric interpretation; Columns × Rows.
    QImage image;
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
    // Set (with ok false) for an object that holds no image at all: what it
    // is (see dicom::RenderedPicture).
    QString objectWithoutImage;
};

// Renders frame `frameIndex` of the file: -1 is the middle frame, any other
// index is clamped to the file's frames. Never throws; a file that cannot be
// drawn gives ok = false.
RenderedFrame renderFrame(const QString &path, int frameIndex, const WindowRequest &window);

using dicom::decoderStatistics;
using dicom::loadDecodedFrame;
using dicom::renderCacheKey;
using dicom::valueAt;

} // namespace render
