#pragma once
// The name a tool was started under, without directory and ".exe", for the
// prefix of its messages: "x264" when the workbench runs it as x264.exe.
#include <string>

namespace kestrune {

std::string programName(const char* argv0, const std::string& fallback);

} // namespace kestrune
