#pragma once
// Decoding of a JPEG image held in memory (libjpeg, jpeg_mem_src).
#include <QImage>
#include <QString>
#include <cstddef>

namespace kestrune {

struct JpegResult {
    QImage image;   // RGB888 on success, null on failure
    QString error;  // libjpeg's message on failure
};

// Decodes a baseline or progressive JPEG; a corrupt image yields an error,
// never a process exit.
JpegResult decodeJpeg(const unsigned char* data, std::size_t size);

} // namespace kestrune
