// gilbert.exe: the workbench's loss-pattern generator.
#include "tools/gilbert/gilbert_tool.h"

#include <filesystem>
#include <iostream>

int main(int argc, char** argv)
{
    const std::string program = argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "gilbert";
    return kestrune::gilbert::runGilbert(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, program,
                                         kestrune::gilbert::seedFromClock);
}
