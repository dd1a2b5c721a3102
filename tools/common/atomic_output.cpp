#include "tools/common/atomic_output.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {
namespace {

// The temporary files not yet committed, for removal from a signal handler:
// lock-free slots, so the handler never waits on a lock the interrupted code holds.
constexpr int kPartialSlots = 32;
std::atomic<const char*> partialOutputs[kPartialSlots];
static_assert(std::atomic<const char*>::is_always_lock_free);

int registerPartial(const char* path)
{
    for (int i = 0; i < kPartialSlots; ++i) {
        const char* expected = nullptr;
        if (partialOutputs[i].compare_exchange_strong(expected, path)) return i;
    }
    return -1;  // more outputs open than slots: this one is only removed by its owner
}

// Symbolic links followed to the file they name, which need not exist yet.
// Empty when the links form a loop or a chain too long to follow.
std::filesystem::path followLinks(std::filesystem::path path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) return path;
        const std::filesystem::path next = std::filesystem::read_symlink(path, ec);
        if (ec) return path;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return {};
}

std::string reason()
{
    return std::strerror(errno);
}

} // namespace

void removePartialOutputs() noexcept
{
    for (auto& slot : partialOutputs)
        if (const char* path = slot.load()) ::unlink(path);
}

AtomicOutput::AtomicOutput(std::filesystem::path destination)
    : destination_(std::move(destination))
{
    target_ = followLinks(destination_);
    if (target_.empty()) {
        error_ = "cannot create " + destination_.string() + ": " + std::strerror(ELOOP);
        return;
    }
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        file_ = std::fopen(target_.c_str(), "wb");
        if (!file_) error_ = "cannot open " + destination_.string() + ": " + reason();
        return;
    }
    temporary_ = target_.parent_path() / ("." + target_.filename().string() + ".part" + std::to_string(::getpid()));
    // Registered before it exists, so no signal can come between creating and registering it.
    partialSlot_ = registerPartial(temporary_.c_str());
    ::unlink(temporary_.c_str());  // a leftover of an earlier run under the same process id
    // A file that is replaced lends its read, write and execute bits (not
    // set-id bits: the new file has a new owner); they are set before anything
    // is written, so a private file's new content is never readable by others.
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    if (fd < 0 || (exists && ::fchmod(fd, existing.st_mode & 0777) != 0) || !(file_ = ::fdopen(fd, "wb"))) {
        error_ = "cannot create " + temporary_.string() + ": " + reason();
        if (fd >= 0) ::close(fd);
        release();
    }
}

AtomicOutput::~AtomicOutput()
{
    if (file_) std::fclose(file_);
    file_ = nullptr;
    release();
}

// Removes the temporary file, then forgets it: a signal in between only
// finds a name that no longer exists.
void AtomicOutput::release()
{
    if (!temporary_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
    if (partialSlot_ >= 0) partialOutputs[partialSlot_].store(nullptr);
    partialSlot_ = -1;
}

bool AtomicOutput::write(const void* data, std::size_t size)
{
    if (!file_) return false;
    if (size && std::fwrite(data, 1, size, file_) != size) {
        const auto& written = temporary_.empty() ? destination_ : temporary_;
        error_ = "cannot write " + written.string() + ": " + reason();
        return false;
    }
    return true;
}

bool AtomicOutput::commit()
{
    if (!file_) return false;
    const auto& written = temporary_.empty() ? destination_ : temporary_;
    bool good = std::fflush(file_) == 0 && !std::ferror(file_);
    if (!good) error_ = "cannot write " + written.string() + ": " + reason();
    if (std::fclose(file_) != 0 && good) {
        good = false;
        error_ = "cannot write " + written.string() + ": " + reason();
    }
    file_ = nullptr;
    if (good && !temporary_.empty()) {
        std::error_code ec;
        std::filesystem::rename(temporary_, target_, ec);
        if (ec) {
            good = false;
            error_ = "cannot rename to " + destination_.string() + ": " + ec.message();
        } else {
            // Renamed: there is nothing left to remove, here or in a signal handler.
            if (partialSlot_ >= 0) partialOutputs[partialSlot_].store(nullptr);
            partialSlot_ = -1;
            temporary_.clear();
        }
    }
    release();
    return good;
}

} // namespace kestrune
