#pragma once
// Luma motion vector prediction (clause 8.4.1.3 with the directional rules
// of 8.4.1.3.1 and the neighbours of 6.4.11.7) and the P_Skip vector
// (8.4.1.1). Partitions are rectangles in 4x4-block units inside the
// macroblock; states[mbAddr] must hold mv/refIdx of the partitions of the
// current macroblock decoded so far (partitions are predicted in decoding
// order), and its sliceNum.
#include "tools/codec/macroblock_state.h"
#include "tools/codec/neighbours.h"

namespace kestrune::codec {

// mvpL0 for the partition at (x4, y4) of w4 x h4 4x4 blocks with ref_idx_l0
// refIdx. 16x8 (w4 4, h4 2) and 8x16 (w4 2, h4 4) partitions take the
// directional rule; every other shape the median.
MotionVector predictMotionVector(const MacroblockStates& states, const MbNeighbours& n, int mbAddr,
                                 int x4, int y4, int w4, int h4, int refIdx);

// mvL0 of a P_Skip macroblock (refIdx 0).
MotionVector pSkipMotionVector(const MacroblockStates& states, const MbNeighbours& n, int mbAddr);

} // namespace kestrune::codec
