#pragma once
// The deblocking filter (clause 8.7) over a whole picture once all its
// slices are coded, macroblocks in address order, each with the parameters
// of its own slice. Needs from MacroblockStates: sliceNum, mbType, qp,
// totalCoeff (luma), refPicId and mv.
#include <cstdint>
#include <span>

#include "tools/codec/macroblock_state.h"
#include "tools/codec/picture.h"

namespace kestrune::codec {

// Per slice, indexed by MacroblockState::sliceNum.
struct DeblockingParams {
    int disable_deblocking_filter_idc = 0;  // 0 on, 1 off, 2 on but not across slice edges
    int filterOffsetA = 0;                  // slice_alpha_c0_offset_div2 << 1
    int filterOffsetB = 0;                  // slice_beta_offset_div2 << 1
    int chroma_qp_index_offset = 0;
};

// Boundary strength bS (clause 8.7.2.1) of the edge between 4x4 luma blocks
// p (blkP of mbP) and q (blkQ of mbQ); mbEdge when the edge is a macroblock
// edge. 0..4. One pair at a time, for tests; the filter takes
// macroblockEdgeStrengths.
int boundaryStrengthForTests(const MacroblockState& mbP, int blkP, const MacroblockState& mbQ, int blkQ, bool mbEdge);

// bS of every 4x4 edge segment of macroblock q (clause 8.7.2.1): [e][k] is
// vertical edge x = 4e at rows 4k..4k+3, or horizontal edge y = 4e at
// columns 4k..4k+3. left/top: the neighbours whose edges are filtered, or
// null (edge 0 then 0).
struct MacroblockEdgeStrengths {
    alignas(16) std::uint8_t vertical[4][4]{};
    alignas(16) std::uint8_t horizontal[4][4]{};
};
MacroblockEdgeStrengths macroblockEdgeStrengths(const MacroblockState* left, const MacroblockState* top,
                                                const MacroblockState& q);

// Filters the picture in place. Macroblocks with sliceNum < 0 (lost) are not
// filtered, nor are edges towards them. slices[sliceNum] must exist for
// every coded macroblock.
void deblockPicture(Picture& picture, const MacroblockStates& states, std::span<const DeblockingParams> slices);

// The sample filters of clauses 8.7.2.3/8.7.2.4 along one whole macroblock
// edge, for tests: 16 lines for luma, 8 for chroma. q0 points at q0
// of the first line; p0 is at q0 - sampleStep, line i at q0 + i * lineStep.
// bS[k] (0..4) holds for lines 4k..4k+3 (luma) or 2k..2k+1 (chroma);
// indexA/indexB are qPav + filterOffsetA/B clipped to 0..51 (clause 8.7.2.2).
void filterEdgeForTests(std::uint8_t* q0, int sampleStep, int lineStep, const int bS[4], int indexA, int indexB, bool chroma);

} // namespace kestrune::codec
