#include "tools/common/tool_front_end.h"

#include "tools/common/atomic_output.h"
#include "tools/common/program_name.h"

#include <cstdio>

namespace kestrune {
namespace {

volatile std::sig_atomic_t* stopRequested = nullptr;

extern "C" void onEndingSignal(int signal)
{
    removePartialOutputs();
    if (stopRequested && !*stopRequested) {
        *stopRequested = 1;
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);  // delivered when this handler returns: the tool ends by the signal
}

} // namespace

ToolFrontEnd::ToolFrontEnd(const char* argv0, const std::string& fallbackName, volatile std::sig_atomic_t* stopFlag)
    : name_(programName(argv0, fallbackName))
{
    stopRequested = stopFlag;
    struct sigaction action {};
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int ToolFrontEnd::fail(int exitStatus, const std::string& message) const
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", name_.c_str(), message.c_str());
    return exitStatus;
}

} // namespace kestrune
