// gilbert.exe: the workbench's loss-pattern generator.
#include "tools/common/tool_front_end.h"
#include "tools/gilbert/gilbert_tool.h"

#include <iostream>

int main(int argc, char** argv)
{
    const kestrune::ToolFrontEnd tool(argv[0], "gilbert");
    return kestrune::gilbert::runGilbert(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                                         tool.name(), kestrune::gilbert::seedFromClock);
}
