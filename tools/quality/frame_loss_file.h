#pragma once
// The decoder's per-frame loss file, written beside its output as
// OUTPUT.mbloss: a first line "WIDTHxHEIGHT FRAMES", then one line
// "LOST CONCEALED" (macroblock counts) per output frame. The workbench reads
// it to tell which frames held lost macroblocks.
#include <optional>
#include <string>
#include <vector>

namespace kestrune::quality {

struct FrameLossEntry {
    int lost = 0;
    int concealed = 0;
    bool operator==(const FrameLossEntry&) const = default;
};

struct FrameLossFile {
    int width = 0;
    int height = 0;
    std::vector<FrameLossEntry> frames;
    bool operator==(const FrameLossFile&) const = default;
};

std::string frameLossPath(const std::string& outputPath);
std::string formatFrameLoss(const FrameLossFile& file);
// Nothing when the text is not such a file (the frame count must match the lines).
std::optional<FrameLossFile> parseFrameLoss(const std::string& text);

} // namespace kestrune::quality
