#pragma once
// Intra prediction (clause 8.3): Intra_4x4 with its nine modes and mode
// prediction, Intra_16x16 and chroma with four modes each. Predictors read
// the neighbouring constructed samples (before deblocking) straight from
// the picture being coded around the block, so they work in place: pred may
// point at the block itself.
#include <cstdint>

#include "tools/codec/macroblock_state.h"
#include "tools/codec/neighbours.h"

namespace kestrune::codec {

// Intra4x4PredMode (Table 8-2).
enum Intra4x4Mode : int {
    kI4Vertical = 0, kI4Horizontal = 1, kI4Dc = 2, kI4DiagonalDownLeft = 3, kI4DiagonalDownRight = 4,
    kI4VerticalRight = 5, kI4HorizontalDown = 6, kI4VerticalLeft = 7, kI4HorizontalUp = 8,
};
// Intra16x16PredMode (Table 8-4).
enum Intra16x16Mode : int { kI16Vertical = 0, kI16Horizontal = 1, kI16Dc = 2, kI16Plane = 3 };
// intra_chroma_pred_mode (Table 8-5).
enum IntraChromaMode : int { kChromaDc = 0, kChromaHorizontal = 1, kChromaVertical = 2, kChromaPlane = 3 };

// Which neighbouring samples are "available for Intra prediction": left
// column, row above, the four samples above right (4x4 only) and the corner.
struct IntraAvailability {
    bool left = false;
    bool top = false;
    bool topRight = false;
    bool topLeft = false;
};

// For a 16x16 luma or chroma block of macroblock mbAddr: from mbAddrA/B/D,
// excluding inter macroblocks when constrained_intra_pred_flag is 1.
IntraAvailability macroblockIntraAvailability(const MacroblockStates& states, const MbNeighbours& n,
                                              bool constrained_intra_pred_flag);
// For 4x4 luma block blkIdx of macroblock mbAddr (clause 8.3.1.2), including
// the blocks whose above-right neighbour is coded later (3, 5, 7, 11, 13, 15).
IntraAvailability intra4x4Availability(const MacroblockStates& states, const MbNeighbours& n, int mbAddr,
                                       int blkIdx, bool constrained_intra_pred_flag);

// predIntra4x4PredMode of clause 8.3.1.1 for block blkIdx; reads the modes of
// blocks of the current macroblock coded earlier from states[mbAddr].
int predictedIntra4x4Mode(const MacroblockStates& states, const MbNeighbours& n, int mbAddr, int blkIdx,
                          bool constrained_intra_pred_flag);

// Each predictor writes the prediction block to pred (pred may be the block
// itself inside the picture); block points at the block's top-left sample in
// the picture, whose stride is stride. Returns false, writing nothing, when
// the mode needs samples that are not available (a broken stream, or a mode
// the encoder must not choose).
bool predictIntra4x4(int mode, const std::uint8_t* block, int stride, IntraAvailability avail,
                     std::uint8_t* pred, int predStride);
bool predictIntra16x16(int mode, const std::uint8_t* block, int stride, IntraAvailability avail,
                       std::uint8_t* pred, int predStride);
// One 8x8 chroma plane (call for Cb and Cr).
bool predictIntraChroma(int mode, const std::uint8_t* block, int stride, IntraAvailability avail,
                        std::uint8_t* pred, int predStride);

} // namespace kestrune::codec
