#include "tools/decode/damage_map.h"

#include "tools/quality/frame_loss_file.h"

#include <algorithm>

namespace kestrune::decode {

namespace {

// Luma samples read beyond a block for one vector component (quarter
// samples): the six-tap filter reaches two before and three after at
// fractional luma positions; chroma's bilinear filter, at fractional eighth
// chroma positions, one chroma sample (two luma samples) after. A whole-sample
// vector reads only the block, so still areas do not spread the marks.
int reachBefore(int component) { return (component & 3) ? 2 : 0; }
int reachAfter(int component) { return (component & 3) ? 3 : (component & 7) ? 2 : 0; }

} // namespace

std::vector<bool> predictedFromDamage(const MotionField& field, const MbGrid& grid,
                                      const std::vector<bool>& referenceDamage)
{
    std::vector<bool> marked(grid.states.size(), false);
    if (referenceDamage.size() != grid.states.size() || field.blocksWide() != grid.width * 4
        || field.blocksHigh() != grid.height * 4)
        return marked;
    const int width = grid.width * 16, height = grid.height * 16;
    for (int mbY = 0; mbY < grid.height; ++mbY)
        for (int mbX = 0; mbX < grid.width; ++mbX) {
            if (grid.at(mbX, mbY) != MbState::Correct) continue;
            bool damaged = false;
            for (int b = 0; b < 16 && !damaged; ++b) {
                const int bx = mbX * 4 + b % 4, by = mbY * 4 + b / 4;
                const MotionVector* mv = field.get(bx, by);
                if (!mv) continue;
                const int x0 = std::clamp(bx * 4 + (mv->x >> 2) - reachBefore(mv->x), 0, width - 1);
                const int y0 = std::clamp(by * 4 + (mv->y >> 2) - reachBefore(mv->y), 0, height - 1);
                const int x1 = std::clamp(bx * 4 + (mv->x >> 2) + 3 + reachAfter(mv->x), 0, width - 1);
                const int y1 = std::clamp(by * 4 + (mv->y >> 2) + 3 + reachAfter(mv->y), 0, height - 1);
                for (int ry = y0 / 16; ry <= y1 / 16 && !damaged; ++ry)
                    for (int rx = x0 / 16; rx <= x1 / 16 && !damaged; ++rx)
                        damaged = referenceDamage[std::size_t(ry) * std::size_t(grid.width) + std::size_t(rx)];
            }
            marked[std::size_t(mbY) * std::size_t(grid.width) + std::size_t(mbX)] = damaged;
        }
    return marked;
}

std::string macroblockCodes(const MbGrid& grid, char concealedCode, const std::vector<bool>& fromDamage)
{
    std::string codes(grid.states.size(), quality::kMbDecoded);
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (grid.states[i] == MbState::Lost) codes[i] = quality::kMbLost;
        else if (grid.states[i] == MbState::Concealed) codes[i] = concealedCode;
        else if (i < fromDamage.size() && fromDamage[i]) codes[i] = quality::kMbFromDamage;
    }
    return codes;
}

std::vector<bool> damageOfCodes(const std::string& codes)
{
    std::vector<bool> damage(codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i) damage[i] = quality::isDamageCode(codes[i]);
    return damage;
}

char methodCode(IntraMethod method)
{
    switch (method) {
        case IntraMethod::AverageDc: return quality::kMbAverageDc;
        case IntraMethod::AverageMacroblock: return quality::kMbAverageMacroblock;
        case IntraMethod::Bilinear: return quality::kMbBilinear;
        case IntraMethod::None: break;
    }
    return quality::kMbLost;
}

char methodCode(InterMethod method)
{
    return method == InterMethod::BoundaryMatching ? quality::kMbBoundaryMatching : quality::kMbLost;
}

} // namespace kestrune::decode
