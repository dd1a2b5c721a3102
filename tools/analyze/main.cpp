// h264_analyze.exe: the workbench's NAL unit analyzer and editor.
#include "tools/analyze/analyzer.h"

#include <filesystem>
#include <iostream>

int main(int argc, char** argv)
{
    const std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "h264_analyze";
    return kestrune::analyze::runAnalyzer(std::vector<std::string>(argv + 1, argv + argc), ".", std::cout, std::cerr, program);
}
