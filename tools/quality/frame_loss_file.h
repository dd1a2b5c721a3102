#pragma once
// The decoder's per-frame loss file, written beside its output as
// OUTPUT.mbloss: a first line "WIDTHxHEIGHT FRAMES", then one line per output
// frame, "LOST CONCEALED" (macroblock counts) or, with the macroblock detail
// the frame viewer draws, "LOST CONCEALED TYPE CODES [GROUPS]": TYPE is the
// picture type (I, P, B; R for a lost picture written as a repeat), CODES one
// character per macroblock in raster order (the kMb codes below) and GROUPS,
// only for pictures with more than one slice group, the slice group of each
// macroblock as one digit. Both line forms may appear in one file.
#include <optional>
#include <string>
#include <vector>

namespace kestrune::quality {

inline constexpr char kMbDecoded = '.';            // decoded from the stream, predicted from undamaged areas
inline constexpr char kMbFromDamage = 'p';         // decoded, but predicted from a damaged area of the previous picture
inline constexpr char kMbLost = 'X';               // lost and left mid-grey (no concealment)
inline constexpr char kMbRepeated = 'R';           // the whole picture lost: the previous frame repeated
inline constexpr char kMbAverageDc = 'D';          // lost, concealed by these methods
inline constexpr char kMbAverageMacroblock = 'M';
inline constexpr char kMbBilinear = 'B';
inline constexpr char kMbBoundaryMatching = 'V';

// The concealment method named by a macroblock code; empty for decoded and lost codes.
const char* concealmentOfCode(char code);
bool isDamageCode(char code);  // anything but kMbDecoded

struct FrameLossEntry {
    int lost = 0;
    int concealed = 0;
    char type = 0;             // 0 when the line has no detail
    std::string macroblocks;   // CODES; empty when the line has no detail
    std::string sliceGroups;   // GROUPS; empty: one slice group (or no detail)
    bool operator==(const FrameLossEntry&) const = default;
};

struct FrameLossFile {
    int width = 0;
    int height = 0;
    std::vector<FrameLossEntry> frames;
    bool operator==(const FrameLossFile&) const = default;
    int mbWidth() const { return (width + 15) / 16; }
    int mbHeight() const { return (height + 15) / 16; }
};

std::string frameLossPath(const std::string& outputPath);
std::string formatFrameLoss(const FrameLossFile& file);
// Nothing when the text is not such a file (the frame count must match the
// lines, the codes and groups one per macroblock of the size).
std::optional<FrameLossFile> parseFrameLoss(const std::string& text);

} // namespace kestrune::quality
