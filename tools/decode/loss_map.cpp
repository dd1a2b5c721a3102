#include "tools/decode/loss_map.h"

#include <algorithm>
#include <cstring>

namespace kestrune::decode {

int MbGrid::count(MbState s) const
{
    return int(std::count(states.begin(), states.end(), s));
}

std::uint64_t nextSentinelSeed(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Sentinel::Sentinel(std::uint64_t seed, std::ptrdiff_t stride)
    : stride_(stride), rows_(std::size_t(stride) * 16)
{
    std::uint64_t state = seed;
    for (std::size_t i = 0; i < rows_.size(); i += 8) {
        std::uint64_t word = nextSentinelSeed(state);
        for (std::size_t k = 0; k < 8 && i + k < rows_.size(); ++k) rows_[i + k] = std::uint8_t(word >> (8 * k));
    }
}

void Sentinel::fill(const Plane& luma) const
{
    const std::size_t width = std::size_t(std::min<std::ptrdiff_t>(luma.stride, stride_));
    for (int y = 0; y < luma.height; ++y)
        std::memcpy(luma.data + y * luma.stride, rows_.data() + (y % 16) * stride_, width);
}

bool Sentinel::untouched(const Plane& luma, int mbX, int mbY) const
{
    const int x = mbX * 16 + 4;
    for (int r = 4; r < 12; ++r) {
        const std::uint8_t* pixels = luma.data + (mbY * 16 + r) * luma.stride + x;
        if (std::memcmp(pixels, rows_.data() + r * stride_ + x, 8) != 0) return false;
    }
    return true;
}

MbGrid Sentinel::lossMap(const Plane& luma, int mbWidth, int mbHeight) const
{
    MbGrid grid(mbWidth, mbHeight);
    for (int y = 0; y < mbHeight; ++y)
        for (int x = 0; x < mbWidth; ++x)
            if (untouched(luma, x, y)) grid.at(x, y) = MbState::Lost;
    return grid;
}

} // namespace kestrune::decode
