#pragma once
// A file written under a temporary name beside its destination and renamed
// into place only by commit(), so a failed run never leaves a half-written
// file where a good one was. An uncommitted file is removed on destruction.
//
// The destination is the file a symbolic link points to (the link stays a
// link), a replaced file keeps its permission bits, and a destination that
// exists and is not a regular file (a device, a FIFO) is written directly:
// renaming over it would put a regular file in its place.
#include <cstdio>
#include <filesystem>
#include <string>

namespace kestrune {

class AtomicOutput {
public:
    // Opens the temporary file; ok() tells whether that worked, error() why not.
    explicit AtomicOutput(std::filesystem::path destination);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    bool ok() const { return file_ != nullptr; }
    const std::string& error() const { return error_; }
    bool write(const void* data, std::size_t size);
    // Flushes, closes and renames over the destination; false with error() set on failure.
    bool commit();

private:
    void release();

    std::filesystem::path destination_;  // as named by the caller, for messages
    std::filesystem::path target_;       // the file replaced: the destination with its links followed
    std::filesystem::path temporary_;    // empty when the target is written directly
    std::FILE* file_ = nullptr;
    int partialSlot_ = -1;
    std::string error_;
};

// Removes the temporary file of every AtomicOutput of the process that is
// not yet committed. Only async-signal-safe calls: a signal handler uses it.
void removePartialOutputs() noexcept;

} // namespace kestrune
