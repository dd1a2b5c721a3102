// The parameter sets our encoder chooses read back through the bitstream
// library's parsers to what was meant, for every slice group map type; and
// each map type's parameters give every group macroblocks.
#include "tools/baseline_encoder/parameter_sets.h"
#include "tools/bitstream/bit_writer.h"
#include "tools/bitstream/header_writer.h"
#include "tools/codec/slice_group_map.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace kestrune::codec {
namespace {

std::vector<std::uint8_t> rbsp(const h264::Sps& sps)
{
    h264::BitWriter w;
    h264::writeSps(sps, w);
    return w.take();
}

std::vector<std::uint8_t> rbsp(const h264::Pps& pps, const h264::Sps& sps)
{
    h264::BitWriter w;
    h264::writePps(pps, &sps, w);
    return w.take();
}

struct Layout {
    int width, height, groups, mapType;
};

class ParameterSetTest : public ::testing::TestWithParam<Layout> {};

TEST_P(ParameterSetTest, ChosenSetsParseBackAndEveryGroupHoldsMacroblocks)
{
    EncoderSettings settings;
    settings.width = GetParam().width;
    settings.height = GetParam().height;
    settings.sliceGroups = GetParam().groups;
    settings.mapType = GetParam().mapType;
    settings.references = 3;
    settings.fps = 30;
    ASSERT_EQ(sliceGroupError(settings), "");
    const h264::Sps sps = sequenceParameterSet(settings);
    const h264::Pps pps = pictureParameterSet(settings, sps);

    h264::Sps parsedSps;
    ASSERT_TRUE(h264::parseSps(rbsp(sps), parsedSps).ok());
    EXPECT_EQ(parsedSps.width(), settings.width);
    EXPECT_EQ(parsedSps.height(), settings.height);
    EXPECT_EQ(parsedSps.maxFrameNumBits(), 16);
    EXPECT_EQ(parsedSps.pic_order_cnt_type, 2u);
    EXPECT_FALSE(parsedSps.constraint_set_flag[1]) << "Main has no slice groups";
    EXPECT_DOUBLE_EQ(parsedSps.frameRate(), 30.0);

    h264::ParameterSets sets;
    sets.sps[0] = std::make_shared<h264::Sps>(parsedSps);
    h264::Pps parsedPps;
    ASSERT_TRUE(h264::parsePps(rbsp(pps, sps), sets, parsedPps).ok());
    EXPECT_EQ(static_cast<int>(parsedPps.num_slice_groups_minus1) + 1, settings.sliceGroups);

    // Every group gets macroblocks (types 3-5 once the cycle has moved).
    std::vector<std::uint8_t> map;
    ASSERT_TRUE(sliceGroupMap(parsedPps, sps.widthInMbs(), sps.heightInMapUnits(), 2, map).ok());
    EXPECT_EQ(std::set<int>(map.begin(), map.end()).size(), static_cast<std::size_t>(settings.sliceGroups));
}

INSTANTIATE_TEST_SUITE_P(MapTypes, ParameterSetTest,
                         ::testing::Values(Layout{176, 144, 1, 0}, Layout{176, 144, 3, 0}, Layout{200, 120, 4, 1},
                                           Layout{176, 144, 8, 1}, Layout{176, 144, 4, 2}, Layout{64, 48, 3, 2}, Layout{176, 144, 8, 2},
                                           Layout{176, 144, 2, 3}, Layout{200, 120, 2, 4}, Layout{176, 144, 2, 5},
                                           Layout{176, 144, 5, 6}, Layout{1920, 1080, 2, 1}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             const Layout& l = info.param;
                             return std::to_string(l.width) + "x" + std::to_string(l.height) + "Groups"
                                    + std::to_string(l.groups) + "Type" + std::to_string(l.mapType);
                         });

TEST(ParameterSetTest, SliceGroupCountsTheEncoderCannotCodeAreRefused)
{
    EncoderSettings s;
    s.sliceGroups = 9;
    EXPECT_NE(sliceGroupError(s), "");
    s.sliceGroups = 4;
    s.mapType = 4;
    EXPECT_NE(sliceGroupError(s), "") << "the evolving types have exactly two groups";
    s.mapType = 6;
    EXPECT_EQ(sliceGroupError(s), "");
}

} // namespace
} // namespace kestrune::codec
