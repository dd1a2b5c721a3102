// h264_analyze.exe: the workbench's NAL unit analyzer and editor.
#include "tools/analyze/analyzer.h"
#include "tools/common/tool_front_end.h"

#include <iostream>
#include <sys/stat.h>

namespace {

// True when standard output and standard error go to different places (as in
// the window's "0 >analyze.txt"), so error lines are repeated on standard output.
bool outputsDiffer()
{
    struct stat out {}, err {};
    if (::fstat(1, &out) != 0 || ::fstat(2, &err) != 0) return false;
    return out.st_dev != err.st_dev || out.st_ino != err.st_ino;
}

} // namespace

int main(int argc, char** argv)
{
    const kestrune::ToolFrontEnd tool(argv[0], "h264_analyze");
    return kestrune::analyze::runAnalyzer(std::vector<std::string>(argv + 1, argv + argc), ".", std::cout, std::cerr,
                                          tool.name(), outputsDiffer());
}
