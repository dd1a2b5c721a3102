// kestrune-quality: PSNR and SSIM between two YUV files, frame by frame.
#include "tools/quality/quality.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    using namespace kestrune::quality;
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    QualityOptions options;
    if (const std::string error = parseQualityOptions(arguments, options); !error.empty()) {
        std::fprintf(stderr, "kestrune-quality: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(qualityUsage(), stdout);
        return 0;
    }
    try {
        const Comparison c = compareFiles(options.first, options.second, options.layout, options.frames);
        if (c.framesInFirst != c.framesInSecond)
            std::fprintf(stderr, "kestrune-quality: frame counts differ (%lld and %lld); compared %zu\n",
                         c.framesInFirst, c.framesInSecond, c.frames.size());
        if (c.partialFrame) std::fprintf(stderr, "kestrune-quality: a file ends with a partial frame (wrong size?)\n");
        if (c.frames.empty()) {
            std::fprintf(stderr, "kestrune-quality: no frame to compare\n");
            return 1;
        }
        std::fputs((options.csv ? formatCsv(c) : formatTable(c)).c_str(), stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrune-quality: %s\n", e.what());
        return 1;
    }
    return 0;
}
