#pragma once
// Runs a tool as a child process in a given directory and captures what it
// wrote, for tests of the command-line front ends.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrune::testing {

// A whole file's bytes (empty when it cannot be read), and a file written whole.
std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// A fresh empty directory, removed with everything in it on destruction.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Names of the files in the directory, sorted.
    std::vector<std::string> entries() const;

private:
    std::filesystem::path path_;
};

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const std::string& program, const std::vector<std::string>& args,
                const std::filesystem::path& workingDirectory);

// The same in two steps, for tests that act on the tool while it runs.
class StartedTool {
public:
    StartedTool(const std::string& program, const std::vector<std::string>& args,
                const std::filesystem::path& workingDirectory);
    ~StartedTool();
    int pid() const { return pid_; }
    ToolRun wait();

private:
    ScratchDirectory capture_;
    int pid_ = -1;
};

} // namespace kestrune::testing
