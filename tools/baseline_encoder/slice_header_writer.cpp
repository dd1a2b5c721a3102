#include "tools/baseline_encoder/slice_header_writer.h"

#include "tools/codec/slice_group_map.h"

#include <stdexcept>

namespace kestrune::codec {

void writeSliceHeader(h264::BitWriter& w, const h264::SliceHeader& h, int nal_unit_type, int nal_ref_idc,
                      const h264::Sps& sps, const h264::Pps& pps)
{
    if (!sps.frame_mbs_only_flag || pps.entropy_coding_mode_flag || pps.weighted_pred_flag
        || pps.redundant_pic_cnt_present_flag || sps.pic_order_cnt_type == 1)
        throw std::invalid_argument("slice header writer: only frame-coded CAVLC slices without weights or POC type 1");
    const h264::SliceKind kind = h.kind();
    if (kind != h264::SliceKind::I && kind != h264::SliceKind::P)
        throw std::invalid_argument("slice header writer: I and P slices only");
    w.ue(h.first_mb_in_slice);
    w.ue(h.slice_type);
    w.ue(h.pic_parameter_set_id);
    w.u(sps.maxFrameNumBits(), h.frame_num);
    const bool idr = nal_unit_type == 5;
    if (idr) w.ue(h.idr_pic_id);
    if (sps.pic_order_cnt_type == 0) {
        w.u(static_cast<int>(sps.log2_max_pic_order_cnt_lsb_minus4) + 4, h.pic_order_cnt_lsb);
        if (pps.bottom_field_pic_order_in_frame_present_flag) w.se(h.delta_pic_order_cnt_bottom);
    }
    if (kind == h264::SliceKind::P) {
        w.flag(h.num_ref_idx_active_override_flag);
        if (h.num_ref_idx_active_override_flag) w.ue(h.num_ref_idx_l0_active_minus1);
        // ref_pic_list_modification()
        w.flag(h.ref_pic_list_modification_flag_l0);
        if (h.ref_pic_list_modification_flag_l0) {
            for (const h264::RefPicListModification& m : h.modifications_l0) {
                w.ue(m.modification_of_pic_nums_idc);
                if (m.modification_of_pic_nums_idc != 3) w.ue(m.value);
            }
            if (h.modifications_l0.empty() || h.modifications_l0.back().modification_of_pic_nums_idc != 3) w.ue(3);
        }
    }
    if (nal_ref_idc != 0) {
        // dec_ref_pic_marking()
        if (idr) {
            w.flag(h.no_output_of_prior_pics_flag);
            w.flag(h.long_term_reference_flag);
        } else {
            w.flag(h.adaptive_ref_pic_marking_mode_flag);
            if (h.adaptive_ref_pic_marking_mode_flag)
                throw std::invalid_argument("slice header writer: memory management operations are not written");
        }
    }
    w.se(h.slice_qp_delta);
    if (pps.deblocking_filter_control_present_flag) {
        w.ue(h.disable_deblocking_filter_idc);
        if (h.disable_deblocking_filter_idc != 1) {
            w.se(h.slice_alpha_c0_offset_div2);
            w.se(h.slice_beta_offset_div2);
        }
    }
    if (pps.num_slice_groups_minus1 > 0 && pps.slice_group_map_type >= 3 && pps.slice_group_map_type <= 5)
        w.u(sliceGroupChangeCycleBits(sps.picSizeInMapUnits(), pps.slice_group_change_rate_minus1 + 1),
            h.slice_group_change_cycle);
}

} // namespace kestrune::codec
