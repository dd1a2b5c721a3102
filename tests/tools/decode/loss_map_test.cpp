#include "tools/decode/loss_map.h"

#include <gtest/gtest.h>

#include <set>

using namespace kestrune::decode;

TEST(LossMap, UntouchedInteriorsAreLostAndWrittenOnesAreNot)
{
    const int mbW = 3, mbH = 2, stride = 64;
    std::vector<std::uint8_t> luma(std::size_t(stride * mbH * 16));
    Plane plane{luma.data(), mbW * 16, mbH * 16, stride};
    std::uint64_t seeds = 1;
    Sentinel sentinel(nextSentinelSeed(seeds), stride);
    sentinel.fill(plane);

    // Macroblock (0,0) decoded as flat content, (2,1) decoded as mid-grey.
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) plane.at(x, y) = 128, plane.at(32 + x, 16 + y) = 128;
    // Deblocking of a decoded neighbour touches the border rows of lost block (1,1).
    for (int x = 16; x < 32; ++x) plane.at(x, 16) = plane.at(x, 17) = plane.at(x, 18) = 0;
    // A single decoded pixel inside the interior of (1,0) marks it as decoded.
    plane.at(16 + 7, 9) ^= 0xFF;

    MbGrid grid = sentinel.lossMap(plane, mbW, mbH);
    EXPECT_EQ(grid.at(0, 0), MbState::Correct);
    EXPECT_EQ(grid.at(1, 0), MbState::Correct);
    EXPECT_EQ(grid.at(2, 0), MbState::Lost);
    EXPECT_EQ(grid.at(0, 1), MbState::Lost);
    EXPECT_EQ(grid.at(1, 1), MbState::Lost);
    EXPECT_EQ(grid.at(2, 1), MbState::Correct);
}

TEST(LossMap, EveryBufferGetsADifferentPattern)
{
    const int stride = 32;
    std::uint64_t seeds = 0;
    std::vector<std::uint8_t> a(stride * 16), b(stride * 16);
    Sentinel first(nextSentinelSeed(seeds), stride), second(nextSentinelSeed(seeds), stride);
    first.fill({a.data(), stride, 16, stride});
    second.fill({b.data(), stride, 16, stride});
    EXPECT_NE(a, b);
    // A picture left with another buffer's pattern counts as decoded.
    EXPECT_FALSE(first.untouched({b.data(), stride, 16, stride}, 0, 0));
    EXPECT_TRUE(first.untouched({a.data(), stride, 16, stride}, 0, 0));
    // The pattern is not flat: flat content can never look untouched.
    EXPECT_GT(std::set<std::uint8_t>(a.begin(), a.end()).size(), 100u);
}
