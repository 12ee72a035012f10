#include "viewer/FrameDecoder.h"

#include <cstring>

namespace render {

RenderedFrame renderFrame(const QString &path, int frameIndex, const WindowRequest &window)
{
    const dicom::RenderedPicture picture = dicom::renderPicture(path, frameIndex, window);
    RenderedFrame result;
    result.windowCenter = picture.windowCenter;
    result.windowWidth = picture.windowWidth;
    result.frameCount = picture.frameCount;
    result.pixelAspectRatio = picture.pixelAspectRatio;
    result.objectWithoutImage = picture.objectWithoutImage;
    if (!picture.ok)
        return result;
    QImage image(picture.width, picture.height, picture.colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    if (image.isNull())
        return result;
    // QImage pads its rows to four bytes; the picture's rows are packed.
    const auto rowBytes = std::size_t(picture.width) * (picture.colour ? 3 : 1);
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(image.scanLine(y), picture.pixels.constData() + std::size_t(y) * rowBytes, rowBytes);
    result.image = std::move(image);
    result.ok = true;
    return result;
}

} // namespace render
