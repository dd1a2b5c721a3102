#pragma once
// Distortion measures of the encoder's decisions: SAD for the integer
// motion search, SATD (4x4 Hadamard) for sub-sample refinement and intra
// mode pre-selection, SSD for rate-distortion costs, and the Lagrange
// multipliers that weigh bits against them.
#include <bit>
#include <cstdint>

namespace kestrune::codec {

int sad(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h);
int satd(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h);  // w, h multiples of 4
std::int64_t ssd(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h);

// Lagrange multiplier for SSD + lambda * bits decisions at quantiser qp
// (0.85 * 2^((qp - 12) / 3)), and its square root for SAD/SATD + lambda * bits.
double modeLambda(int qp);
double motionLambda(int qp);

// Bits of ue(v) / se(v) codes: for costs of vectors and indices.
inline int ueBits(unsigned value)
{
    return 2 * std::bit_width(value + 1u) - 1;
}
inline int seBits(int value)
{
    return ueBits(value <= 0 ? static_cast<unsigned>(-2 * value) : static_cast<unsigned>(2 * value - 1));
}

} // namespace kestrune::codec
