#include "tools/codec/motion_vector_prediction.h"

#include <algorithm>

namespace kestrune::codec {

namespace {

// A neighbouring partition of clause 8.4.1.3.2: whether it is available at
// all (an intra one is, with refIdx -1), its refIdx and vector.
struct Neighbour {
    bool available = false;
    int refIdx = -1;
    MotionVector mv;
};

// The partition covering the 4x4 block at (x4, y4) relative to the current
// macroblock; firstBlk is the current partition's first 4x4 block, and a
// partition of the current macroblock is there only if coded before it.
// (Inlined: a call per neighbour cost a third of the prediction.)
[[gnu::always_inline]] inline Neighbour partitionAt(const MacroblockStates& states, const MbNeighbours& n, int mbAddr,
                                                     int firstBlk, int x4, int y4)
{
    const int addr = macroblockOfBlock(n, mbAddr, x4, y4);
    if (addr < 0) return {};
    const int blk = blockIndexAt(x4 & 3, y4 & 3);
    if (addr == mbAddr && blk >= firstBlk) return {};
    const MacroblockState& mb = states[addr];
    if (mb.intra()) return {true, -1, {}};
    return {true, mb.refIdxOfBlock(blk), mb.mv[static_cast<std::size_t>(blk)]};
}

int median(int a, int b, int c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

} // namespace

MotionVector predictMotionVector(const MacroblockStates& states, const MbNeighbours& n, int mbAddr, int x4, int y4,
                                 int w4, int h4, int refIdx)
{
    const int firstBlk = blockIndexAt(x4, y4);
    Neighbour a = partitionAt(states, n, mbAddr, firstBlk, x4 - 1, y4);
    Neighbour b = partitionAt(states, n, mbAddr, firstBlk, x4, y4 - 1);
    Neighbour c = partitionAt(states, n, mbAddr, firstBlk, x4 + w4, y4 - 1);
    if (!c.available) c = partitionAt(states, n, mbAddr, firstBlk, x4 - 1, y4 - 1);  // D stands in for C

    // Clause 8.4.1.3: the directional predictions of 16x8 and 8x16 partitions.
    if (w4 == 4 && h4 == 2) {
        if (y4 == 0 && b.refIdx == refIdx) return b.mv;
        if (y4 == 2 && a.refIdx == refIdx) return a.mv;
    } else if (w4 == 2 && h4 == 4) {
        if (x4 == 0 && a.refIdx == refIdx) return a.mv;
        if (x4 == 2 && c.refIdx == refIdx) return c.mv;
    }

    // Clause 8.4.1.3.1: the median.
    if (!b.available && !c.available && a.available) b = c = a;
    const int matches = (a.refIdx == refIdx) + (b.refIdx == refIdx) + (c.refIdx == refIdx);
    if (matches == 1) return a.refIdx == refIdx ? a.mv : b.refIdx == refIdx ? b.mv : c.mv;
    return {static_cast<std::int16_t>(median(a.mv.x, b.mv.x, c.mv.x)),
            static_cast<std::int16_t>(median(a.mv.y, b.mv.y, c.mv.y))};
}

MotionVector pSkipMotionVector(const MacroblockStates& states, const MbNeighbours& n, int mbAddr)
{
    // Clause 8.4.1.1.
    Neighbour a = partitionAt(states, n, mbAddr, 0, -1, 0);
    Neighbour b = partitionAt(states, n, mbAddr, 0, 0, -1);
    const MotionVector zero{};
    if (!a.available || !b.available || (a.refIdx == 0 && a.mv == zero) || (b.refIdx == 0 && b.mv == zero))
        return zero;
    return predictMotionVector(states, n, mbAddr, 0, 0, 4, 4, 0);
}

} // namespace kestrune::codec
