#pragma once
// Neighbouring macroblocks, 4x4 blocks and sample locations with their
// availability (H.264 clause 6.4): a neighbour is available only when it lies
// inside the picture and belongs to the same slice as the current macroblock
// (equal MacroblockState::sliceNum). Constrained intra prediction is not
// applied here; intra_prediction.h does that.
#include "tools/codec/cavlc.h"
#include "tools/codec/macroblock_state.h"

#include <array>
#include <cstdint>

namespace kestrune::codec {

// mbAddrA (left), B (above), C (above right), D (above left) of clause 6.4.9;
// -1 where not available.
struct MbNeighbours {
    int a = -1;
    int b = -1;
    int c = -1;
    int d = -1;
};

// Expects states[mbAddr].sliceNum already set to the current slice.
MbNeighbours macroblockNeighbours(const MacroblockStates& states, int mbAddr);

// Clause 6.4.12 at the granularity of 4x4 luma blocks: the macroblock
// holding the block at (x4, y4) in block units relative to the current
// macroblock mbAddr, x4 in -1..4, y4 in -1..3 (-1 = not available; right of
// the macroblock only row -1 is, Table 6-3); the block inside it is
// blockIndexAt(x4 & 3, y4 & 3). Motion vector and intra 4x4 neighbours ask
// this for every partition, so it stays inline.
inline int macroblockOfBlock(const MbNeighbours& n, int mbAddr, int x4, int y4)
{
    if (y4 < 0) return x4 < 0 ? n.d : x4 < 4 ? n.b : n.c;
    if (x4 < 0) return n.a;
    return x4 < 4 ? mbAddr : -1;
}

// A neighbouring 4x4 block: macroblock (-1 = not available) and block index
// (luma4x4BlkIdx, or chroma4x4BlkIdx 0..3 for chroma).
struct NeighbourBlock {
    int mbAddr = -1;
    int blkIdx = 0;
};

// Clause 6.4.11.4: the 4x4 luma block left of (A) / above (B) block blkIdx.
NeighbourBlock leftLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx);
NeighbourBlock aboveLumaBlock(const MbNeighbours& n, int mbAddr, int blkIdx);

// Which residual block a CAVLC coeff_token belongs to, for nC.
enum class ResidualBlockKind { Luma, Intra16x16Dc, ChromaDc, CbAc, CrAc };

// nC of clause 9.2.1 for the block blkIdx (luma4x4BlkIdx, or
// chroma4x4BlkIdx for CbAc/CrAc; ignored for the DC kinds: Intra16x16Dc uses
// block 0, ChromaDc is always -1). Reads totalCoeff of the available
// neighbours, including blocks of the current macroblock coded earlier, so
// states[mbAddr].totalCoeff must hold the blocks coded so far. One block's
// worth of MacroblockCoeffTokenContexts, for the encoder.
int coeffTokenNc(const MacroblockStates& states, const MbNeighbours& n, int mbAddr, ResidualBlockKind kind, int blkIdx);

// The same nC for every block of one macroblock, with the totals of the
// neighbouring macroblocks' edge blocks read once: the decoder asks for up
// to 25 blocks per macroblock.
class MacroblockCoeffTokenContexts {
public:
    MacroblockCoeffTokenContexts(const MacroblockStates& states, const MbNeighbours& n);

    // Luma block blkIdx (Intra16x16Dc: block 0) and chroma AC block blkIdx of
    // plane 0 (Cb) or 1 (Cr); current holds the totals coded so far.
    int luma(const MacroblockState& current, int blkIdx) const
    {
        const int x = kBlockX[blkIdx], y = kBlockY[blkIdx];
        return nc(x > 0 ? current.totalCoeff[kInside[0][blkIdx]] : left_[y],
                  y > 0 ? current.totalCoeff[kInside[1][blkIdx]] : above_[x]);
    }
    int chroma(const MacroblockState& current, int plane, int blkIdx) const
    {
        const int base = plane == 0 ? kCbBlocks : kCrBlocks;
        return nc(blkIdx & 1 ? current.totalCoeff[base + (blkIdx ^ 1)] : left_[4 + 2 * plane + (blkIdx >> 1)],
                  blkIdx & 2 ? current.totalCoeff[base + (blkIdx ^ 2)] : above_[4 + 2 * plane + (blkIdx & 1)]);
    }

private:
    // -1 for a neighbour that is not available.
    static int nc(int a, int b) { return coeffTokenContext(a >= 0, a, b >= 0, b); }
    // The block left of / above each luma block when it lies in the same macroblock.
    static constexpr std::array<std::array<std::uint8_t, 16>, 2> kInside = [] {
        std::array<std::array<std::uint8_t, 16>, 2> t{};
        for (int blk = 0; blk < 16; ++blk) {
            t[0][blk] = static_cast<std::uint8_t>(blockIndexAt((kBlockX[blk] + 3) & 3, kBlockY[blk]));
            t[1][blk] = static_cast<std::uint8_t>(blockIndexAt(kBlockX[blk], (kBlockY[blk] + 3) & 3));
        }
        return t;
    }();
    // Totals along the left and upper edge: luma rows / columns 0..3, then
    // Cb 0..1 and Cr 0..1; -1 where the neighbour is not available.
    std::array<std::int16_t, 8> left_;
    std::array<std::int16_t, 8> above_;
};

} // namespace kestrune::codec
