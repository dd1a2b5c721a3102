// The header writer against libx264's own headers: every SPS, PPS and slice
// header of streams in many configurations is parsed and written back, and
// must come out bit for bit as libx264 wrote it.
#include "tools/bitstream/bitstream.h"
#include "tests/tools/bitstream/encoded_stream.h"

#include <gtest/gtest.h>

using namespace kestrune::h264;
namespace t = kestrune::h264::testing;

namespace {

std::vector<t::EncodeOptions> variants()
{
    std::vector<t::EncodeOptions> v(6);
    v[1].cabac = false;  // CAVLC, no B slices
    v[1].slices = 1;
    v[2].interlaced = true;
    v[3].aud = true;
    v[3].width = 170;
    v[3].height = 100;
    v[4].hrd = true;
    v[5].cabac = false;
    v[5].slices = 4;
    v[5].frames = 40;  // frame_num wraps
    return v;
}

int bitAt(std::span<const std::uint8_t> data, std::size_t bit) { return (data[bit / 8] >> (7 - bit % 8)) & 1; }

bool sameBits(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, std::size_t bits)
{
    if (a.size() * 8 < bits || b.size() * 8 < bits) return false;
    for (std::size_t i = 0; i < bits; ++i)
        if (bitAt(a, i) != bitAt(b, i)) return false;
    return true;
}

// Position of the rbsp_stop_one_bit.
std::size_t stopBit(std::span<const std::uint8_t> rbsp)
{
    std::size_t bit = rbsp.size() * 8;
    while (bit > 0 && !bitAt(rbsp, bit - 1)) --bit;
    return bit - 1;
}

// The RBSP up to and including its last non-zero byte.
std::vector<std::uint8_t> trimmed(std::vector<std::uint8_t> rbsp)
{
    while (!rbsp.empty() && rbsp.back() == 0) rbsp.pop_back();
    return rbsp;
}

} // namespace

TEST(HeaderWriter, WritesBackEveryHeaderOfRealStreamsBitForBit)
{
    for (const t::EncodeOptions& v : variants()) {
        SCOPED_TRACE(::testing::Message() << "cabac " << v.cabac << " interlaced " << v.interlaced << " hrd " << v.hrd
                                          << " slices " << v.slices);
        const t::EncodedStream stream = t::encodeTestStream(v);
        AnnexBReader reader(stream.bytes);
        NalParser parser;
        NalUnit unit;
        int sps = 0, pps = 0, slices = 0;
        while (reader.next(unit)) {
            const ParsedNal p = parser.parse(unit.bytes, unit.clipped());
            ASSERT_TRUE(p.status.ok()) << p.status.message;
            const std::vector<std::uint8_t> rbsp = removeEmulationPrevention(std::span(unit.bytes).subspan(1));
            if (p.sps) {
                BitWriter out;
                writeSps(*p.sps, out);
                EXPECT_EQ(out.bytes(), trimmed(rbsp));
                EXPECT_EQ(spsNalUnit(*p.sps, p.header.nal_ref_idc), unit.bytes);
                ++sps;
            }
            if (p.pps) {
                BitWriter out;
                writePps(*p.pps, parser.parameterSets().findSps(p.pps->seq_parameter_set_id), out);
                EXPECT_EQ(out.bytes(), trimmed(rbsp));
                ++pps;
            }
            if (p.slice) {
                const Pps& activePps = *parser.parameterSets().findPps(p.slice->pic_parameter_set_id);
                const Sps& activeSps = *parser.parameterSets().findSps(activePps.seq_parameter_set_id);
                BitWriter out;
                writeSliceHeader(p.header, *p.slice, activeSps, activePps, out);
                ASSERT_EQ(out.bitCount(), p.slice->headerBits) << "slice " << slices;
                EXPECT_TRUE(sameBits(out.bytes(), rbsp, out.bitCount())) << "slice " << slices;
                // Re-emitting an unchanged header gives back the NAL unit itself.
                EXPECT_EQ(rewriteSliceHeader(unit.bytes, *p.slice, *p.slice, activeSps, activePps), unit.bytes)
                    << "slice " << slices;
                ++slices;
            }
        }
        EXPECT_GT(sps, 0);
        EXPECT_GT(pps, 0);
        EXPECT_EQ(slices, stream.frames * v.slices);
    }
}

TEST(HeaderWriter, AWiderFrameNumMovesTheSliceDataButKeepsItIntact)
{
    for (const t::EncodeOptions& v : variants()) {
        SCOPED_TRACE(::testing::Message() << "cabac " << v.cabac << " interlaced " << v.interlaced);
        const t::EncodedStream stream = t::encodeTestStream(v);
        AnnexBReader reader(stream.bytes);
        NalParser original, rewritten;
        NalUnit unit;
        int slices = 0;
        std::uint32_t idrCount = 0;
        while (reader.next(unit)) {
            const ParsedNal p = original.parse(unit.bytes, unit.clipped());
            std::vector<std::uint8_t> nal = unit.bytes;
            if (p.sps) {
                Sps wide = *p.sps;
                wide.log2_max_frame_num_minus4 = 12;
                nal = spsNalUnit(wide, p.header.nal_ref_idc);
            } else if (p.slice) {
                const Pps& pps = *original.parameterSets().findPps(p.slice->pic_parameter_set_id);
                Sps wide = *original.parameterSets().findSps(pps.seq_parameter_set_id);
                wide.log2_max_frame_num_minus4 = 12;
                SliceHeader changed = *p.slice;
                changed.frame_num = p.slice->frame_num + 4096;
                if (p.header.nal_unit_type == NalIdrSlice) {
                    changed.frame_num = 0;
                    changed.idr_pic_id = 1000 + idrCount++;
                }
                nal = rewriteSliceHeader(unit.bytes, *p.slice, changed, wide, pps);
                ASSERT_FALSE(nal.empty());
            }
            const ParsedNal q = rewritten.parse(nal, false);
            ASSERT_TRUE(q.status.ok()) << q.status.message;
            if (!p.slice) continue;
            ASSERT_TRUE(q.slice);
            EXPECT_EQ(q.slice->frame_num, p.header.nal_unit_type == NalIdrSlice ? 0 : p.slice->frame_num + 4096);
            EXPECT_EQ(q.slice->slice_qp_delta, p.slice->slice_qp_delta);
            EXPECT_EQ(q.slice->mmcos.size(), p.slice->mmcos.size());
            // The slice data after the header: CABAC from the next byte boundary, CAVLC bit for bit.
            const auto a = removeEmulationPrevention(std::span(unit.bytes).subspan(1));
            const auto b = removeEmulationPrevention(std::span(nal).subspan(1));
            const bool cabac = original.parameterSets().findPps(p.slice->pic_parameter_set_id)->entropy_coding_mode_flag;
            if (cabac) {
                const std::size_t from = (p.slice->headerBits + 7) / 8, to = (q.slice->headerBits + 7) / 8;
                EXPECT_EQ(std::vector(a.begin() + std::ptrdiff_t(from), a.end()), std::vector(b.begin() + std::ptrdiff_t(to), b.end()));
                for (std::size_t bit = q.slice->headerBits; bit < to * 8; ++bit)
                    EXPECT_EQ((b[bit / 8] >> (7 - bit % 8)) & 1, 1) << "cabac_alignment_one_bit";
            } else {
                const std::size_t stopA = stopBit(a), stopB = stopBit(b);
                ASSERT_EQ(stopB - q.slice->headerBits, stopA - p.slice->headerBits);
                for (std::size_t k = 0; k < stopA - p.slice->headerBits; ++k)
                    ASSERT_EQ(bitAt(a, p.slice->headerBits + k), bitAt(b, q.slice->headerBits + k)) << "data bit " << k;
            }
            ++slices;
        }
        EXPECT_EQ(slices, stream.frames * v.slices);
    }
}

// What libx264 never writes (weight tables, reference list changes, memory
// management, slice groups, POC type 1, scaling lists, redundant pictures):
// headers made up here go through writer, parser and writer again unchanged.
TEST(HeaderWriter, HeadersOfEveryShapeSurviveWritingAndParsing)
{
    Sps sps;
    sps.profile_idc = 100;
    sps.level_idc = 30;
    sps.seq_scaling_matrix_present_flag = true;
    sps.seq_scaling_lists.resize(8);
    sps.seq_scaling_lists[1] = {true, false, {3, -2, 5, -14}};  // ends early: the last scale repeats
    sps.seq_scaling_lists[6] = {true, true, {-8}};            // default list
    sps.log2_max_frame_num_minus4 = 12;
    sps.pic_order_cnt_type = 1;
    sps.offset_for_non_ref_pic = -2;
    sps.offset_for_ref_frame = {2, 4};
    sps.num_ref_frames_in_pic_order_cnt_cycle = 2;
    sps.max_num_ref_frames = 4;
    sps.pic_width_in_mbs_minus1 = 10;
    sps.pic_height_in_map_units_minus1 = 8;
    sps.vui_parameters_present_flag = true;
    sps.vui.timing_info_present_flag = true;
    sps.vui.num_units_in_tick = 1;
    sps.vui.time_scale = 50;
    Pps pps;
    pps.num_slice_groups_minus1 = 1;
    pps.slice_group_map_type = 4;
    pps.slice_group_change_rate_minus1 = 6;
    pps.num_ref_idx_l0_default_active_minus1 = 2;
    pps.weighted_pred_flag = true;
    pps.weighted_bipred_idc = 1;
    pps.deblocking_filter_control_present_flag = true;
    pps.redundant_pic_cnt_present_flag = true;
    pps.transform_8x8_mode_flag = true;
    pps.second_chroma_qp_index_offset = -3;

    NalParser parser;
    const auto spsNal = spsNalUnit(sps);
    const auto ppsNal = ppsNalUnit(pps, &sps);
    const ParsedNal parsedSps = parser.parse(spsNal, false);
    ASSERT_TRUE(parsedSps.status.ok()) << parsedSps.status.message;
    const ParsedNal parsedPps = parser.parse(ppsNal, false);
    ASSERT_TRUE(parsedPps.status.ok()) << parsedPps.status.message;
    EXPECT_EQ(spsNalUnit(*parser.parameterSets().findSps(0)), spsNal);
    EXPECT_EQ(ppsNalUnit(*parsedPps.pps, &sps), ppsNal);

    for (int shape = 0; shape < 3; ++shape) {
        SCOPED_TRACE(shape);
        NalHeader nal{0, 2, NalSlice, 1};
        SliceHeader h;
        h.first_mb_in_slice = 7;
        h.frame_num = 40000;
        h.delta_pic_order_cnt[0] = -3;
        h.redundant_pic_cnt = shape;
        h.slice_qp_delta = -4;
        h.disable_deblocking_filter_idc = 2;
        h.slice_alpha_c0_offset_div2 = 3;
        h.slice_beta_offset_div2 = -2;
        h.slice_group_change_cycle = 5;
        h.slice_type = shape == 2 ? 6 : 5;  // P, or B on the last pass
        h.num_ref_idx_active_override_flag = shape == 1;
        h.num_ref_idx_l0_active_minus1 = shape == 1 ? 1 : 2;
        h.ref_pic_list_modification_flag_l0 = true;
        h.modifications_l0 = {{0, 4}, {2, 1}};
        h.hasPredWeightTable = true;
        h.luma_log2_weight_denom = 5;
        h.chroma_log2_weight_denom = 3;
        for (std::uint32_t i = 0; i <= h.num_ref_idx_l0_active_minus1; ++i) {
            PredWeight w;
            w.luma_weight_flag = i != 1;
            w.luma_weight = w.luma_weight_flag ? 30 + int(i) : 0;
            w.luma_offset = w.luma_weight_flag ? -int(i) : 0;
            w.chroma_weight_flag = i == 1;
            if (w.chroma_weight_flag) w = {false, 0, 0, true, {7, -9}, {1, 2}};
            h.weights_l0.push_back(w);
        }
        if (shape == 2) {
            h.direct_spatial_mv_pred_flag = true;
            h.ref_pic_list_modification_flag_l1 = true;
            h.modifications_l1 = {{1, 0}};
            h.weights_l1.assign(1, PredWeight{true, -5, 6, false, {0, 0}, {0, 0}});
            nal.nal_ref_idc = 0;
        } else {
            h.adaptive_ref_pic_marking_mode_flag = true;
            h.mmcos = {{1, 3, 0, 0, 0}, {3, 0, 0, 1, 0}, {4, 0, 0, 0, 2}, {6, 0, 0, 2, 0}, {2, 0, 9, 0, 0}};
        }
        BitWriter out;
        writeSliceHeader(nal, h, sps, *parsedPps.pps, out);
        out.trailing();
        const auto bytes = makeNalUnit(nal.nal_ref_idc, nal.nal_unit_type, out.bytes());
        const ParsedNal back = parser.parse(bytes, false);
        ASSERT_TRUE(back.status.ok()) << back.status.message;
        ASSERT_TRUE(back.slice);
        const SliceHeader& r = *back.slice;
        EXPECT_EQ(r.frame_num, 40000u);
        EXPECT_EQ(r.redundant_pic_cnt, std::uint32_t(shape));
        EXPECT_EQ(r.slice_group_change_cycle, 5u);
        EXPECT_EQ(r.slice_beta_offset_div2, -2);
        ASSERT_EQ(r.weights_l0.size(), h.weights_l0.size());
        for (std::size_t i = 0; i < h.weights_l0.size(); ++i) {
            EXPECT_EQ(r.weights_l0[i].luma_weight, h.weights_l0[i].luma_weight);
            EXPECT_EQ(r.weights_l0[i].chroma_offset[1], h.weights_l0[i].chroma_offset[1]);
        }
        EXPECT_EQ(r.weights_l1.size(), h.weights_l1.size());
        EXPECT_EQ(r.mmcos.size(), h.mmcos.size());
        EXPECT_EQ(r.modifications_l0.size(), 2u);
        BitWriter again;
        writeSliceHeader(back.header, r, sps, *parsedPps.pps, again);
        again.trailing();
        EXPECT_EQ(again.bytes(), out.bytes());
    }
}
