#include "tools/bitstream/header_writer.h"

#include "tools/bitstream/bit_reader.h"

namespace kestrune::h264 {
namespace {

void writeScalingLists(const std::vector<ScalingList>& lists, BitWriter& out)
{
    for (const ScalingList& list : lists) {
        out.flag(list.present);
        for (std::int32_t delta : list.delta_scale) out.se(delta);
    }
}

void writeHrd(const HrdParameters& h, BitWriter& out)
{
    out.ue(h.cpb_cnt_minus1);
    out.u(4, h.bit_rate_scale);
    out.u(4, h.cpb_size_scale);
    for (std::size_t i = 0; i <= h.cpb_cnt_minus1 && i < h.bit_rate_value_minus1.size(); ++i) {
        out.ue(h.bit_rate_value_minus1[i]);
        out.ue(h.cpb_size_value_minus1[i]);
        out.flag(h.cbr_flag[i]);
    }
    out.u(5, h.initial_cpb_removal_delay_length_minus1);
    out.u(5, h.cpb_removal_delay_length_minus1);
    out.u(5, h.dpb_output_delay_length_minus1);
    out.u(5, h.time_offset_length);
}

void writeVui(const VuiParameters& v, BitWriter& out)
{
    out.flag(v.aspect_ratio_info_present_flag);
    if (v.aspect_ratio_info_present_flag) {
        out.u(8, v.aspect_ratio_idc);
        if (v.aspect_ratio_idc == 255) {
            out.u(16, v.sar_width);
            out.u(16, v.sar_height);
        }
    }
    out.flag(v.overscan_info_present_flag);
    if (v.overscan_info_present_flag) out.flag(v.overscan_appropriate_flag);
    out.flag(v.video_signal_type_present_flag);
    if (v.video_signal_type_present_flag) {
        out.u(3, v.video_format);
        out.flag(v.video_full_range_flag);
        out.flag(v.colour_description_present_flag);
        if (v.colour_description_present_flag) {
            out.u(8, v.colour_primaries);
            out.u(8, v.transfer_characteristics);
            out.u(8, v.matrix_coefficients);
        }
    }
    out.flag(v.chroma_loc_info_present_flag);
    if (v.chroma_loc_info_present_flag) {
        out.ue(v.chroma_sample_loc_type_top_field);
        out.ue(v.chroma_sample_loc_type_bottom_field);
    }
    out.flag(v.timing_info_present_flag);
    if (v.timing_info_present_flag) {
        out.u(32, v.num_units_in_tick);
        out.u(32, v.time_scale);
        out.flag(v.fixed_frame_rate_flag);
    }
    out.flag(v.nal_hrd_parameters_present_flag);
    if (v.nal_hrd_parameters_present_flag) writeHrd(v.nal_hrd, out);
    out.flag(v.vcl_hrd_parameters_present_flag);
    if (v.vcl_hrd_parameters_present_flag) writeHrd(v.vcl_hrd, out);
    if (v.nal_hrd_parameters_present_flag || v.vcl_hrd_parameters_present_flag) out.flag(v.low_delay_hrd_flag);
    out.flag(v.pic_struct_present_flag);
    out.flag(v.bitstream_restriction_flag);
    if (v.bitstream_restriction_flag) {
        out.flag(v.motion_vectors_over_pic_boundaries_flag);
        out.ue(v.max_bytes_per_pic_denom);
        out.ue(v.max_bits_per_mb_denom);
        out.ue(v.log2_max_mv_length_horizontal);
        out.ue(v.log2_max_mv_length_vertical);
        out.ue(v.max_num_reorder_frames);
        out.ue(v.max_dec_frame_buffering);
    }
}

void writeModifications(bool flag, const std::vector<RefPicListModification>& mods, BitWriter& out)
{
    out.flag(flag);
    if (!flag) return;
    for (const RefPicListModification& m : mods) {
        out.ue(m.modification_of_pic_nums_idc);
        out.ue(m.value);
    }
    out.ue(3);
}

void writeWeights(const std::vector<PredWeight>& weights, std::uint32_t count, bool chroma, BitWriter& out)
{
    for (std::uint32_t i = 0; i <= count; ++i) {
        const PredWeight w = i < weights.size() ? weights[i] : PredWeight{};
        out.flag(w.luma_weight_flag);
        if (w.luma_weight_flag) {
            out.se(w.luma_weight);
            out.se(w.luma_offset);
        }
        if (!chroma) continue;
        out.flag(w.chroma_weight_flag);
        if (w.chroma_weight_flag) {
            for (int j = 0; j < 2; ++j) {
                out.se(w.chroma_weight[j]);
                out.se(w.chroma_offset[j]);
            }
        }
    }
}

} // namespace

void writeSps(const Sps& sps, BitWriter& out)
{
    out.u(8, sps.profile_idc);
    for (bool f : sps.constraint_set_flag) out.flag(f);
    out.u(2, sps.reserved_zero_2bits);
    out.u(8, sps.level_idc);
    out.ue(sps.seq_parameter_set_id);
    if (isHighProfile(sps.profile_idc)) {
        out.ue(sps.chroma_format_idc);
        if (sps.chroma_format_idc == 3) out.flag(sps.separate_colour_plane_flag);
        out.ue(sps.bit_depth_luma_minus8);
        out.ue(sps.bit_depth_chroma_minus8);
        out.flag(sps.qpprime_y_zero_transform_bypass_flag);
        out.flag(sps.seq_scaling_matrix_present_flag);
        if (sps.seq_scaling_matrix_present_flag) writeScalingLists(sps.seq_scaling_lists, out);
    }
    out.ue(sps.log2_max_frame_num_minus4);
    out.ue(sps.pic_order_cnt_type);
    if (sps.pic_order_cnt_type == 0) {
        out.ue(sps.log2_max_pic_order_cnt_lsb_minus4);
    } else if (sps.pic_order_cnt_type == 1) {
        out.flag(sps.delta_pic_order_always_zero_flag);
        out.se(sps.offset_for_non_ref_pic);
        out.se(sps.offset_for_top_to_bottom_field);
        out.ue(sps.offset_for_ref_frame.size());
        for (std::int32_t offset : sps.offset_for_ref_frame) out.se(offset);
    }
    out.ue(sps.max_num_ref_frames);
    out.flag(sps.gaps_in_frame_num_value_allowed_flag);
    out.ue(sps.pic_width_in_mbs_minus1);
    out.ue(sps.pic_height_in_map_units_minus1);
    out.flag(sps.frame_mbs_only_flag);
    if (!sps.frame_mbs_only_flag) out.flag(sps.mb_adaptive_frame_field_flag);
    out.flag(sps.direct_8x8_inference_flag);
    out.flag(sps.frame_cropping_flag);
    if (sps.frame_cropping_flag) {
        out.ue(sps.frame_crop_left_offset);
        out.ue(sps.frame_crop_right_offset);
        out.ue(sps.frame_crop_top_offset);
        out.ue(sps.frame_crop_bottom_offset);
    }
    out.flag(sps.vui_parameters_present_flag);
    if (sps.vui_parameters_present_flag) writeVui(sps.vui, out);
    out.trailing();
}

void writePps(const Pps& pps, const Sps* sps, BitWriter& out)
{
    out.ue(pps.pic_parameter_set_id);
    out.ue(pps.seq_parameter_set_id);
    out.flag(pps.entropy_coding_mode_flag);
    out.flag(pps.bottom_field_pic_order_in_frame_present_flag);
    out.ue(pps.num_slice_groups_minus1);
    if (pps.num_slice_groups_minus1 > 0) {
        const std::uint32_t groups = pps.num_slice_groups_minus1 + 1;
        out.ue(pps.slice_group_map_type);
        switch (pps.slice_group_map_type) {
        case 0:
            for (std::uint32_t i = 0; i < groups; ++i) out.ue(i < pps.run_length_minus1.size() ? pps.run_length_minus1[i] : 0);
            break;
        case 2:
            for (std::uint32_t i = 0; i + 1 < groups; ++i) {
                out.ue(i < pps.top_left.size() ? pps.top_left[i] : 0);
                out.ue(i < pps.bottom_right.size() ? pps.bottom_right[i] : 0);
            }
            break;
        case 3: case 4: case 5:
            out.flag(pps.slice_group_change_direction_flag);
            out.ue(pps.slice_group_change_rate_minus1);
            break;
        case 6: {
            out.ue(pps.pic_size_in_map_units_minus1);
            int bits = 0;
            while ((1u << bits) < groups) ++bits;
            for (std::uint64_t i = 0; i <= pps.pic_size_in_map_units_minus1; ++i)
                out.u(bits, i < pps.slice_group_id.size() ? pps.slice_group_id[i] : 0);
            break;
        }
        default:
            break;
        }
    }
    out.ue(pps.num_ref_idx_l0_default_active_minus1);
    out.ue(pps.num_ref_idx_l1_default_active_minus1);
    out.flag(pps.weighted_pred_flag);
    out.u(2, pps.weighted_bipred_idc);
    out.se(pps.pic_init_qp_minus26);
    out.se(pps.pic_init_qs_minus26);
    out.se(pps.chroma_qp_index_offset);
    out.flag(pps.deblocking_filter_control_present_flag);
    out.flag(pps.constrained_intra_pred_flag);
    out.flag(pps.redundant_pic_cnt_present_flag);
    if (pps.extensionPresent || pps.transform_8x8_mode_flag || pps.pic_scaling_matrix_present_flag
        || pps.second_chroma_qp_index_offset != pps.chroma_qp_index_offset) {
        out.flag(pps.transform_8x8_mode_flag);
        out.flag(pps.pic_scaling_matrix_present_flag);
        if (pps.pic_scaling_matrix_present_flag) {
            std::size_t count = 6;
            if (pps.transform_8x8_mode_flag) count += sps && sps->chroma_format_idc == 3 ? 6 : 2;
            std::vector<ScalingList> lists = pps.pic_scaling_lists;
            lists.resize(count);
            writeScalingLists(lists, out);
        }
        out.se(pps.second_chroma_qp_index_offset);
    }
    out.trailing();
}

void writeSliceHeader(const NalHeader& nal, const SliceHeader& h, const Sps& sps, const Pps& pps, BitWriter& out)
{
    const bool idr = nal.nal_unit_type == NalIdrSlice;
    const SliceKind kind = h.kind();
    out.ue(h.first_mb_in_slice);
    out.ue(h.slice_type);
    out.ue(h.pic_parameter_set_id);
    if (sps.separate_colour_plane_flag) out.u(2, h.colour_plane_id);
    out.u(sps.maxFrameNumBits(), h.frame_num);
    if (!sps.frame_mbs_only_flag) {
        out.flag(h.field_pic_flag);
        if (h.field_pic_flag) out.flag(h.bottom_field_flag);
    }
    if (idr) out.ue(h.idr_pic_id);
    if (sps.pic_order_cnt_type == 0) {
        out.u(static_cast<int>(sps.log2_max_pic_order_cnt_lsb_minus4) + 4, h.pic_order_cnt_lsb);
        if (pps.bottom_field_pic_order_in_frame_present_flag && !h.field_pic_flag) out.se(h.delta_pic_order_cnt_bottom);
    }
    if (sps.pic_order_cnt_type == 1 && !sps.delta_pic_order_always_zero_flag) {
        out.se(h.delta_pic_order_cnt[0]);
        if (pps.bottom_field_pic_order_in_frame_present_flag && !h.field_pic_flag) out.se(h.delta_pic_order_cnt[1]);
    }
    if (pps.redundant_pic_cnt_present_flag) out.ue(h.redundant_pic_cnt);
    if (kind == SliceKind::B) out.flag(h.direct_spatial_mv_pred_flag);
    if (kind == SliceKind::P || kind == SliceKind::SP || kind == SliceKind::B) {
        out.flag(h.num_ref_idx_active_override_flag);
        if (h.num_ref_idx_active_override_flag) {
            out.ue(h.num_ref_idx_l0_active_minus1);
            if (kind == SliceKind::B) out.ue(h.num_ref_idx_l1_active_minus1);
        }
    }
    if (kind != SliceKind::I && kind != SliceKind::SI)
        writeModifications(h.ref_pic_list_modification_flag_l0, h.modifications_l0, out);
    if (kind == SliceKind::B) writeModifications(h.ref_pic_list_modification_flag_l1, h.modifications_l1, out);
    const bool weights = (pps.weighted_pred_flag && (kind == SliceKind::P || kind == SliceKind::SP))
        || (pps.weighted_bipred_idc == 1 && kind == SliceKind::B);
    if (weights) {
        const bool chroma = sps.chromaArrayType() != 0;
        out.ue(h.luma_log2_weight_denom);
        if (chroma) out.ue(h.chroma_log2_weight_denom);
        writeWeights(h.weights_l0, h.num_ref_idx_l0_active_minus1, chroma, out);
        if (kind == SliceKind::B) writeWeights(h.weights_l1, h.num_ref_idx_l1_active_minus1, chroma, out);
    }
    if (nal.nal_ref_idc != 0) {
        if (idr) {
            out.flag(h.no_output_of_prior_pics_flag);
            out.flag(h.long_term_reference_flag);
        } else {
            out.flag(h.adaptive_ref_pic_marking_mode_flag);
            if (h.adaptive_ref_pic_marking_mode_flag) {
                for (const MemoryManagementOperation& op : h.mmcos) {
                    const std::uint32_t mmco = op.memory_management_control_operation;
                    out.ue(mmco);
                    if (mmco == 1 || mmco == 3) out.ue(op.difference_of_pic_nums_minus1);
                    if (mmco == 2) out.ue(op.long_term_pic_num);
                    if (mmco == 3 || mmco == 6) out.ue(op.long_term_frame_idx);
                    if (mmco == 4) out.ue(op.max_long_term_frame_idx_plus1);
                }
                out.ue(0);
            }
        }
    }
    if (pps.entropy_coding_mode_flag && kind != SliceKind::I && kind != SliceKind::SI) out.ue(h.cabac_init_idc);
    out.se(h.slice_qp_delta);
    if (kind == SliceKind::SP || kind == SliceKind::SI) {
        if (kind == SliceKind::SP) out.flag(h.sp_for_switch_flag);
        out.se(h.slice_qs_delta);
    }
    if (pps.deblocking_filter_control_present_flag) {
        out.ue(h.disable_deblocking_filter_idc);
        if (h.disable_deblocking_filter_idc != 1) {
            out.se(h.slice_alpha_c0_offset_div2);
            out.se(h.slice_beta_offset_div2);
        }
    }
    if (hasSliceGroupChangeCycle(pps)) out.u(sliceGroupChangeCycleBits(sps, pps), h.slice_group_change_cycle);
    if (nal.nal_unit_type == NalPartitionA) out.ue(h.slice_id);
}

std::vector<std::uint8_t> spsNalUnit(const Sps& sps, int nal_ref_idc)
{
    BitWriter out;
    writeSps(sps, out);
    return makeNalUnit(nal_ref_idc, NalSps, out.bytes());
}

std::vector<std::uint8_t> ppsNalUnit(const Pps& pps, const Sps* sps, int nal_ref_idc)
{
    BitWriter out;
    writePps(pps, sps, out);
    return makeNalUnit(nal_ref_idc, NalPps, out.bytes());
}

std::vector<std::uint8_t> rewriteSliceHeader(std::span<const std::uint8_t> nal, const SliceHeader& parsed,
                                             const SliceHeader& header, const Sps& sps, const Pps& pps)
{
    NalHeader nalHeader;
    if (!parsed.complete || !parseNalHeader(nal, nalHeader).ok()) return {};
    const auto headerBytes = static_cast<std::size_t>(nalHeader.headerBytes);
    const std::vector<std::uint8_t> rbsp = removeEmulationPrevention(nal.subspan(headerBytes));
    BitWriter out;
    writeSliceHeader(nalHeader, header, sps, pps, out);
    if (pps.entropy_coding_mode_flag) {
        // CABAC slice data starts byte-aligned (cabac_alignment_one_bit); copy
        // it whole, trailing bits and any cabac_zero_words included.
        const std::size_t dataByte = (parsed.headerBits + 7) / 8;
        if (dataByte > rbsp.size()) return {};
        out.alignWith(true);
        out.copyBits(rbsp, dataByte * 8, (rbsp.size() - dataByte) * 8);
    } else {
        const std::optional<std::size_t> stop = rbspStopBitPosition(rbsp);
        if (!stop || *stop < parsed.headerBits) return {};
        out.copyBits(rbsp, parsed.headerBits, *stop - parsed.headerBits);
        out.trailing();
    }
    std::vector<std::uint8_t> result(nal.begin(), nal.begin() + static_cast<std::ptrdiff_t>(headerBytes));
    const std::vector<std::uint8_t> escaped = addEmulationPrevention(out.bytes());
    result.insert(result.end(), escaped.begin(), escaped.end());
    return result;
}

} // namespace kestrune::h264
