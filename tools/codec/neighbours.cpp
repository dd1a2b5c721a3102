#include "tools/codec/neighbours.h"

#include "tools/codec/cavlc.h"

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

NeighbourLocation neighbourLocation(const MbNeighbours& n, int mbAddr, int xN, int yN, bool luma)
{
    // Table 6-3.
    const int maxW = luma ? 16 : 8, maxH = maxW;
    int addr = -1;
    if (yN > maxH - 1)
        addr = -1;
    else if (xN < 0)
        addr = yN < 0 ? n.d : n.a;
    else if (xN < maxW)
        addr = yN < 0 ? n.b : mbAddr;
    else
        addr = yN < 0 ? n.c : -1;
    return {addr, (xN + maxW) % maxW, (yN + maxH) % maxH};
}

static NeighbourBlock lumaBlockAt(const MbNeighbours& n, int mbAddr, int x4, int y4)
{
    return {macroblockOfBlock(n, mbAddr, x4, y4), blockIndexAt(x4 & 3, y4 & 3)};
}

static NeighbourBlock chromaBlockAt(const MbNeighbours& n, int mbAddr, int xN, int yN)
{
    NeighbourLocation loc = neighbourLocation(n, mbAddr, xN, yN, false);
    return {loc.mbAddr, 2 * (loc.yW / 4) + loc.xW / 4};
}

NeighbourBlock leftLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return lumaBlockAt(n, mbAddr, kBlockX[blkIdx] - 1, kBlockY[blkIdx]);
}

NeighbourBlock aboveLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return lumaBlockAt(n, mbAddr, kBlockX[blkIdx], kBlockY[blkIdx] - 1);
}

NeighbourBlock leftChromaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return chromaBlockAt(n, mbAddr, 4 * (blkIdx % 2) - 1, 4 * (blkIdx / 2));
}

NeighbourBlock aboveChromaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return chromaBlockAt(n, mbAddr, 4 * (blkIdx % 2), 4 * (blkIdx / 2) - 1);
}

int coeffTokenNc(const MacroblockStates& states, const MbNeighbours& n, int mbAddr, ResidualBlockKind kind, int blkIdx)
{
    // Clauses 6.4.11.4 and 6.4.11.5 worked out for each block once: the
    // block left of / above a block lies in the same macroblock unless the
    // block is in the first column / row.
    static constexpr auto kNeighbourBlocks = [] {
        std::array<std::array<std::uint8_t, 16>, 2> t{};
        for (int blk = 0; blk < 16; ++blk) {
            t[0][blk] = static_cast<std::uint8_t>(blockIndexAt((kBlockX[blk] + 3) % 4, kBlockY[blk]));
            t[1][blk] = static_cast<std::uint8_t>(blockIndexAt(kBlockX[blk], (kBlockY[blk] + 3) % 4));
        }
        return t;
    }();
    int addrA, addrB, blkA, blkB;
    int base = 0;
    switch (kind) {
    case ResidualBlockKind::ChromaDc:
        return kChromaDcNc;
    case ResidualBlockKind::Intra16x16Dc:
        blkIdx = 0;
        [[fallthrough]];
    case ResidualBlockKind::Luma:
        addrA = kBlockX[blkIdx] > 0 ? mbAddr : n.a;
        addrB = kBlockY[blkIdx] > 0 ? mbAddr : n.b;
        blkA = kNeighbourBlocks[0][blkIdx];
        blkB = kNeighbourBlocks[1][blkIdx];
        break;
    default:  // CbAc, CrAc: chroma4x4BlkIdx 0..3 in a 2x2 grid
        base = kind == ResidualBlockKind::CbAc ? kCbBlocks : kCrBlocks;
        addrA = blkIdx & 1 ? mbAddr : n.a;
        addrB = blkIdx & 2 ? mbAddr : n.b;
        blkA = blkIdx ^ 1;
        blkB = blkIdx ^ 2;
        break;
    }
    // P_Skip and I_PCM need no case of their own: their totalCoeff is stored
    // as 0 and 16. (The data-partitioning rule of 9.2.1 has no place in Baseline.)
    const int nA = addrA >= 0 ? states[addrA].totalCoeff[static_cast<std::size_t>(base + blkA)] : 0;
    const int nB = addrB >= 0 ? states[addrB].totalCoeff[static_cast<std::size_t>(base + blkB)] : 0;
    return coeffTokenContext(addrA >= 0, nA, addrB >= 0, nB);
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
