#pragma once
// What every tool's main() shares: the name its messages start with, one
// exit status rule, and the removal of partial outputs when a signal ends it.
#include <csignal>
#include <string>

namespace kestrune {

// Exit status of every tool; each --help ends with kExitStatusHelp.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;        // unreadable input, an output that cannot be written
inline constexpr int kExitBadArguments = 2;  // the command line is wrong: nothing was read or written
inline constexpr const char* kExitStatusHelp =
    "Exit status: 0 done, 1 failed (unreadable input or an output not written), 2 bad arguments.\n";

class ToolFrontEnd {
public:
    // The name is argv0 without directory and ".exe" (fallbackName when
    // argv0 is empty). Installs handlers for SIGINT, SIGTERM and SIGHUP that
    // remove every partial output at once; the tool then ends by that
    // signal, or, given a stopFlag, the flag is set and the tool stops
    // itself (a second signal ends it at once).
    ToolFrontEnd(const char* argv0, const std::string& fallbackName, volatile std::sig_atomic_t* stopFlag = nullptr);

    const std::string& name() const { return name_; }
    // "NAME: message" as one line on standard error, after everything
    // already written to standard output; returns exitStatus.
    int fail(int exitStatus, const std::string& message) const;

private:
    std::string name_;
};

} // namespace kestrune
