#include "dialogs/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
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

// Asked for the destination once the image size is known; returns the first
// row and its stride, or nullptr to give up.
using Allocate = unsigned char* (*)(void* context, int width, int height, std::size_t* stride);

// Holds only plain C structs, so the longjmp of an error skips no destructor.
// message receives libjpeg's text on failure.
bool decodeInto(const unsigned char* data, std::size_t size, Allocate allocate, void* context,
                char (&message)[JMSG_LENGTH_MAX])
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpOnError;
    errors.base.output_message = quietOutput;
    if (setjmp(errors.jump)) {
        std::memcpy(message, errors.message, sizeof message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::size_t stride = 0;
    unsigned char* pixels = allocate(context, int(info.output_width), int(info.output_height), &stride);
    if (pixels == nullptr) {
        std::snprintf(message, sizeof message, "JPEG image too large");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + std::size_t(info.output_scanline) * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

unsigned char* allocateImage(void* context, int width, int height, std::size_t* stride)
{
    auto* image = static_cast<QImage*>(context);
    *image = QImage(width, height, QImage::Format_RGB888);
    if (image->isNull()) return nullptr;
    *stride = std::size_t(image->bytesPerLine());
    return image->bits();
}

} // namespace

JpegResult decodeJpeg(const unsigned char* data, std::size_t size)
{
    JpegResult result;
    if (data == nullptr || size == 0) {
        result.error = QStringLiteral("Empty JPEG data");
        return result;
    }
    QImage image;
    char message[JMSG_LENGTH_MAX] = {};
    if (decodeInto(data, size, allocateImage, &image, message))
        result.image = std::move(image);
    else
        result.error = QString::fromLocal8Bit(message);
    return result;
}

} // namespace kestrune
