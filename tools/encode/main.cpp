// kestrune-encode: the workbench's H.264 encoder (run by the window as x264.exe).
#include "tools/encode/encode_options.h"
#include "tools/encode/encode_report.h"
#include "tools/encode/encoder.h"
#include "tools/encode/yuv_input.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The name the program was started under, without ".exe": "x264" in the workbench folder.
std::string reportName(const char* argv0)
{
    std::string name = argv0 ? std::filesystem::path(argv0).filename().string() : std::string();
    if (name.size() > 4 && name.ends_with(".exe")) name.resize(name.size() - 4);
    return name.empty() ? std::string("kestrune-encode") : name;
}

} // namespace

int main(int argc, char** argv)
{
    const kestrune::ReportStyle style{reportName(argv[0]), isatty(STDERR_FILENO) != 0};
    try {
        const kestrune::EncodeOptions options = kestrune::parseEncodeCommandLine({argv + 1, argv + argc});
        if (options.help) {
            std::fputs(kestrune::encodeUsage().c_str(), stdout);
            return 0;
        }
        const kestrune::EncodeResult result = kestrune::runEncode(options, style);
        std::fflush(stderr);
        std::printf("%s\n", kestrune::finalLine(result.frames, result.seconds, result.bytes, options.fps).c_str());
        return 0;
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s [error]: %s\n", style.name.c_str(), error.what());
        return 1;
    }
}
