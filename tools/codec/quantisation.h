#pragma once
// Scaling (dequantisation) of clause 8.5.9/8.5.12.1 with flat scaling
// matrices (Baseline), the chroma QP mapping of Table 8-15, and forward
// quantisation for the encoder. Blocks are raster order as in transform.h.
#include <cstdint>

namespace kestrune::codec {

// QPc for QPY and chroma_qp_index_offset (qPI clipped to 0..51, Table 8-15).
int chromaQp(int qpY, int chroma_qp_index_offset);

// Clause 8.5.12.1: levels c (raster) to scaled coefficients d, in place, qp
// 0..51. With separateDc (Intra16x16 luma, chroma AC) block[0] is left
// untouched: it holds the DC value from dequantiseLumaDc/ChromaDc. Results
// are clamped to the 16-bit range a conforming stream stays in.
void dequantise4x4(std::int32_t block[16], int qp, bool separateDc);
// Clause 8.5.10 second half: dcY from f = inverseLumaDcTransform(c), in place.
void dequantiseLumaDc(std::int32_t dc[16], int qp);
// Clause 8.5.11.2: dcC from f = chromaDcTransform(c), in place (qp = QPc).
void dequantiseChromaDc(std::int32_t dc[4], int qpc);

// Forward quantisation rounding as a fraction of one step in 1/256 units
// (f = rounding << (qbits - 8)); the usual choices:
inline constexpr int kIntraRounding = 85;  // 1/3
inline constexpr int kInterRounding = 43;  // 1/6

// Transform coefficients W (raster, forwardTransform4x4 output) to levels,
// in place; with separateDc block[0] is set to 0. Returns the number of
// non-zero levels.
int quantise4x4(std::int32_t block[16], int qp, int rounding, bool separateDc);
// Luma DC levels from forwardLumaDcTransform output, in place; returns non-zeros.
int quantiseLumaDc(std::int32_t dc[16], int qp, int rounding);
// Chroma DC levels from chromaDcTransform output (qp = QPc), in place; returns non-zeros.
int quantiseChromaDc(std::int32_t dc[4], int qpc, int rounding);

} // namespace kestrune::codec
