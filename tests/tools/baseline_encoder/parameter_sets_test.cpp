// Parameter sets and slice headers our encoder writes read back through the
// bitstream library's parsers to what was meant, for every slice group map
// type; and each map type's parameters give every group macroblocks.
#include "tools/baseline_encoder/parameter_set_writer.h"
#include "tools/baseline_encoder/slice_header_writer.h"
#include "tools/bitstream/bit_writer.h"
#include "tools/codec/slice_group_map.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace kestrune::codec {
namespace {

struct Layout {
    int width, height, groups, mapType;
};

class ParameterSetTest : public ::testing::TestWithParam<Layout> {};

TEST_P(ParameterSetTest, WrittenSetsAndHeadersParseBackAndEveryGroupHoldsMacroblocks)
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
    ASSERT_TRUE(h264::parseSps(writeSpsRbsp(sps), parsedSps).ok());
    EXPECT_EQ(writeSpsRbsp(parsedSps), writeSpsRbsp(sps));
    EXPECT_EQ(parsedSps.width(), settings.width);
    EXPECT_EQ(parsedSps.height(), settings.height);
    EXPECT_EQ(parsedSps.maxFrameNumBits(), 16);
    EXPECT_EQ(parsedSps.pic_order_cnt_type, 2u);
    EXPECT_FALSE(parsedSps.constraint_set_flag[1]) << "Main has no slice groups";
    EXPECT_DOUBLE_EQ(parsedSps.frameRate(), 30.0);

    h264::ParameterSets sets;
    sets.sps[0] = std::make_shared<h264::Sps>(parsedSps);
    h264::Pps parsedPps;
    ASSERT_TRUE(h264::parsePps(writePpsRbsp(pps), sets, parsedPps).ok());
    EXPECT_EQ(writePpsRbsp(parsedPps), writePpsRbsp(pps));
    EXPECT_EQ(static_cast<int>(parsedPps.num_slice_groups_minus1) + 1, settings.sliceGroups);
    sets.pps[0] = std::make_shared<h264::Pps>(parsedPps);

    // Every group gets macroblocks (types 3-5 once the cycle has moved).
    std::vector<std::uint8_t> map;
    ASSERT_TRUE(sliceGroupMap(parsedPps, sps.widthInMbs(), sps.heightInMapUnits(), 2, map).ok());
    EXPECT_EQ(std::set<int>(map.begin(), map.end()).size(), static_cast<std::size_t>(settings.sliceGroups));

    // An IDR slice header and a P slice header with an override and a change cycle.
    for (const bool idr : {true, false}) {
        h264::SliceHeader header;
        header.first_mb_in_slice = 5;
        header.slice_type = idr ? 7 : 5;
        header.frame_num = idr ? 0 : 65535;
        header.idr_pic_id = idr ? 65535 : 0;
        header.num_ref_idx_active_override_flag = !idr;
        header.num_ref_idx_l0_active_minus1 = 1;
        header.slice_qp_delta = -14;
        header.disable_deblocking_filter_idc = idr ? 0 : 1;
        header.slice_group_change_cycle = 2;
        h264::BitWriter w;
        writeSliceHeader(w, header, idr ? 5 : 1, idr ? 3 : 2, sps, parsedPps);
        const std::size_t headerBits = w.bitCount();
        w.trailing();
        h264::NalHeader nal;
        nal.nal_ref_idc = idr ? 3 : 2;
        nal.nal_unit_type = idr ? 5 : 1;
        h264::SliceHeader parsed;
        ASSERT_TRUE(h264::parseSliceHeader(nal, w.bytes(), sets, parsed).ok());
        EXPECT_EQ(parsed.first_mb_in_slice, 5u);
        EXPECT_EQ(parsed.frame_num, header.frame_num);
        EXPECT_EQ(parsed.idr_pic_id, header.idr_pic_id);
        EXPECT_EQ(parsed.slice_qp_delta, -14);
        EXPECT_EQ(parsed.disable_deblocking_filter_idc, header.disable_deblocking_filter_idc);
        if (!idr) {
            EXPECT_EQ(parsed.num_ref_idx_l0_active_minus1, 1u);
        }
        const bool evolving = settings.sliceGroups > 1 && settings.mapType >= 3 && settings.mapType <= 5;
        EXPECT_EQ(parsed.slice_group_change_cycle, evolving ? 2u : 0u);
        EXPECT_EQ(parsed.headerBits, headerBits) << "the header ends where the writer stopped";
    }
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
