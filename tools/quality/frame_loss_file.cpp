#include "tools/quality/frame_loss_file.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace kestrune::quality {

const char* concealmentOfCode(char code)
{
    switch (code) {
        case kMbAverageDc: return "average DC";
        case kMbAverageMacroblock: return "average macroblock";
        case kMbBilinear: return "bilinear";
        case kMbBoundaryMatching: return "boundary matching";
        case kMbRepeated: return "previous frame";
        default: return "";
    }
}

bool isDamageCode(char code) { return code != kMbDecoded; }

std::string frameLossPath(const std::string& outputPath) { return outputPath + ".mbloss"; }

std::string formatFrameLoss(const FrameLossFile& file)
{
    std::string text = std::to_string(file.width) + 'x' + std::to_string(file.height) + ' '
        + std::to_string(file.frames.size()) + '\n';
    for (const FrameLossEntry& f : file.frames) {
        text += std::to_string(f.lost) + ' ' + std::to_string(f.concealed);
        if (f.type && !f.macroblocks.empty()) {
            text += ' ';
            text += f.type;
            text += ' ' + f.macroblocks;
            if (!f.sliceGroups.empty()) text += ' ' + f.sliceGroups;
        }
        text += '\n';
    }
    return text;
}

namespace {

bool validCodes(const std::string& codes, std::size_t macroblocks)
{
    static const std::string known{kMbDecoded, kMbFromDamage, kMbLost, kMbRepeated, kMbAverageDc,
                                   kMbAverageMacroblock, kMbBilinear, kMbBoundaryMatching};
    return codes.size() == macroblocks
        && std::all_of(codes.begin(), codes.end(), [](char c) { return known.find(c) != std::string::npos; });
}

bool validGroups(const std::string& groups, std::size_t macroblocks)
{
    return groups.size() == macroblocks
        && std::all_of(groups.begin(), groups.end(), [](char c) { return c >= '0' && c <= '7'; });
}

} // namespace

std::optional<FrameLossFile> parseFrameLoss(const std::string& text)
{
    std::istringstream in(text);
    FrameLossFile file;
    std::string line, size;
    long long count = 0;
    if (!std::getline(in, line)) return std::nullopt;
    std::istringstream header(line);
    std::string extraField;
    if (!(header >> size >> count) || count < 0 || (header >> extraField)) return std::nullopt;
    char x = 0, rest = 0;
    if (std::sscanf(size.c_str(), "%d%c%d%c", &file.width, &x, &file.height, &rest) != 3 || x != 'x' || file.width <= 0
        || file.height <= 0)
        return std::nullopt;
    const std::size_t macroblocks = std::size_t(file.mbWidth()) * std::size_t(file.mbHeight());
    for (long long i = 0; i < count; ++i) {
        if (!std::getline(in, line)) return std::nullopt;
        std::istringstream fields(line);
        FrameLossEntry entry;
        if (!(fields >> entry.lost >> entry.concealed) || entry.lost < 0 || entry.concealed < 0) return std::nullopt;
        std::string type;
        if (fields >> type) {
            if (type.size() != 1 || std::string("IPBR").find(type[0]) == std::string::npos) return std::nullopt;
            entry.type = type[0];
            if (!(fields >> entry.macroblocks) || !validCodes(entry.macroblocks, macroblocks)) return std::nullopt;
            if ((fields >> entry.sliceGroups) && !validGroups(entry.sliceGroups, macroblocks)) return std::nullopt;
            if (fields >> extraField) return std::nullopt;
        }
        file.frames.push_back(std::move(entry));
    }
    if (in >> extraField) return std::nullopt;
    return file;
}

} // namespace kestrune::quality
