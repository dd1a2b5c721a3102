#include "tools/common/atomic_output.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kestrune {

AtomicOutput::AtomicOutput(std::filesystem::path destination)
    : destination_(std::move(destination))
{
    std::filesystem::path name = destination_.filename();
    temporary_ = destination_.parent_path() / ("." + name.string() + ".part" + std::to_string(::getpid()));
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (!file_) error_ = std::string("cannot create ") + temporary_.string() + ": " + std::strerror(errno);
}

AtomicOutput::~AtomicOutput()
{
    if (file_) {
        std::fclose(file_);
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

bool AtomicOutput::write(const void* data, std::size_t size)
{
    if (!file_) return false;
    if (size && std::fwrite(data, 1, size, file_) != size) {
        error_ = std::string("cannot write ") + temporary_.string() + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool AtomicOutput::commit()
{
    if (!file_) return false;
    bool good = std::fflush(file_) == 0 && !std::ferror(file_);
    if (!good) error_ = std::string("cannot write ") + temporary_.string() + ": " + std::strerror(errno);
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    if (good) {
        std::filesystem::rename(temporary_, destination_, ec);
        if (ec) {
            good = false;
            error_ = "cannot rename to " + destination_.string() + ": " + ec.message();
        }
    }
    if (!good) std::filesystem::remove(temporary_, ec);
    return good;
}

} // namespace kestrune
