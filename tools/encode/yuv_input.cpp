#include "tools/encode/yuv_input.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kestrune {

YuvFrameReader::YuvFrameReader(const std::string& path, int width, int height) : path_(path)
{
    const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    frameBytes_ = w * h + 2 * (w / 2) * (h / 2);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw EncodeError("cannot read input " + path + ": it is a directory");
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw EncodeError("cannot open input " + path + ": " + std::strerror(errno));
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        std::fclose(file_);
        throw EncodeError("cannot read input " + path + ": " + ec.message());
    }
    frameCount_ = static_cast<std::int64_t>(size / frameBytes_);
    leftoverBytes_ = static_cast<std::int64_t>(size % frameBytes_);
}

YuvFrameReader::~YuvFrameReader()
{
    if (file_) std::fclose(file_);
}

bool YuvFrameReader::readFrame(std::span<std::uint8_t> frame)
{
    if (framesRead_ >= frameCount_) return false;
    if (std::fread(frame.data(), 1, frameBytes_, file_) != frameBytes_) {
        // The file shrank under us, or a device error.
        throw EncodeError("cannot read frame " + std::to_string(framesRead_) + " of input " + path_ + ": "
                          + (std::ferror(file_) ? std::strerror(errno) : "unexpected end of file"));
    }
    ++framesRead_;
    return true;
}

} // namespace kestrune
