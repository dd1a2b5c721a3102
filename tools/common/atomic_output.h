#pragma once
// A file written under a temporary name beside its destination and renamed
// into place only by commit(), so a failed run never leaves a half-written
// file where a good one was. An uncommitted file is removed on destruction.
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
    std::FILE* file() const { return file_; }
    bool write(const void* data, std::size_t size);
    // Flushes, closes and renames over the destination; false with error() set on failure.
    bool commit();

private:
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    std::FILE* file_ = nullptr;
    std::string error_;
};

} // namespace kestrune
