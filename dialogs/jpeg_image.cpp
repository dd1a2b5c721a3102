#include "dialogs/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>
#include <jpeglib.h>

namespace kestrune {

namespace {

// libjpeg's default error_exit calls exit(); ours jumps back instead.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void jumpOnError(j_common_ptr info)
{
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

extern "C" void quietOutput(j_common_ptr) {}

struct Decoded {
    int width = 0;
    int height = 0;
    bool ok = false;
    char message[JMSG_LENGTH_MAX] = {};
};

// Holds only plain C structs and a caller-owned buffer, so longjmp skips no
// destructor. The buffer is resized by the caller after the header pass.
bool readHeader(const unsigned char* data, std::size_t size, Decoded& out)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpOnError;
    errors.base.output_message = quietOutput;
    if (setjmp(errors.jump)) {
        std::memcpy(out.message, errors.message, sizeof out.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    out.width = int(info.image_width);
    out.height = int(info.image_height);
    jpeg_destroy_decompress(&info);
    return true;
}

bool decodePixels(const unsigned char* data, std::size_t size, unsigned char* pixels, std::size_t stride,
                  Decoded& out)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpOnError;
    errors.base.output_message = quietOutput;
    if (setjmp(errors.jump)) {
        std::memcpy(out.message, errors.message, sizeof out.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + std::size_t(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    out.ok = true;
    return true;
}

} // namespace

JpegResult decodeJpeg(const unsigned char* data, std::size_t size)
{
    JpegResult result;
    if (data == nullptr || size == 0) {
        result.error = QStringLiteral("Empty JPEG data");
        return result;
    }
    Decoded decoded;
    if (!readHeader(data, size, decoded)) {
        result.error = QString::fromLocal8Bit(decoded.message);
        return result;
    }
    QImage image(decoded.width, decoded.height, QImage::Format_RGB888);
    if (image.isNull()) {
        result.error = QStringLiteral("JPEG image too large");
        return result;
    }
    if (!decodePixels(data, size, image.bits(), std::size_t(image.bytesPerLine()), decoded)) {
        result.error = QString::fromLocal8Bit(decoded.message);
        return result;
    }
    result.image = std::move(image);
    return result;
}

} // namespace kestrune
