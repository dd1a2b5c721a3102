// kestrune-make-sample: writes the generated test sequence as planar YUV 4:2:0.
#include "tools/common/atomic_output.h"
#include "tools/common/integer_syntax.h"
#include "tools/common/tool_front_end.h"
#include "tools/sample/sample_sequence.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: kestrune-make-sample [--width W] [--height H] [--frames N] [-o FILE]\n"
    "Writes a deterministic planar YUV 4:2:0 test sequence (25 fps): a textured\n"
    "background under a slow camera pan and zoom, moving textured objects and a\n"
    "little temporal noise.\n"
    "  --width W    picture width, even (default 176)\n"
    "  --height H   picture height, even (default 144)\n"
    "  --frames N   number of frames (default 300)\n"
    "  -o FILE      output file (default sample_WxH.yuv in the current directory)\n"
    "Integers may be decimal or hexadecimal after $, x or 0x.\n";

} // namespace

int main(int argc, char** argv)
{
    const kestrune::ToolFrontEnd tool(argv[0], "kestrune-make-sample");
    auto badArguments = [&](const std::string& message) { return tool.fail(kestrune::kExitBadArguments, message); };
    auto fail = [&](const std::string& message) { return tool.fail(kestrune::kExitFailed, message); };
    int width = 176, height = 144, frames = 300;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kestrune::kExitStatusHelp, stdout);
            return kestrune::kExitDone;
        }
        int* target = arg == "--width" ? &width : arg == "--height" ? &height : arg == "--frames" ? &frames : nullptr;
        if (!target && arg != "-o") return badArguments("unknown option '" + std::string(arg) + "' (see --help)");
        if (i + 1 >= argc) return badArguments("option " + std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        if (!target) {
            if (value.empty()) return badArguments("-o needs a file name");
            output = value;
            continue;
        }
        const auto number = kestrune::parseInteger(value);
        if (!number) return badArguments(std::string(arg) + " needs an integer, not '" + std::string(value) + "'");
        *target = *number;
    }
    if (const std::string error = kestrune::sampleSizeError(width, height); !error.empty()) return badArguments(error);
    if (frames < 1) return badArguments("--frames must be at least 1");
    if (output.empty()) output = kestrune::sampleFileName(width, height);

    kestrune::AtomicOutput out(output);
    if (!out.ok()) return fail(out.error());
    std::vector<std::uint8_t> frame(kestrune::yuv420FrameBytes(width, height));
    const bool progress = isatty(STDERR_FILENO) != 0;
    for (int n = 0; n < frames; ++n) {
        kestrune::renderSampleFrame({width, height}, n, frame);
        if (!out.write(frame.data(), frame.size())) return fail(out.error());
        if (progress && (n % 10 == 9 || n + 1 == frames)) std::fprintf(stderr, "\rframe %d/%d", n + 1, frames);
    }
    if (progress) std::fputs("\n", stderr);
    if (!out.commit()) return fail(out.error());
    return kestrune::kExitDone;
}
