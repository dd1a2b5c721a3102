#include "tools/codec/neighbours.h"

#include <array>

namespace kestrune::codec {

MbNeighbours macroblockNeighbours(const MacroblockStates& states, int mbAddr)
{
    const int w = states.widthInMbs();
    const int slice = states[mbAddr].sliceNum;
    const int x = mbAddr % w;
    const bool hasLeft = x > 0, hasAbove = mbAddr >= w, hasRight = x < w - 1;
    auto pick = [&](bool inside, int addr) { return inside && slice >= 0 && states[addr].sliceNum == slice ? addr : -1; };
    MbNeighbours n;
    n.a = pick(hasLeft, mbAddr - 1);
    n.b = pick(hasAbove, mbAddr - w);
    n.c = pick(hasAbove && hasRight, mbAddr - w + 1);
    n.d = pick(hasAbove && hasLeft, mbAddr - w - 1);
    return n;
}

static NeighbourBlock lumaBlockAt(const MbNeighbours& n, int mbAddr, int x4, int y4)
{
    return {macroblockOfBlock(n, mbAddr, x4, y4), blockIndexAt(x4 & 3, y4 & 3)};
}

NeighbourBlock leftLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return lumaBlockAt(n, mbAddr, kBlockX[blkIdx] - 1, kBlockY[blkIdx]);
}

NeighbourBlock aboveLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return lumaBlockAt(n, mbAddr, kBlockX[blkIdx], kBlockY[blkIdx] - 1);
}

int coeffTokenNc(const MacroblockStates& states, const MbNeighbours& n, int mbAddr, ResidualBlockKind kind, int blkIdx)
{
    if (kind == ResidualBlockKind::ChromaDc) return kChromaDcNc;
    const MacroblockCoeffTokenContexts contexts(states, n);
    const MacroblockState& current = states[mbAddr];
    switch (kind) {
    case ResidualBlockKind::ChromaDc: break;
    case ResidualBlockKind::Intra16x16Dc: return contexts.luma(current, 0);
    case ResidualBlockKind::Luma: return contexts.luma(current, blkIdx);
    case ResidualBlockKind::CbAc: return contexts.chroma(current, 0, blkIdx);
    case ResidualBlockKind::CrAc: return contexts.chroma(current, 1, blkIdx);
    }
    return 0;
}

MacroblockCoeffTokenContexts::MacroblockCoeffTokenContexts(const MacroblockStates& states, const MbNeighbours& n)
{
    left_.fill(-1);
    above_.fill(-1);
    if (n.a >= 0) {
        const auto& t = states[n.a].totalCoeff;
        for (int y = 0; y < 4; ++y) left_[static_cast<std::size_t>(y)] = t[static_cast<std::size_t>(blockIndexAt(3, y))];
        for (int p = 0; p < 2; ++p)
            for (int y = 0; y < 2; ++y)
                left_[static_cast<std::size_t>(4 + 2 * p + y)] = t[static_cast<std::size_t>((p == 0 ? kCbBlocks : kCrBlocks) + 2 * y + 1)];
    }
    if (n.b >= 0) {
        const auto& t = states[n.b].totalCoeff;
        for (int x = 0; x < 4; ++x) above_[static_cast<std::size_t>(x)] = t[static_cast<std::size_t>(blockIndexAt(x, 3))];
        for (int p = 0; p < 2; ++p)
            for (int x = 0; x < 2; ++x)
                above_[static_cast<std::size_t>(4 + 2 * p + x)] = t[static_cast<std::size_t>((p == 0 ? kCbBlocks : kCrBlocks) + 2 + x)];
    }
}

} // namespace kestrune::codec
