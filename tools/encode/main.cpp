// kestrune-encode: the workbench's H.264 encoder (run by the window as x264.exe).
#include "tools/encode/baseline_run.h"
#include "tools/encode/encode_options.h"
#include "tools/encode/encode_report.h"
#include "tools/encode/encoder.h"

#include <csignal>
#include "tools/common/program_name.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
}

} // namespace

int main(int argc, char** argv)
{
    const kestrune::Console console{kestrune::programName(argv[0], "kestrune-encode"), isatty(STDERR_FILENO) != 0, &interrupted};
    // Ctrl+C ends the run between frames and removes the partial output.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    try {
        const kestrune::EncodeOptions options = kestrune::parseEncodeCommandLine({argv + 1, argv + argc});
        if (options.help) {
            std::fputs(kestrune::encodeUsage().c_str(), stdout);
            return 0;
        }
        // Slice groups need our own encoder; libx264 has none.
        const kestrune::EncodeResult result = options.sliceGroups > 0 ? kestrune::runBaselineEncode(options, console)
                                                                      : kestrune::runEncode(options, console);
        std::fflush(stderr);
        std::printf("%s\n", kestrune::finalLine(result.frames, result.seconds, result.bytes, options.fps).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s [error]: %s\n", console.name.c_str(), error.what());
        return 1;
    }
}
