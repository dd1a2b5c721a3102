#include "tools/codec/neighbours.h"

#include "tools/codec/cavlc.h"

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

static NeighbourBlock lumaBlockAt(const MbNeighbours& n, int mbAddr, int xN, int yN)
{
    NeighbourLocation loc = neighbourLocation(n, mbAddr, xN, yN, true);
    return {loc.mbAddr, blockIndexAt(loc.xW / 4, loc.yW / 4)};
}

static NeighbourBlock chromaBlockAt(const MbNeighbours& n, int mbAddr, int xN, int yN)
{
    NeighbourLocation loc = neighbourLocation(n, mbAddr, xN, yN, false);
    return {loc.mbAddr, 2 * (loc.yW / 4) + loc.xW / 4};
}

NeighbourBlock leftLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return lumaBlockAt(n, mbAddr, 4 * kBlockX[blkIdx] - 1, 4 * kBlockY[blkIdx]);
}

NeighbourBlock aboveLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx)
{
    return lumaBlockAt(n, mbAddr, 4 * kBlockX[blkIdx], 4 * kBlockY[blkIdx] - 1);
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
    NeighbourBlock a, b;
    int base = 0;
    switch (kind) {
    case ResidualBlockKind::ChromaDc:
        return -1;
    case ResidualBlockKind::Intra16x16Dc:
        blkIdx = 0;
        [[fallthrough]];
    case ResidualBlockKind::Luma:
        a = leftLumaBlock(n, mbAddr, blkIdx);
        b = aboveLumaBlock(n, mbAddr, blkIdx);
        break;
    case ResidualBlockKind::CbAc:
    case ResidualBlockKind::CrAc:
        base = kind == ResidualBlockKind::CbAc ? kCbBlocks : kCrBlocks;
        a = leftChromaBlock(n, mbAddr, blkIdx);
        b = aboveChromaBlock(n, mbAddr, blkIdx);
        break;
    }
    // P_Skip and I_PCM need no case of their own: their totalCoeff is stored
    // as 0 and 16. (The data-partitioning rule of 9.2.1 has no place in Baseline.)
    int nA = a.mbAddr >= 0 ? states[a.mbAddr].totalCoeff[static_cast<std::size_t>(base + a.blkIdx)] : 0;
    int nB = b.mbAddr >= 0 ? states[b.mbAddr].totalCoeff[static_cast<std::size_t>(base + b.blkIdx)] : 0;
    return coeffTokenContext(a.mbAddr >= 0, nA, b.mbAddr >= 0, nB);
}

} // namespace kestrune::codec
