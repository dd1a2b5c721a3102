#include "tools/bitstream/parameter_sets.h"

#include "tools/bitstream/syntax_reader.h"

#include <string>

namespace kestrune::h264 {
namespace {

// Clause 7.3.2.1.1.1.
ScalingList readScalingList(SyntaxReader& r, int index, int size)
{
    ScalingList list;
    list.present = true;
    int lastScale = 8;
    int nextScale = 8;
    for (int j = 0; j < size && r.ok(); ++j) {
        if (nextScale != 0) {
            const std::int32_t delta = r.se("delta_scale", index * 64 + j, -128, 127);
            list.delta_scale.push_back(delta);
            nextScale = (lastScale + delta + 256) % 256;
            if (j == 0) list.useDefault = nextScale == 0;
        }
        lastScale = nextScale == 0 ? lastScale : nextScale;
    }
    return list;
}

std::vector<ScalingList> readScalingLists(SyntaxReader& r, const char* presentName, int count)
{
    std::vector<ScalingList> lists(static_cast<std::size_t>(count));
    for (int i = 0; i < count && r.ok(); ++i) {
        if (r.flag(presentName, i)) lists[static_cast<std::size_t>(i)] = readScalingList(r, i, i < 6 ? 16 : 64);
    }
    return lists;
}

// Clause E.1.2.
HrdParameters readHrd(SyntaxReader& r)
{
    HrdParameters h;
    h.cpb_cnt_minus1 = r.ue("cpb_cnt_minus1", 31);
    h.bit_rate_scale = r.u("bit_rate_scale", 4);
    h.cpb_size_scale = r.u("cpb_size_scale", 4);
    for (std::uint32_t i = 0; i <= h.cpb_cnt_minus1 && r.ok(); ++i) {
        const int k = static_cast<int>(i);
        h.bit_rate_value_minus1.push_back(r.ue("bit_rate_value_minus1", k, 0xFFFFFFFEu));
        h.cpb_size_value_minus1.push_back(r.ue("cpb_size_value_minus1", k, 0xFFFFFFFEu));
        h.cbr_flag.push_back(r.flag("cbr_flag", k));
    }
    h.initial_cpb_removal_delay_length_minus1 = r.u("initial_cpb_removal_delay_length_minus1", 5);
    h.cpb_removal_delay_length_minus1 = r.u("cpb_removal_delay_length_minus1", 5);
    h.dpb_output_delay_length_minus1 = r.u("dpb_output_delay_length_minus1", 5);
    h.time_offset_length = r.u("time_offset_length", 5);
    return h;
}

// Clause E.1.1.
VuiParameters readVui(SyntaxReader& r)
{
    VuiParameters v;
    v.aspect_ratio_info_present_flag = r.flag("aspect_ratio_info_present_flag");
    if (v.aspect_ratio_info_present_flag) {
        v.aspect_ratio_idc = r.u("aspect_ratio_idc", 8);
        if (v.aspect_ratio_idc == 255) {
            v.sar_width = r.u("sar_width", 16);
            v.sar_height = r.u("sar_height", 16);
        }
    }
    v.overscan_info_present_flag = r.flag("overscan_info_present_flag");
    if (v.overscan_info_present_flag) v.overscan_appropriate_flag = r.flag("overscan_appropriate_flag");
    v.video_signal_type_present_flag = r.flag("video_signal_type_present_flag");
    if (v.video_signal_type_present_flag) {
        v.video_format = r.u("video_format", 3);
        v.video_full_range_flag = r.flag("video_full_range_flag");
        v.colour_description_present_flag = r.flag("colour_description_present_flag");
        if (v.colour_description_present_flag) {
            v.colour_primaries = r.u("colour_primaries", 8);
            v.transfer_characteristics = r.u("transfer_characteristics", 8);
            v.matrix_coefficients = r.u("matrix_coefficients", 8);
        }
    }
    v.chroma_loc_info_present_flag = r.flag("chroma_loc_info_present_flag");
    if (v.chroma_loc_info_present_flag) {
        v.chroma_sample_loc_type_top_field = r.ue("chroma_sample_loc_type_top_field", 5);
        v.chroma_sample_loc_type_bottom_field = r.ue("chroma_sample_loc_type_bottom_field", 5);
    }
    v.timing_info_present_flag = r.flag("timing_info_present_flag");
    if (v.timing_info_present_flag) {
        v.num_units_in_tick = r.u("num_units_in_tick", 32);
        v.time_scale = r.u("time_scale", 32);
        v.fixed_frame_rate_flag = r.flag("fixed_frame_rate_flag");
        if (r.ok() && (v.num_units_in_tick == 0 || v.time_scale == 0))
            r.fail(Result::BrokenData, "num_units_in_tick and time_scale must be greater than 0");
    }
    v.nal_hrd_parameters_present_flag = r.flag("nal_hrd_parameters_present_flag");
    if (v.nal_hrd_parameters_present_flag) v.nal_hrd = readHrd(r);
    v.vcl_hrd_parameters_present_flag = r.flag("vcl_hrd_parameters_present_flag");
    if (v.vcl_hrd_parameters_present_flag) v.vcl_hrd = readHrd(r);
    if (v.nal_hrd_parameters_present_flag || v.vcl_hrd_parameters_present_flag)
        v.low_delay_hrd_flag = r.flag("low_delay_hrd_flag");
    v.pic_struct_present_flag = r.flag("pic_struct_present_flag");
    v.bitstream_restriction_flag = r.flag("bitstream_restriction_flag");
    if (v.bitstream_restriction_flag) {
        v.motion_vectors_over_pic_boundaries_flag = r.flag("motion_vectors_over_pic_boundaries_flag");
        v.max_bytes_per_pic_denom = r.ue("max_bytes_per_pic_denom", 16);
        v.max_bits_per_mb_denom = r.ue("max_bits_per_mb_denom", 16);
        v.log2_max_mv_length_horizontal = r.ue("log2_max_mv_length_horizontal", 16);
        v.log2_max_mv_length_vertical = r.ue("log2_max_mv_length_vertical", 16);
        v.max_num_reorder_frames = r.ue("max_num_reorder_frames", 16);
        v.max_dec_frame_buffering = r.ue("max_dec_frame_buffering", 16);
    }
    return v;
}

} // namespace

bool isHighProfile(std::uint32_t profile)
{
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86:
    case 118: case 128: case 138: case 139: case 134: case 135:
        return true;
    default:
        return false;
    }
}

int Sps::cropUnitX() const
{
    const int cat = chromaArrayType();
    return cat == 1 || cat == 2 ? 2 : 1;
}

int Sps::cropUnitY() const
{
    const int cat = chromaArrayType();
    return (cat == 1 ? 2 : 1) * (2 - frame_mbs_only_flag);
}

int Sps::width() const
{
    if (!frame_cropping_flag) return codedWidth();
    return codedWidth() - cropUnitX() * static_cast<int>(frame_crop_left_offset + frame_crop_right_offset);
}

int Sps::height() const
{
    if (!frame_cropping_flag) return codedHeight();
    return codedHeight() - cropUnitY() * static_cast<int>(frame_crop_top_offset + frame_crop_bottom_offset);
}

bool hasSliceGroupChangeCycle(const Pps& pps)
{
    return pps.num_slice_groups_minus1 > 0 && pps.slice_group_map_type >= 3 && pps.slice_group_map_type <= 5;
}

int sliceGroupChangeCycleBits(const Sps& sps, const Pps& pps)
{
    // Exact in integers: the smallest bits with rate * 2^bits >= mapUnits + rate.
    const std::uint64_t rate = std::uint64_t{pps.slice_group_change_rate_minus1} + 1;
    const auto mapUnits = static_cast<std::uint64_t>(sps.picSizeInMapUnits());
    int bits = 0;
    while ((rate << bits) < mapUnits + rate) ++bits;
    return bits;
}

std::uint64_t maxSliceGroupChangeCycle(const Sps& sps, const Pps& pps)
{
    const std::uint64_t rate = std::uint64_t{pps.slice_group_change_rate_minus1} + 1;
    return (static_cast<std::uint64_t>(sps.picSizeInMapUnits()) + rate - 1) / rate;
}

double Sps::frameRate() const
{
    if (!vui_parameters_present_flag || !vui.timing_info_present_flag || vui.num_units_in_tick == 0) return 0;
    return static_cast<double>(vui.time_scale) / (2.0 * vui.num_units_in_tick);
}

Status parseSps(std::span<const std::uint8_t> rbsp, Sps& sps, Trace* trace, bool* spsCoreParsed)
{
    if (spsCoreParsed) *spsCoreParsed = false;
    sps = Sps{};
    SyntaxReader r(rbsp, trace);
    sps.profile_idc = r.u("profile_idc", 8);
    static const char* const kConstraintNames[6] = {"constraint_set0_flag", "constraint_set1_flag",
        "constraint_set2_flag", "constraint_set3_flag", "constraint_set4_flag", "constraint_set5_flag"};
    for (int i = 0; i < 6; ++i) sps.constraint_set_flag[static_cast<std::size_t>(i)] = r.flag(kConstraintNames[i]);
    sps.reserved_zero_2bits = r.u("reserved_zero_2bits", 2);
    sps.level_idc = r.u("level_idc", 8);
    sps.seq_parameter_set_id = r.ue("seq_parameter_set_id", 31);
    if (isHighProfile(sps.profile_idc)) {
        sps.chroma_format_idc = r.ue("chroma_format_idc", 3);
        if (sps.chroma_format_idc == 3) sps.separate_colour_plane_flag = r.flag("separate_colour_plane_flag");
        sps.bit_depth_luma_minus8 = r.ue("bit_depth_luma_minus8", 6);
        sps.bit_depth_chroma_minus8 = r.ue("bit_depth_chroma_minus8", 6);
        sps.qpprime_y_zero_transform_bypass_flag = r.flag("qpprime_y_zero_transform_bypass_flag");
        sps.seq_scaling_matrix_present_flag = r.flag("seq_scaling_matrix_present_flag");
        if (sps.seq_scaling_matrix_present_flag)
            sps.seq_scaling_lists = readScalingLists(r, "seq_scaling_list_present_flag", sps.chroma_format_idc != 3 ? 8 : 12);
    }
    sps.log2_max_frame_num_minus4 = r.ue("log2_max_frame_num_minus4", 12);
    sps.pic_order_cnt_type = r.ue("pic_order_cnt_type", 2);
    if (sps.pic_order_cnt_type == 0) {
        sps.log2_max_pic_order_cnt_lsb_minus4 = r.ue("log2_max_pic_order_cnt_lsb_minus4", 12);
    } else if (sps.pic_order_cnt_type == 1) {
        sps.delta_pic_order_always_zero_flag = r.flag("delta_pic_order_always_zero_flag");
        sps.offset_for_non_ref_pic = r.se("offset_for_non_ref_pic");
        sps.offset_for_top_to_bottom_field = r.se("offset_for_top_to_bottom_field");
        sps.num_ref_frames_in_pic_order_cnt_cycle = r.ue("num_ref_frames_in_pic_order_cnt_cycle", 255);
        for (std::uint32_t i = 0; i < sps.num_ref_frames_in_pic_order_cnt_cycle && r.ok(); ++i)
            sps.offset_for_ref_frame.push_back(r.se("offset_for_ref_frame", static_cast<int>(i), -2147483647, 2147483647));
    }
    sps.max_num_ref_frames = r.ue("max_num_ref_frames", 16);
    sps.gaps_in_frame_num_value_allowed_flag = r.flag("gaps_in_frame_num_value_allowed_flag");
    // Far above any level's limit (level 6.2 allows 139264 macroblocks), but
    // small enough that sizes in samples never overflow.
    sps.pic_width_in_mbs_minus1 = r.ue("pic_width_in_mbs_minus1", 4095);
    sps.pic_height_in_map_units_minus1 = r.ue("pic_height_in_map_units_minus1", 4095);
    sps.frame_mbs_only_flag = r.flag("frame_mbs_only_flag");
    if (!sps.frame_mbs_only_flag) sps.mb_adaptive_frame_field_flag = r.flag("mb_adaptive_frame_field_flag");
    sps.direct_8x8_inference_flag = r.flag("direct_8x8_inference_flag");
    sps.frame_cropping_flag = r.flag("frame_cropping_flag");
    if (sps.frame_cropping_flag) {
        sps.frame_crop_left_offset = r.ue("frame_crop_left_offset", 65535);
        sps.frame_crop_right_offset = r.ue("frame_crop_right_offset", 65535);
        sps.frame_crop_top_offset = r.ue("frame_crop_top_offset", 65535);
        sps.frame_crop_bottom_offset = r.ue("frame_crop_bottom_offset", 65535);
        if (r.ok() && (sps.width() <= 0 || sps.height() <= 0))
            r.fail(Result::BrokenData, "frame cropping removes the whole picture");
    }
    sps.vui_parameters_present_flag = r.flag("vui_parameters_present_flag");
    if (!r.ok()) return r.status();
    if (spsCoreParsed) *spsCoreParsed = true;
    if (sps.vui_parameters_present_flag) sps.vui = readVui(r);
    return r.status();
}

Status parsePps(std::span<const std::uint8_t> rbsp, const ParameterSets& sets, Pps& pps, Trace* trace)
{
    pps = Pps{};
    SyntaxReader r(rbsp, trace);
    pps.pic_parameter_set_id = r.ue("pic_parameter_set_id", 255);
    pps.seq_parameter_set_id = r.ue("seq_parameter_set_id", 31);
    pps.entropy_coding_mode_flag = r.flag("entropy_coding_mode_flag");
    pps.bottom_field_pic_order_in_frame_present_flag = r.flag("bottom_field_pic_order_in_frame_present_flag");
    pps.num_slice_groups_minus1 = r.ue("num_slice_groups_minus1", 7);
    if (pps.num_slice_groups_minus1 > 0) {
        const int groups = static_cast<int>(pps.num_slice_groups_minus1) + 1;
        pps.slice_group_map_type = r.ue("slice_group_map_type", 6);
        switch (pps.slice_group_map_type) {
        case 0:
            for (int i = 0; i < groups && r.ok(); ++i)
                pps.run_length_minus1.push_back(r.ue("run_length_minus1", i, 0xFFFFFFFEu));
            break;
        case 2:
            for (int i = 0; i < groups - 1 && r.ok(); ++i) {
                pps.top_left.push_back(r.ue("top_left", i, 0xFFFFFFFEu));
                pps.bottom_right.push_back(r.ue("bottom_right", i, 0xFFFFFFFEu));
                if (r.ok() && pps.top_left.back() > pps.bottom_right.back())
                    r.fail(Result::BrokenData, "top_left[" + std::to_string(i) + "] is greater than bottom_right");
            }
            break;
        case 3: case 4: case 5:
            pps.slice_group_change_direction_flag = r.flag("slice_group_change_direction_flag");
            pps.slice_group_change_rate_minus1 = r.ue("slice_group_change_rate_minus1", 0xFFFFFFFEu);
            break;
        case 6: {
            pps.pic_size_in_map_units_minus1 = r.ue("pic_size_in_map_units_minus1", 0xFFFFFFFEu);
            int bits = 0;
            while ((1 << bits) < groups) ++bits;
            const std::uint64_t count = std::uint64_t{pps.pic_size_in_map_units_minus1} + 1;
            // Check the length before allocating: the count comes from the stream.
            if (r.ok() && count * static_cast<std::uint64_t>(bits) > r.bits().bitsLeft()) {
                r.fail(Result::Truncated, "NAL unit ends inside slice_group_id");
                break;
            }
            for (std::uint64_t i = 0; i < count && r.ok(); ++i) {
                const std::uint32_t id = r.u("slice_group_id", static_cast<int>(i), bits);
                if (r.ok() && id >= static_cast<std::uint32_t>(groups))
                    r.fail(Result::BrokenData, "slice_group_id[" + std::to_string(i) + "] exceeds num_slice_groups_minus1");
                pps.slice_group_id.push_back(id);
            }
            break;
        }
        default:
            break;
        }
    }
    pps.num_ref_idx_l0_default_active_minus1 = r.ue("num_ref_idx_l0_default_active_minus1", 31);
    pps.num_ref_idx_l1_default_active_minus1 = r.ue("num_ref_idx_l1_default_active_minus1", 31);
    pps.weighted_pred_flag = r.flag("weighted_pred_flag");
    pps.weighted_bipred_idc = r.u("weighted_bipred_idc", 2);
    if (r.ok() && pps.weighted_bipred_idc > 2) r.fail(Result::BrokenData, "weighted_bipred_idc = 3 is outside 0..2");
    const Sps* sps = sets.findSps(pps.seq_parameter_set_id);
    const int qpBdOffset = sps ? 6 * static_cast<int>(sps->bit_depth_luma_minus8) : 36;
    pps.pic_init_qp_minus26 = r.se("pic_init_qp_minus26", -(26 + qpBdOffset), 25);
    pps.pic_init_qs_minus26 = r.se("pic_init_qs_minus26", -26, 25);
    pps.chroma_qp_index_offset = r.se("chroma_qp_index_offset", -12, 12);
    pps.deblocking_filter_control_present_flag = r.flag("deblocking_filter_control_present_flag");
    pps.constrained_intra_pred_flag = r.flag("constrained_intra_pred_flag");
    pps.redundant_pic_cnt_present_flag = r.flag("redundant_pic_cnt_present_flag");
    pps.second_chroma_qp_index_offset = pps.chroma_qp_index_offset;
    if (r.moreRbspData()) {
        pps.extensionPresent = true;
        pps.transform_8x8_mode_flag = r.flag("transform_8x8_mode_flag");
        pps.pic_scaling_matrix_present_flag = r.flag("pic_scaling_matrix_present_flag");
        if (pps.pic_scaling_matrix_present_flag) {
            int count = 6;
            if (pps.transform_8x8_mode_flag) {
                if (!sps) {
                    r.fail(Result::BrokenLink, "PPS " + std::to_string(pps.pic_parameter_set_id) + " refers to SPS "
                               + std::to_string(pps.seq_parameter_set_id) + ", which has not been seen");
                    return r.status();
                }
                count += sps->chroma_format_idc != 3 ? 2 : 6;
            }
            pps.pic_scaling_lists = readScalingLists(r, "pic_scaling_list_present_flag", count);
        }
        pps.second_chroma_qp_index_offset = r.se("second_chroma_qp_index_offset", -12, 12);
    }
    return r.status();
}

std::string profileName(const Sps& sps)
{
    const bool cs1 = sps.constraint_set_flag[1];
    const bool cs3 = sps.constraint_set_flag[3];
    switch (sps.profile_idc) {
    case 66: return cs1 ? "Constrained Baseline" : "Baseline";
    case 77: return "Main";
    case 88: return "Extended";
    case 100: return "High";
    case 110: return cs3 ? "High 10 Intra" : "High 10";
    case 122: return cs3 ? "High 4:2:2 Intra" : "High 4:2:2";
    case 244: return cs3 ? "High 4:4:4 Intra" : "High 4:4:4 Predictive";
    case 44: return "CAVLC 4:4:4 Intra";
    case 83: return "Scalable Baseline";
    case 86: return "Scalable High";
    case 118: return "Multiview High";
    case 128: return "Stereo High";
    default: return "profile_idc " + std::to_string(sps.profile_idc);
    }
}

std::string levelName(const Sps& sps)
{
    const bool oneB = sps.level_idc == 9
        || (sps.level_idc == 11 && sps.constraint_set_flag[3]
            && (sps.profile_idc == 66 || sps.profile_idc == 77 || sps.profile_idc == 88));
    if (oneB) return "1b";
    return std::to_string(sps.level_idc / 10) + "." + std::to_string(sps.level_idc % 10);
}

} // namespace kestrune::h264
