#include "tools/codec/slice_group_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kestrune::codec;
using kestrune::h264::Pps;

namespace {

// The map of a 4x3-macroblock picture as rows of digits, e.g. "0011 1001 1100".
std::string mapOf(const Pps& pps, std::uint32_t changeCycle = 0, int width = 4, int height = 3)
{
    std::vector<std::uint8_t> map;
    const auto status = sliceGroupMap(pps, width, height, changeCycle, map);
    if (!status.ok()) return "broken: " + status.message;
    std::string s;
    for (int i = 0; i < static_cast<int>(map.size()); ++i) {
        if (i > 0 && i % width == 0) s += ' ';
        s += static_cast<char>('0' + map[i]);
    }
    return s;
}

Pps ppsOf(int groups, int type, bool direction = false, std::uint32_t rateMinus1 = 0)
{
    Pps pps;
    pps.num_slice_groups_minus1 = static_cast<std::uint32_t>(groups - 1);
    pps.slice_group_map_type = static_cast<std::uint32_t>(type);
    pps.slice_group_change_direction_flag = direction;
    pps.slice_group_change_rate_minus1 = rateMinus1;
    return pps;
}

} // namespace

// Expected maps worked out by hand from the equations of clause 8.2.2 on a
// picture of 4x3 macroblocks.
TEST(SliceGroupMap, InterleavedAndDispersed)
{
    Pps two = ppsOf(2, 0);
    two.run_length_minus1 = {1, 2};
    EXPECT_EQ(mapOf(two), "0011 1001 1100");
    Pps three = ppsOf(3, 0);
    three.run_length_minus1 = {0, 1, 2};
    EXPECT_EQ(mapOf(three), "0112 2201 1222");

    EXPECT_EQ(mapOf(ppsOf(2, 1)), "0101 1010 0101");
    EXPECT_EQ(mapOf(ppsOf(3, 1)), "0120 1201 0120");
    EXPECT_EQ(mapOf(ppsOf(4, 1), 0, 4, 2), "0123 2301");
}

TEST(SliceGroupMap, ForegroundWithLeftOver)
{
    Pps pps = ppsOf(3, 2);
    pps.top_left = {5, 0};
    pps.bottom_right = {6, 5};
    EXPECT_EQ(mapOf(pps), "1122 1002 2222");
    // A rectangle reaching past the last macroblock is broken data.
    pps.bottom_right = {12, 5};
    EXPECT_EQ(mapOf(pps).rfind("broken", 0), 0u);
}

TEST(SliceGroupMap, BoxOutBothDirections)
{
    // Clockwise from (2,1).
    EXPECT_EQ(mapOf(ppsOf(2, 3, false), 5), "1000 1001 1111");
    EXPECT_EQ(mapOf(ppsOf(2, 3, false), 8), "1000 1000 1100");
    EXPECT_EQ(mapOf(ppsOf(2, 3, false), 12), "0000 0000 0000");
    // Counter-clockwise from (1,1); the spiral passes cells already taken
    // once the bounds reach the picture's edge.
    EXPECT_EQ(mapOf(ppsOf(2, 3, true), 6), "1001 1001 1001");
    EXPECT_EQ(mapOf(ppsOf(2, 3, true), 11), "0001 0000 0000");
    // Units in group 0 = change cycle x change rate, capped at the picture.
    EXPECT_EQ(mapOf(ppsOf(2, 3, true, 1), 3), "1001 1001 1001");
    EXPECT_EQ(mapOf(ppsOf(2, 3, true, 1), 100), "0000 0000 0000");
}

TEST(SliceGroupMap, RasterScanAndWipeBothDirections)
{
    EXPECT_EQ(mapOf(ppsOf(2, 4, false), 5), "0000 0111 1111");
    EXPECT_EQ(mapOf(ppsOf(2, 4, true), 5), "1111 1110 0000");
    EXPECT_EQ(mapOf(ppsOf(2, 5, false), 5), "0011 0011 0111");
    EXPECT_EQ(mapOf(ppsOf(2, 5, true), 5), "1110 1100 1100");
}

TEST(SliceGroupMap, ExplicitAndImpossibleParameters)
{
    Pps pps = ppsOf(3, 6);
    pps.slice_group_id = {2, 1, 0, 0, 1, 1, 2, 2, 0, 1, 2, 0};
    EXPECT_EQ(mapOf(pps), "2100 1122 0120");
    pps.slice_group_id.pop_back();
    EXPECT_EQ(mapOf(pps).rfind("broken", 0), 0u);

    Pps run = ppsOf(2, 0);
    run.run_length_minus1 = {0, 0xFFFFFFFEu};
    EXPECT_EQ(mapOf(run).rfind("broken", 0), 0u);
    EXPECT_EQ(mapOf(ppsOf(3, 4), 5).rfind("broken", 0), 0u);
}

TEST(SliceGroupMap, NextMacroblockStaysInTheGroup)
{
    std::vector<std::uint8_t> map;
    ASSERT_TRUE(sliceGroupMap(ppsOf(3, 1), 4, 3, 0, map).ok());  // 0120 1201 0120
    std::vector<int> walk;
    for (int n = 1; n < 12; n = nextMbAddress(map, n)) walk.push_back(n);
    EXPECT_EQ(walk, (std::vector<int>{1, 4, 7, 9}));
    EXPECT_EQ(nextMbAddress(map, 11), 12);
}

