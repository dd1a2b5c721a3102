#include "tools/bitstream/nal_parser.h"
#include "tests/tools/bitstream/stream_builder.h"

#include <bit>
#include <string>
#include <gtest/gtest.h>

using namespace kestrune::h264;
namespace t = kestrune::h264::testing;

namespace {

std::vector<std::uint8_t> spsNal(const t::SpsFields& f) { return t::nal(3, NalSps, t::spsRbsp(f)); }
std::vector<std::uint8_t> ppsNal(const t::PpsFields& f) { return t::nal(3, NalPps, t::ppsRbsp(f)); }
std::vector<std::uint8_t> sliceNal(const t::SliceFields& s, const t::SpsFields& sps, const t::PpsFields& pps,
                                   bool idr = true, int refIdc = 3)
{
    return t::nal(refIdc, idr ? NalIdrSlice : NalSlice, t::sliceRbsp(s, sps, pps, idr, refIdc));
}

} // namespace

TEST(NalHeader, ReadsFieldsAndFlagsTheForbiddenBit)
{
    NalHeader h;
    const std::vector<std::uint8_t> sps{0x67};
    EXPECT_TRUE(parseNalHeader(sps, h).ok());
    EXPECT_EQ(h.nal_ref_idc, 3);
    EXPECT_EQ(h.nal_unit_type, NalSps);
    const std::vector<std::uint8_t> bad{0xE5};
    EXPECT_EQ(parseNalHeader(bad, h).result, Result::BrokenData);
    EXPECT_EQ(h.nal_unit_type, NalIdrSlice);
    EXPECT_EQ(parseNalHeader({}, h).result, Result::NoNalUnit);
    const std::vector<std::uint8_t> prefix{0x6E, 0x80};
    EXPECT_EQ(parseNalHeader(prefix, h).result, Result::Truncated);
}

TEST(NalUnitTypeNames, TagsMapBothWaysAndNamesFollowTheTable)
{
    for (int type = 0; type < 32; ++type) {
        const auto back = nalUnitTypeFromTag(nalUnitTypeTag(type));
        ASSERT_TRUE(back.has_value()) << type;
        EXPECT_EQ(*back, type);
    }
    EXPECT_FALSE(nalUnitTypeFromTag("NOPE").has_value());
    EXPECT_EQ(nalUnitTypeName(5), "Coded slice of an IDR picture");
    EXPECT_EQ(nalUnitTypeName(17), "Reserved");
    EXPECT_EQ(nalUnitTypeName(40), "Invalid");
    EXPECT_TRUE(isReservedOrUnspecifiedNalType(0));
    EXPECT_TRUE(isReservedOrUnspecifiedNalType(23));
    EXPECT_FALSE(isReservedOrUnspecifiedNalType(20));
    for (SliceKind k : {SliceKind::P, SliceKind::B, SliceKind::I, SliceKind::SP, SliceKind::SI}) {
        SliceKind back = SliceKind::P;
        ASSERT_TRUE(sliceKindFromName(sliceKindName(k), back));
        EXPECT_EQ(back, k);
    }
    EXPECT_EQ(sliceKind(7), SliceKind::I);
    EXPECT_EQ(sliceKind(5), SliceKind::P);
}

TEST(Sps, ReadsCroppingVuiAndEveryPicOrderCountType)
{
    t::SpsFields f;
    f.profile_idc = 100;
    f.width_mbs = 120;
    f.height_map_units = 68;
    f.crop_bottom = 4;
    f.vui = true;
    f.num_units_in_tick = 1001;
    f.time_scale = 60000;
    Sps sps;
    ASSERT_TRUE(parseSps(t::spsRbsp(f), sps).ok());
    EXPECT_EQ(sps.width(), 1920);
    EXPECT_EQ(sps.height(), 1080);
    EXPECT_EQ(sps.vui.sar_width, 12u);
    EXPECT_EQ(sps.vui.max_dec_frame_buffering, 1u);
    EXPECT_NEAR(sps.frameRate(), 29.97, 0.01);
    EXPECT_EQ(profileName(sps), "High");

    f = {};
    f.poc_type = 1;
    f.offset_for_ref_frame = {3, -4, 5};
    ASSERT_TRUE(parseSps(t::spsRbsp(f), sps).ok());
    EXPECT_EQ(sps.offset_for_ref_frame, (std::vector<std::int32_t>{3, -4, 5}));
    EXPECT_EQ(sps.offset_for_non_ref_pic, -2);

    f = {};
    f.poc_type = 2;
    f.frame_mbs_only = false;
    f.height_map_units = 9;
    ASSERT_TRUE(parseSps(t::spsRbsp(f), sps).ok());
    EXPECT_EQ(sps.pic_order_cnt_type, 2u);
    EXPECT_EQ(sps.height(), 288);
}

TEST(Sps, OutOfRangeFieldsAreBrokenDataNamingTheField)
{
    t::SpsFields f;
    f.log2_max_frame_num_minus4 = 13;
    Sps sps;
    Status s = parseSps(t::spsRbsp(f), sps);
    EXPECT_EQ(s.result, Result::BrokenData);
    EXPECT_NE(s.message.find("log2_max_frame_num_minus4"), std::string::npos);

    f = {};
    f.crop_right = 100;  // more than the 176-sample width
    s = parseSps(t::spsRbsp(f), sps);
    EXPECT_EQ(s.result, Result::BrokenData);
}

TEST(Pps, ReadsEverySliceGroupMapType)
{
    for (int type = 0; type <= 6; ++type) {
        t::PpsFields f;
        f.num_slice_groups_minus1 = 2;
        f.slice_group_map_type = type;
        ParameterSets sets;
        Pps pps;
        const Status s = parsePps(t::ppsRbsp(f), sets, pps);
        ASSERT_TRUE(s.ok()) << "map type " << type << ": " << s.message;
        EXPECT_EQ(pps.slice_group_map_type, static_cast<std::uint32_t>(type));
        EXPECT_TRUE(pps.deblocking_filter_control_present_flag);
        if (type == 0) {
            EXPECT_EQ(pps.run_length_minus1, (std::vector<std::uint32_t>{10, 11, 12}));
        }
        if (type == 2) {
            EXPECT_EQ(pps.bottom_right, (std::vector<std::uint32_t>{20, 21}));
        }
        if (type >= 3 && type <= 5) {
            EXPECT_EQ(pps.slice_group_change_rate_minus1, 4u);
        }
        if (type == 6) {
            ASSERT_EQ(pps.slice_group_id.size(), 99u);
            EXPECT_EQ(pps.slice_group_id[4], 1u);
        }
    }
}

TEST(Pps, HugeMapUnitCountIsTruncatedBeforeAnythingIsAllocated)
{
    t::BitWriter w;
    w.ue(0); w.ue(0); w.flag(false); w.flag(false);
    w.ue(7);           // 8 slice groups
    w.ue(6);           // explicit map
    w.ue(0xFFFFFFF0);  // pic_size_in_map_units_minus1
    w.trailing();
    ParameterSets sets;
    Pps pps;
    EXPECT_EQ(parsePps(w.bytes(), sets, pps).result, Result::Truncated);
}

TEST(Pps, ReadsTheOptionalTailAndNeedsTheSpsOnlyForEightByEightScalingLists)
{
    t::PpsFields f;
    f.transform_8x8 = true;
    ParameterSets sets;
    Pps pps;
    ASSERT_TRUE(parsePps(t::ppsRbsp(f), sets, pps).ok());
    EXPECT_TRUE(pps.transform_8x8_mode_flag);
    EXPECT_EQ(pps.second_chroma_qp_index_offset, -2);
}

TEST(NalParser, SliceBeforeItsParameterSetsIsABrokenLinkThenOk)
{
    const t::SpsFields spsFields;
    const t::PpsFields ppsFields;
    t::SliceFields s;
    s.frame_num = 0;
    s.first_mb = 5;
    NalParser parser;
    ParsedNal p = parser.parse(sliceNal(s, spsFields, ppsFields));
    EXPECT_EQ(p.status.result, Result::BrokenLink);
    ASSERT_TRUE(p.slice.has_value());
    EXPECT_TRUE(p.slice->typeParsed);
    EXPECT_EQ(p.slice->first_mb_in_slice, 5u);
    EXPECT_EQ(p.slice->kind(), SliceKind::I);

    EXPECT_TRUE(parser.parse(spsNal(spsFields)).status.ok());
    EXPECT_TRUE(parser.parse(ppsNal(ppsFields)).status.ok());
    p = parser.parse(sliceNal(s, spsFields, ppsFields));
    ASSERT_TRUE(p.status.ok()) << p.status.message;
    EXPECT_TRUE(p.slice->complete);
    EXPECT_EQ(p.slice->slice_qp_delta, 2);
    EXPECT_EQ(p.slice->first_mb_in_slice, 5u);
}

TEST(NalParser, SliceHeaderFieldsDependOnTheParameterSets)
{
    t::SpsFields spsFields;
    spsFields.log2_max_frame_num_minus4 = 4;
    spsFields.frame_mbs_only = false;
    spsFields.log2_max_poc_lsb_minus4 = 6;
    t::PpsFields ppsFields;
    ppsFields.cabac = true;
    ppsFields.bottom_field_pic_order_in_frame_present = true;
    ppsFields.redundant_pic_cnt_present = true;
    NalParser parser;
    parser.parse(spsNal(spsFields));
    parser.parse(ppsNal(ppsFields));
    for (int type : {5, 6, 8, 9}) {  // P, B, SP, SI
        t::SliceFields s;
        s.slice_type = type;
        s.frame_num = 200;
        s.poc_lsb = 1000;
        s.field = true;
        s.bottom = true;
        s.redundant_pic_cnt = 2;
        ParsedNal p = parser.parse(sliceNal(s, spsFields, ppsFields, false, 2));
        ASSERT_TRUE(p.status.ok()) << type << ": " << p.status.message;
        EXPECT_EQ(p.slice->frame_num, 200u);
        EXPECT_EQ(p.slice->pic_order_cnt_lsb, 1000u);
        EXPECT_TRUE(p.slice->bottom_field_flag);
        EXPECT_EQ(p.slice->redundant_pic_cnt, 2u);
        EXPECT_EQ(p.slice->slice_qp_delta, 2);
    }
}

TEST(Pps, SliceGroupChangeCycleBitsAndRange)
{
    // Ceil(Log2(PicSizeInMapUnits / SliceGroupChangeRate + 1)) and
    // Ceil(PicSizeInMapUnits / SliceGroupChangeRate), for map units w x h.
    const struct { int width, height; std::uint32_t rate; int bits; std::uint64_t max; } cases[] = {
        {12, 1, 1, 4, 12},  // log2(13) = 3.7
        {15, 1, 1, 4, 15},  // log2(16) = 4
        {16, 1, 1, 5, 16},  // log2(17)
        {11, 9, 2, 6, 50},  // log2(50.5)
        {22, 18, 396, 1, 1}};
    for (const auto& c : cases) {
        Sps sps;
        sps.pic_width_in_mbs_minus1 = static_cast<std::uint32_t>(c.width - 1);
        sps.pic_height_in_map_units_minus1 = static_cast<std::uint32_t>(c.height - 1);
        Pps pps;
        pps.slice_group_change_rate_minus1 = c.rate - 1;
        EXPECT_EQ(sliceGroupChangeCycleBits(sps, pps), c.bits) << c.width * c.height << " / " << c.rate;
        EXPECT_EQ(maxSliceGroupChangeCycle(sps, pps), c.max) << c.width * c.height << " / " << c.rate;
    }
}

TEST(NalParser, SliceGroupChangeCycleTakesItsWidthFromMapUnitsAndChangeRate)
{
    // Ratios of map units to change rate on both sides of a power of two,
    // where an off-by-one width first shows.
    const struct { int widthMbs, heightMapUnits, rateMinus1; } cases[] = {
        {1, 1, 0}, {11, 9, 0}, {11, 9, 4}, {11, 9, 32}, {11, 9, 98}, {11, 9, 99}, {11, 9, 48},
        {8, 8, 0}, {8, 8, 20}, {8, 8, 62}, {8, 8, 63}, {120, 68, 6}, {120, 68, 8159}};
    for (const auto& c : cases) {
        for (int mapType = 3; mapType <= 5; ++mapType) {
            t::SpsFields spsFields;
            spsFields.width_mbs = c.widthMbs;
            spsFields.height_map_units = c.heightMapUnits;
            t::PpsFields ppsFields;
            ppsFields.num_slice_groups_minus1 = 1;
            ppsFields.slice_group_map_type = mapType;
            ppsFields.slice_group_change_rate_minus1 = c.rateMinus1;
            const int mapUnits = c.widthMbs * c.heightMapUnits;
            const int rate = c.rateMinus1 + 1;
            const std::uint64_t largest = static_cast<std::uint64_t>((mapUnits + rate - 1) / rate);
            for (const std::uint64_t cycle : {std::uint64_t{1}, largest}) {
                NalParser parser;
                ASSERT_TRUE(parser.parse(spsNal(spsFields)).status.ok());
                ASSERT_TRUE(parser.parse(ppsNal(ppsFields)).status.ok());
                t::SliceFields s;
                s.slice_group_change_cycle = cycle;
                s.slice_data_bytes = 0;
                const auto unit = sliceNal(s, spsFields, ppsFields);
                const ParsedNal p = parser.parse(unit);
                const std::string where = std::to_string(mapUnits) + " map units, rate " + std::to_string(rate) +
                                          ", type " + std::to_string(mapType) + ", cycle " + std::to_string(cycle);
                ASSERT_TRUE(p.status.ok()) << where << ": " << p.status.message;
                EXPECT_EQ(p.slice->slice_group_change_cycle, cycle) << where;
                // The header ends where the RBSP's stop bit begins.
                const int trailingBits = std::countr_zero(unsigned(unit.back())) + 1;
                EXPECT_EQ(p.slice->headerBits, (unit.size() - 1) * 8 - trailingBits) << where;
            }
        }
    }
}

TEST(NalParser, EveryTruncationOfAValidNalUnitIsReportedWithoutCrashing)
{
    t::SpsFields spsFields;
    spsFields.vui = true;
    spsFields.profile_idc = 100;
    const t::PpsFields ppsFields;
    const auto sps = spsNal(spsFields);
    const auto pps = ppsNal(ppsFields);
    t::SliceFields s;
    s.slice_data_bytes = 0;
    const auto slice = sliceNal(s, spsFields, ppsFields);
    for (const auto* unit : {&sps, &pps, &slice}) {
        for (std::size_t len = 1; len + 1 < unit->size(); ++len) {
            NalParser parser;
            parser.parse(sps);
            parser.parse(pps);
            const std::vector<std::uint8_t> cut(unit->begin(), unit->begin() + static_cast<std::ptrdiff_t>(len));
            const ParsedNal p = parser.parse(cut);
            EXPECT_FALSE(p.status.ok()) << "type " << (*unit)[0] % 32 << " cut to " << len;
            // A clipped copy of a longer NAL unit is not the stream's fault.
            EXPECT_NE(parser.parse(cut, true).status.result, Result::Truncated);
        }
    }
}

TEST(Sei, ListsMessageTypesAndSizesAndReportsAnOverlongPayload)
{
    std::vector<std::uint8_t> rbsp{0x05, 20};
    for (int i = 0; i < 16; ++i) rbsp.push_back(static_cast<std::uint8_t>(i));
    rbsp.insert(rbsp.end(), {'x', '2', '6', 0});
    rbsp.insert(rbsp.end(), {0xFF, 0x01, 0x01, 0x07});  // type 256, size 1
    rbsp.push_back(0x80);
    std::vector<SeiMessage> messages;
    ASSERT_TRUE(parseSei(rbsp, messages).ok());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].payloadType, 5u);
    EXPECT_EQ(messages[0].payloadSize, 20u);
    EXPECT_EQ(seiPayloadTypeName(5), "user_data_unregistered");
    EXPECT_NE(describeUserDataUnregistered(messages[0].payload).find("\"x26\""), std::string::npos);
    EXPECT_EQ(messages[1].payloadType, 256u);
    EXPECT_EQ(messages[1].payload[0], 0x07);

    const std::vector<std::uint8_t> overlong{0x06, 0x30, 0x01, 0x80};
    EXPECT_EQ(parseSei(overlong, messages).result, Result::Truncated);
}
