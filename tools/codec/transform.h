#pragma once
// The integer transforms of H.264 (clauses 8.5.6, 8.5.10-8.5.12) and their
// forward counterparts for the encoder. Blocks are 16 (or 4) int32 values
// in raster order (index = row * 4 + column); the zig-zag scan maps coded
// coefficient order to that layout. The inverse functions are bit-exact to
// the standard; they expect what scaling (quantisation.h) produces: 4x4
// blocks within 16 bits, DC matrices within 20 bits (residual.h clamps
// levels from damaged streams to that).
#include <array>
#include <cstdint>

namespace kestrune::codec {

// Frame zig-zag scan (Table 8-13): kZigZag4x4[scanIdx] = raster index.
inline constexpr std::array<std::uint8_t, 16> kZigZag4x4 = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};

// Clause 8.5.12.2: scaled coefficients d (raster) to residual r = (h + 32) >> 6, in place.
void inverseTransform4x4(std::int32_t block[16]);
// Forward core transform W = Cf X CfT of a residual block X (raster), in place;
// quantise4x4() applies the matching scale.
void forwardTransform4x4(std::int32_t block[16]);

// Clause 8.5.10: f = H c H of the 4x4 luma DC matrix c (raster), in place
// (before scaling; dequantiseLumaDc() follows).
void inverseLumaDcTransform(std::int32_t dc[16]);
// Forward luma DC transform for the encoder: (H W H) >> 1 as in the
// reference encoders, in place.
void forwardLumaDcTransform(std::int32_t dc[16]);

// Clause 8.5.11.1: f = H c H of the 2x2 chroma DC matrix c (raster c00 c01
// c10 c11 = chroma4x4BlkIdx order), in place. Its own inverse, so the encoder
// uses it forward too.
void chromaDcTransform(std::int32_t dc[4]);

// Residual construction: pred + r clipped to 0..255 over a 4x4 block.
void addResidual4x4(std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride, const std::int32_t residual[16]);
// inverseTransform4x4 and addResidual4x4 in one pass, d unchanged (d within
// 16 bits, as scaling leaves it).
void inverseTransformAdd4x4(const std::int32_t d[16], std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                            int predStride);
// The same for a block whose only non-zero coefficient is d[0]: every
// residual sample is (d[0] + 32) >> 6.
void addDcResidual4x4(std::int32_t dc, std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride);
// Encoder side: X = source - prediction over a 4x4 block (raster out).
void subtractPrediction4x4(const std::uint8_t* src, int srcStride, const std::uint8_t* pred, int predStride, std::int32_t out[16]);

} // namespace kestrune::codec
