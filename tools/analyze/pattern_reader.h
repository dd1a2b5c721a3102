#pragma once
// Reads the integers of a text file (such as a loss pattern) by the
// workbench's text-file rules: byte 0x1A ends the file; each number is the run
// of bytes above 0x20 (at most 32 of them) after any bytes up to 0x20; past
// the end every read yields 0. A run that is not an integer is an error.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrune::analyze {

class PatternReader {
public:
    explicit PatternReader(const std::filesystem::path& path);
    ~PatternReader();
    PatternReader(const PatternReader&) = delete;
    PatternReader& operator=(const PatternReader&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    // The next integer, 0 past the end; nullopt (error() set) for a run that
    // is not an integer.
    std::optional<std::int32_t> next();
    const std::string& error() const { return error_; }

private:
    int get();

    std::FILE* file_ = nullptr;
    bool ended_ = false;
    int pushedBack_ = -1;
    std::string error_;
};

} // namespace kestrune::analyze
