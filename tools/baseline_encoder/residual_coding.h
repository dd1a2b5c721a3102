#pragma once
// The encoder's half of clause 8.5: prediction error to quantised levels
// (forward transforms and quantisation from the core), the coded block
// pattern, and the reconstruction through the core's residual functions,
// the very ones the decoder calls.
#include "tools/baseline_encoder/macroblock_code.h"

#include <cstdint>

namespace kestrune::codec {

// Luma of an inter macroblock: 16 blocks of source minus prediction; sets
// luma levels, cbp bits 0-3 and totalCoeff[0..15]. Blocks of few, isolated
// +-1 levels are dropped when they cost more bits than they repair.
void codeInterLuma(MacroblockCode& code, const std::uint8_t* src, int srcStride, const std::uint8_t* pred,
                   int predStride, int qp);
// Writes prediction + residual of an inter (or any 4x4-transformed) luma into dst.
void reconstructLuma(const MacroblockCode& code, int qp, std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                     int predStride);

// One 4x4 luma block of an I4x4 macroblock (intra rounding); returns the
// number of non-zero levels.
int codeLumaBlock(std::int32_t levels[16], const std::uint8_t* src, int srcStride, const std::uint8_t* pred,
                  int predStride, int qp, bool intra);

// Intra16x16 luma: DC matrix and AC levels, cbp luma 0 or 15, totalCoeff.
void codeIntra16x16Luma(MacroblockCode& code, const std::uint8_t* src, int srcStride, const std::uint8_t* pred,
                        int predStride, int qp);
void reconstructIntra16x16(const MacroblockCode& code, int qp, std::uint8_t* dst, int dstStride,
                           const std::uint8_t* pred, int predStride);

// Both chroma planes (8x8 each); sets chroma levels, cbp bits 4-5 and
// totalCoeff[16..23].
void codeChroma(MacroblockCode& code, const std::uint8_t* const src[2], int srcStride, const std::uint8_t* const pred[2],
                int predStride, int qpc, bool intra);
void reconstructChroma(const MacroblockCode& code, int qpc, std::uint8_t* const dst[2], int dstStride,
                       const std::uint8_t* const pred[2], int predStride);

} // namespace kestrune::codec
