// kestrune-channel: loss patterns from packet channels (Gilbert, Gilbert-Elliott, traces; RTP packets).
#include "tools/channel/channel_tool.h"
#include "tools/common/tool_front_end.h"
#include "tools/gilbert/gilbert_tool.h"

#include <iostream>

int main(int argc, char** argv)
{
    const kestrune::ToolFrontEnd tool(argv[0], "kestrune-channel");
    return kestrune::channel::runChannel(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                                         tool.name(), kestrune::gilbert::seedFromClock);
}
