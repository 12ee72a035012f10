#include "cli/PngFile.h"

#include <QSaveFile>

#include <png.h>

#include <csetjmp>

namespace velmaris::cli {

namespace {

// 100 dots per inch in dots per metre: what an image Qt makes without a
// screen says, so that the files stay as the workstation's own.
constexpr png_uint_32 dotsPerMetre = 3937;

void appendBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto *out = static_cast<QByteArray *>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char *>(data), qsizetype(length));
}

void flushNothing(png_structp) {}

// libpng reports errors by longjmp; nothing with a destructor lives between
// the setjmp and the calls that may jump.
bool encode(const dicom::RenderedPicture &picture, QByteArray &out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    const auto rowBytes = std::size_t(picture.width) * (picture.colour ? 3 : 1);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, appendBytes, flushNothing);
    png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height), 8,
                 picture.colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, dotsPerMetre, dotsPerMetre, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    png_set_packing(png);
    const auto *pixels = reinterpret_cast<png_const_bytep>(picture.pixels.constData());
    for (int y = 0; y < picture.height; ++y)
        png_write_row(png, pixels + std::size_t(y) * rowBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool writePng(const QString &path, const dicom::RenderedPicture &picture, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    const qsizetype rowBytes = qsizetype(picture.width) * (picture.colour ? 3 : 1);
    if (!picture.ok || picture.width <= 0 || picture.height <= 0
        || picture.pixels.size() < rowBytes * picture.height)
        return fail(QStringLiteral("Нет изображения"));
    QByteArray bytes;
    if (!encode(picture, bytes))
        return fail(QStringLiteral("Ошибка кодирования PNG"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace velmaris::cli
