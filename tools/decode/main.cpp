// kestrune-decode: the workbench's H.264 decoder with error concealment (run by the window as ffmpeg.exe).
#include "tools/decode/run.h"

extern "C" {
#include <libavutil/log.h>
}

#include "tools/common/program_name.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace kestrune::decode;
    const std::string name = kestrune::programName(argv[0], "kestrune-decode");
    // Damaged slices make libavcodec complain on every picture; our report says what was lost.
    av_log_set_level(AV_LOG_QUIET);
    const ParsedOptions parsed = parseDecodeOptions({argv + 1, argv + argc});
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), parsed.error.c_str());
        return 2;
    }
    if (parsed.options.help) {
        std::fputs(decodeUsage(), stdout);
        return 0;
    }
    const bool terminal = isatty(STDERR_FILENO) != 0;
    try {
        const RunResult result = runDecode(parsed.options, [&](std::uint64_t done, std::uint64_t total) {
            if (terminal && total > 0) std::fprintf(stderr, "%s: %3d%%\r", name.c_str(), int(done * 100 / total));
        });
        if (terminal) std::fprintf(stderr, "%40s\r", "");
        std::fputs(formatReport(result, parsed.options).c_str(), stdout);
        return 0;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", name.c_str(), error.what());
        return 1;
    }
}
