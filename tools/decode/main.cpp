// kestrune-decode: the workbench's H.264 decoder with error concealment (run by the window as ffmpeg.exe).
#include "tools/decode/run.h"

extern "C" {
#include <libavutil/log.h>
}

#include "tools/common/tool_front_end.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace kestrune::decode;
    const kestrune::ToolFrontEnd tool(argv[0], "kestrune-decode");
    const std::string& name = tool.name();
    // Damaged slices make libavcodec complain on every picture; our report says what was lost.
    av_log_set_level(AV_LOG_QUIET);
    const ParsedOptions parsed = parseDecodeOptions({argv + 1, argv + argc});
    if (!parsed.error.empty()) return tool.fail(kestrune::kExitBadArguments, parsed.error);
    if (parsed.options.help) {
        std::fputs(decodeUsage(), stdout);
        std::fputs(kestrune::kExitStatusHelp, stdout);
        return kestrune::kExitDone;
    }
    const bool terminal = isatty(STDERR_FILENO) != 0;
    try {
        const RunResult result = runDecode(parsed.options, [&](std::uint64_t done, std::uint64_t total) {
            if (terminal && total > 0) std::fprintf(stderr, "%s: %3d%%\r", name.c_str(), int(done * 100 / total));
        });
        if (terminal) std::fprintf(stderr, "%40s\r", "");
        std::fputs(formatReport(result, parsed.options).c_str(), stdout);
        return kestrune::kExitDone;
    } catch (const std::exception& error) {
        return tool.fail(kestrune::kExitFailed, error.what());
    }
}
