// Neighbour look-ups: the per-block shortcuts against the general location
// rules of clause 6.4.12, over pictures cut into random slices.
#include <gtest/gtest.h>

#include <random>

#include "tools/codec/cavlc.h"
#include "tools/codec/neighbours.h"

namespace kestrune::codec {
namespace {

// Clause 6.4.12 (Table 6-3) sample by sample, the reference for the block
// shortcuts: the macroblock holding location (xN, yN) relative to mbAddr's
// top-left sample (-1 = not available) and the location inside it, for
// maxW = maxH = 16 (luma) or 8 (chroma).
struct Location {
    int mbAddr = -1;
    int xW = 0;
    int yW = 0;
};
Location locate(const MbNeighbours& n, int mbAddr, int xN, int yN, int maxW)
{
    int addr = -1;
    if (yN > maxW - 1)
        addr = -1;
    else if (xN < 0)
        addr = yN < 0 ? n.d : n.a;
    else if (xN < maxW)
        addr = yN < 0 ? n.b : mbAddr;
    else
        addr = yN < 0 ? n.c : -1;
    return {addr, (xN + maxW) % maxW, (yN + maxW) % maxW};
}

// Clause 6.4.11.5 for 4:2:0: the chroma block holding location (xN, yN), and
// those left of / above chroma4x4BlkIdx blk.
NeighbourBlock chromaBlockAt(const MbNeighbours& n, int mbAddr, int xN, int yN)
{
    const Location loc = locate(n, mbAddr, xN, yN, 8);
    return {loc.mbAddr, 2 * (loc.yW / 4) + loc.xW / 4};
}
NeighbourBlock leftChromaBlock(const MbNeighbours& n, int mbAddr, int blk)
{
    return chromaBlockAt(n, mbAddr, 4 * (blk % 2) - 1, 4 * (blk / 2));
}
NeighbourBlock aboveChromaBlock(const MbNeighbours& n, int mbAddr, int blk)
{
    return chromaBlockAt(n, mbAddr, 4 * (blk % 2), 4 * (blk / 2) - 1);
}

TEST(NeighboursTest, BlockLookupAgreesWithTheSampleLocationRules)
{
    // Every sample of every 4x4 block around and inside a macroblock, with
    // each combination of available neighbours.
    for (int mask = 0; mask < 16; ++mask) {
        MbNeighbours n;
        n.a = mask & 1 ? 10 : -1;
        n.b = mask & 2 ? 11 : -1;
        n.c = mask & 4 ? 12 : -1;
        n.d = mask & 8 ? 13 : -1;
        for (int yN = -1; yN < 16; ++yN)
            for (int xN = -1; xN < 20; ++xN) {
                const Location loc = locate(n, 5, xN, yN, 16);
                const int x4 = xN < 0 ? -1 : xN / 4, y4 = yN < 0 ? -1 : yN / 4;
                ASSERT_EQ(macroblockOfBlock(n, 5, x4, y4), loc.mbAddr) << mask << " " << xN << " " << yN;
                if (loc.mbAddr >= 0) {
                    ASSERT_EQ(blockIndexAt(x4 & 3, y4 & 3), blockIndexAt(loc.xW / 4, loc.yW / 4));
                }
            }
    }
}

TEST(NeighboursTest, NcReadsTheBlocksTheLocationRulesName)
{
    std::mt19937 rng(11);
    for (int picture = 0; picture < 40; ++picture) {
        MacroblockStates s(1 + static_cast<int>(rng() % 5), 1 + static_cast<int>(rng() % 4));
        // Slices of random lengths in raster order, then random totals.
        int slice = 0;
        for (int mb = 0; mb < s.size(); ++mb) {
            if (rng() % 3 == 0) ++slice;
            s[mb].sliceNum = slice;
            for (auto& t : s[mb].totalCoeff) t = static_cast<std::uint8_t>(rng() % 17);
        }
        for (int mb = 0; mb < s.size(); ++mb) {
            const MbNeighbours n = macroblockNeighbours(s, mb);
            auto expected = [&](NeighbourBlock a, NeighbourBlock b, int base) {
                const int nA = a.mbAddr >= 0 ? s[a.mbAddr].totalCoeff[static_cast<std::size_t>(base + a.blkIdx)] : 0;
                const int nB = b.mbAddr >= 0 ? s[b.mbAddr].totalCoeff[static_cast<std::size_t>(base + b.blkIdx)] : 0;
                return coeffTokenContext(a.mbAddr >= 0, nA, b.mbAddr >= 0, nB);
            };
            const MacroblockCoeffTokenContexts perMacroblock(s, n);
            for (int blk = 0; blk < 16; ++blk)
                ASSERT_EQ(perMacroblock.luma(s[mb], blk), expected(leftLumaBlock(n, mb, blk), aboveLumaBlock(n, mb, blk), 0))
                    << picture << " " << mb << " " << blk;
            for (int blk = 0; blk < 4; ++blk) {
                ASSERT_EQ(perMacroblock.chroma(s[mb], 0, blk),
                          expected(leftChromaBlock(n, mb, blk), aboveChromaBlock(n, mb, blk), kCbBlocks));
                ASSERT_EQ(perMacroblock.chroma(s[mb], 1, blk),
                          expected(leftChromaBlock(n, mb, blk), aboveChromaBlock(n, mb, blk), kCrBlocks));
            }
            // The encoder's one-block form: each kind reads the right blocks.
            ASSERT_EQ(coeffTokenNc(s, n, mb, ResidualBlockKind::Intra16x16Dc, 7), perMacroblock.luma(s[mb], 0));
            ASSERT_EQ(coeffTokenNc(s, n, mb, ResidualBlockKind::Luma, 13), perMacroblock.luma(s[mb], 13));
            ASSERT_EQ(coeffTokenNc(s, n, mb, ResidualBlockKind::CrAc, 2), perMacroblock.chroma(s[mb], 1, 2));
            ASSERT_EQ(coeffTokenNc(s, n, mb, ResidualBlockKind::ChromaDc, 0), kChromaDcNc);
        }
    }
}

} // namespace
} // namespace kestrune::codec
