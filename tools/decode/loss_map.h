#pragma once
// Detection of macroblocks the decoder never wrote. Each picture buffer is
// filled with a pseudo-random pattern before decoding (a fresh pattern per
// buffer: a fixed value would match flat decoded content); a macroblock whose
// luma interior still holds the pattern was not decoded.
#include "tools/decode/picture.h"

#include <cstdint>
#include <vector>

namespace kestrune::decode {

// The pattern repeats every 16 rows, so one macroblock row of bytes describes it.
class Sentinel {
public:
    Sentinel(std::uint64_t seed, std::ptrdiff_t stride);

    void fill(const Plane& luma) const;
    // Only rows and columns 4..11 are compared: deblocking of a decoded
    // neighbour may change up to three pixels inside a lost block's border.
    bool untouched(const Plane& luma, int mbX, int mbY) const;
    MbGrid lossMap(const Plane& luma, int mbWidth, int mbHeight) const;

private:
    std::ptrdiff_t stride_;
    std::vector<std::uint8_t> rows_; // 16 rows of stride_ bytes
};

// A seed sequence that never repeats within a run (splitmix64 of a counter).
std::uint64_t nextSentinelSeed(std::uint64_t& state);

} // namespace kestrune::decode
