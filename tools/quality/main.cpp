// kestrune-quality: PSNR and SSIM between two YUV files, frame by frame.
#include "tools/common/tool_front_end.h"
#include "tools/quality/quality.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    using namespace kestrune::quality;
    const kestrune::ToolFrontEnd tool(argv[0], "kestrune-quality");
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    QualityOptions options;
    if (const std::string error = parseQualityOptions(arguments, options); !error.empty())
        return tool.fail(kestrune::kExitBadArguments, error);
    if (options.help) {
        std::fputs(qualityUsage(), stdout);
        std::fputs(kestrune::kExitStatusHelp, stdout);
        return kestrune::kExitDone;
    }
    const char* name = tool.name().c_str();
    try {
        const Comparison c = compareFiles(options.first, options.second, options.layout, options.frames);
        if (c.framesInFirst != c.framesInSecond)
            std::fprintf(stderr, "%s: frame counts differ (%lld and %lld); compared %zu\n", name,
                         c.framesInFirst, c.framesInSecond, c.frames.size());
        if (c.partialFrame) std::fprintf(stderr, "%s: a file ends with a partial frame (wrong size?)\n", name);
        if (c.frames.empty()) return tool.fail(kestrune::kExitFailed, "no frame to compare");
        std::fputs((options.csv ? formatCsv(c) : formatTable(c)).c_str(), stdout);
    } catch (const std::exception& e) {
        return tool.fail(kestrune::kExitFailed, e.what());
    }
    return kestrune::kExitDone;
}
