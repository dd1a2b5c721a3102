#pragma once
// Clause 8.5: from the levels of a macroblock's residual blocks to
// constructed samples (scaling, inverse transforms, prediction + residual).
// The decoder calls these with parsed levels; the encoder calls the very same
// functions with its quantised levels, so both reconstruct identically.
// Levels are raster order per 4x4 block (map a coded scan through
// kZigZag4x4); the arrays are consumed (overwritten). pred may equal dst.
#include <cstdint>

namespace kestrune::codec {

// One 4x4 luma block of an I4x4 or inter macroblock (DC coded in the block).
void reconstructLuma4x4(std::int32_t levels[16], int qp, std::uint8_t* dst, int dstStride,
                        const std::uint8_t* pred, int predStride);

// The whole 16x16 luma of an Intra16x16 macroblock: dcLevels is the 4x4 DC
// matrix (raster: element row*4+col is the DC of the block at (col, row)),
// ac[luma4x4BlkIdx] the AC levels of each block (index 0 ignored).
void reconstructIntra16x16Luma(std::int32_t dcLevels[16], std::int32_t ac[16][16], int qp,
                               std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride);

// One 8x8 chroma plane: dcLevels c00 c01 c10 c11 (chroma4x4BlkIdx order),
// ac[chroma4x4BlkIdx] AC levels (index 0 ignored), qpc = QPc of the plane.
void reconstructChroma8x8(std::int32_t dcLevels[4], std::int32_t ac[4][16], int qpc,
                          std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride);

} // namespace kestrune::codec
