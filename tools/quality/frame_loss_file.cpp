#include "tools/quality/frame_loss_file.h"

#include <cstdio>
#include <sstream>

namespace kestrune::quality {

std::string frameLossPath(const std::string& outputPath) { return outputPath + ".mbloss"; }

std::string formatFrameLoss(const FrameLossFile& file)
{
    std::string text = std::to_string(file.width) + 'x' + std::to_string(file.height) + ' '
        + std::to_string(file.frames.size()) + '\n';
    for (const FrameLossEntry& f : file.frames) text += std::to_string(f.lost) + ' ' + std::to_string(f.concealed) + '\n';
    return text;
}

std::optional<FrameLossFile> parseFrameLoss(const std::string& text)
{
    std::istringstream in(text);
    FrameLossFile file;
    std::string size;
    long long count = 0;
    if (!(in >> size >> count) || count < 0) return std::nullopt;
    char x = 0, rest = 0;
    if (std::sscanf(size.c_str(), "%d%c%d%c", &file.width, &x, &file.height, &rest) != 3 || x != 'x' || file.width <= 0
        || file.height <= 0)
        return std::nullopt;
    for (long long i = 0; i < count; ++i) {
        FrameLossEntry entry;
        if (!(in >> entry.lost >> entry.concealed) || entry.lost < 0 || entry.concealed < 0) return std::nullopt;
        file.frames.push_back(entry);
    }
    std::string extra;
    if (in >> extra) return std::nullopt;
    return file;
}

} // namespace kestrune::quality
