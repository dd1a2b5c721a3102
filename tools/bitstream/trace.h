#pragma once
// A record of parsed syntax elements in stream order, for descriptions.
#include <string>
#include <vector>

namespace kestrune::h264 {

struct TraceEntry {
    std::string name;   // the standard's snake_case name, with [index] when in a loop
    long long value = 0;
};

using Trace = std::vector<TraceEntry>;

} // namespace kestrune::h264
