// kestrune-encode: the workbench's H.264 encoder (run by the window as x264.exe).
#include "tools/common/tool_front_end.h"
#include "tools/encode/baseline_run.h"
#include "tools/encode/encode_options.h"
#include "tools/encode/encode_report.h"
#include "tools/encode/encoder.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;

} // namespace

int main(int argc, char** argv)
{
    // A signal ends the run between frames, with its report line; the partial output is already gone.
    const kestrune::ToolFrontEnd tool(argv[0], "kestrune-encode", &interrupted);
    const kestrune::Console console{tool.name(), isatty(STDERR_FILENO) != 0, &interrupted};
    kestrune::EncodeOptions options;
    try {
        options = kestrune::parseEncodeCommandLine({argv + 1, argv + argc});
    } catch (const kestrune::OptionError& error) {
        return tool.fail(kestrune::kExitBadArguments, error.what());
    }
    if (options.help) {
        std::fputs(kestrune::encodeUsage().c_str(), stdout);
        std::fputs(kestrune::kExitStatusHelp, stdout);
        return kestrune::kExitDone;
    }
    try {
        // Slice groups need our own encoder; libx264 has none.
        const kestrune::EncodeResult result = options.sliceGroups > 0 ? kestrune::runBaselineEncode(options, console)
                                                                      : kestrune::runEncode(options, console);
        std::fflush(stderr);
        std::printf("%s\n", kestrune::finalLine(result.frames, result.seconds, result.bytes, options.fps).c_str());
        return kestrune::kExitDone;
    } catch (const std::exception& error) {
        return tool.fail(kestrune::kExitFailed, error.what());
    }
}
