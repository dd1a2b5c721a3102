#include "tools/common/program_name.h"

#include <filesystem>

namespace kestrune {

std::string programName(const char* argv0, const std::string& fallback)
{
    std::string name = argv0 ? std::filesystem::path(argv0).filename().string() : std::string();
    if (name.size() > 4 && name.ends_with(".exe")) name.resize(name.size() - 4);
    return name.empty() ? fallback : name;
}

} // namespace kestrune
