#pragma once
// Planar YUV 4:2:0 input read one frame at a time, so memory does not grow
// with the file.
#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>

namespace kestrune {

// A run-time failure of the encoder; what() is the one line for the user.
class EncodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class YuvFrameReader {
public:
    // Opens the file and measures it; throws EncodeError when it cannot be read.
    YuvFrameReader(const std::string& path, int width, int height);
    ~YuvFrameReader();
    YuvFrameReader(const YuvFrameReader&) = delete;
    YuvFrameReader& operator=(const YuvFrameReader&) = delete;

    std::size_t frameBytes() const { return frameBytes_; }
    // Whole frames in the file, and the bytes of a trailing partial frame.
    std::int64_t frameCount() const { return frameCount_; }
    std::int64_t leftoverBytes() const { return leftoverBytes_; }

    // Reads the next frame (Y, U, V planes back to back) into `frame`;
    // false after the last whole frame. Throws EncodeError on a read error.
    bool readFrame(std::span<std::uint8_t> frame);

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::size_t frameBytes_ = 0;
    std::int64_t frameCount_ = 0;
    std::int64_t leftoverBytes_ = 0;
    std::int64_t framesRead_ = 0;
};

} // namespace kestrune
