#include "tools/bitstream/slice_header.h"

#include "tools/bitstream/syntax_reader.h"

#include <string>

namespace kestrune::h264 {
namespace {

// At most one modification per reference index plus the terminating 3.
constexpr std::size_t kMaxModifications = 33;
// Enough for every operation that can make sense on a 16-frame buffer.
constexpr std::size_t kMaxMmcos = 66;

// LongTermPicNum is at most 2 * MaxLongTermFrameIdx + 1 (fields), and
// MaxLongTermFrameIdx at most max_num_ref_frames - 1 = 15.
constexpr std::uint32_t kMaxLongTermPicNum = 31;

std::vector<RefPicListModification> readModifications(SyntaxReader& r, int list)
{
    std::vector<RefPicListModification> mods;
    while (r.ok()) {
        if (mods.size() >= kMaxModifications) {
            r.fail(Result::BrokenData, "ref_pic_list_modification of list " + std::to_string(list) + " never ends");
            break;
        }
        const int i = static_cast<int>(mods.size());
        RefPicListModification m;
        m.modification_of_pic_nums_idc = r.ue("modification_of_pic_nums_idc", i, 5);
        // 4 and 5 exist only in the multiview extension.
        if (r.ok() && m.modification_of_pic_nums_idc > 3)
            r.fail(Result::BrokenData, "modification_of_pic_nums_idc = " + std::to_string(m.modification_of_pic_nums_idc) + " is outside 0..3");
        if (m.modification_of_pic_nums_idc == 3 || !r.ok()) break;
        if (m.modification_of_pic_nums_idc < 2)
            m.value = r.ue("abs_diff_pic_num_minus1", i, 131071);
        else
            m.value = r.ue("long_term_pic_num", i, kMaxLongTermPicNum);
        mods.push_back(m);
    }
    return mods;
}

std::vector<PredWeight> readWeights(SyntaxReader& r, const char* lumaFlag, const char* lumaWeight, const char* lumaOffset,
                                    const char* chromaFlag, const char* chromaWeight, const char* chromaOffset,
                                    std::uint32_t count, bool chroma)
{
    std::vector<PredWeight> weights;
    for (std::uint32_t i = 0; i <= count && r.ok(); ++i) {
        const int k = static_cast<int>(i);
        PredWeight w;
        w.luma_weight_flag = r.flag(lumaFlag, k);
        if (w.luma_weight_flag) {
            w.luma_weight = r.se(lumaWeight, k, -128, 127);
            w.luma_offset = r.se(lumaOffset, k, -128, 127);
        }
        if (chroma) w.chroma_weight_flag = r.flag(chromaFlag, k);
        if (w.chroma_weight_flag) {
            for (int j = 0; j < 2; ++j) {
                w.chroma_weight[j] = r.se(chromaWeight, k * 2 + j, -128, 127);
                w.chroma_offset[j] = r.se(chromaOffset, k * 2 + j, -128, 127);
            }
        }
        weights.push_back(w);
    }
    return weights;
}

} // namespace

std::string_view sliceKindName(SliceKind kind)
{
    switch (kind) {
    case SliceKind::P: return "P";
    case SliceKind::B: return "B";
    case SliceKind::I: return "I";
    case SliceKind::SP: return "SP";
    case SliceKind::SI: return "SI";
    }
    return "?";
}

bool sliceKindFromName(std::string_view name, SliceKind& kind)
{
    for (SliceKind k : {SliceKind::P, SliceKind::B, SliceKind::I, SliceKind::SP, SliceKind::SI}) {
        if (sliceKindName(k) == name) {
            kind = k;
            return true;
        }
    }
    return false;
}

Status parseSliceHeader(const NalHeader& nal, std::span<const std::uint8_t> rbsp, const ParameterSets& sets,
                        SliceHeader& h, Trace* trace)
{
    h = SliceHeader{};
    SyntaxReader r(rbsp, trace);
    const bool idr = nal.nal_unit_type == NalIdrSlice;
    h.first_mb_in_slice = r.ue("first_mb_in_slice");
    h.slice_type = r.ue("slice_type", 9);
    h.typeParsed = r.ok();
    h.pic_parameter_set_id = r.ue("pic_parameter_set_id", 255);
    h.ppsIdParsed = r.ok();
    if (!r.ok()) return r.status();

    const SliceKind kind = h.kind();
    if (idr && kind != SliceKind::I && kind != SliceKind::SI)
        r.fail(Result::BrokenData, "slice_type = " + std::to_string(h.slice_type) + " in an IDR picture");
    const Pps* pps = sets.findPps(h.pic_parameter_set_id);
    if (!pps) {
        r.fail(Result::BrokenLink, "slice refers to PPS " + std::to_string(h.pic_parameter_set_id) + ", which has not been seen");
        return r.status();
    }
    const Sps* sps = sets.findSps(pps->seq_parameter_set_id);
    if (!sps) {
        r.fail(Result::BrokenLink, "PPS " + std::to_string(pps->pic_parameter_set_id) + " refers to SPS "
                   + std::to_string(pps->seq_parameter_set_id) + ", which has not been seen");
        return r.status();
    }

    if (sps->separate_colour_plane_flag) h.colour_plane_id = r.u("colour_plane_id", 2);
    h.frame_num = r.u("frame_num", sps->maxFrameNumBits());
    if (!sps->frame_mbs_only_flag) {
        h.field_pic_flag = r.flag("field_pic_flag");
        if (h.field_pic_flag) h.bottom_field_flag = r.flag("bottom_field_flag");
    }
    const std::uint64_t picSizeInMbs = static_cast<std::uint64_t>(sps->widthInMbs())
        * static_cast<std::uint64_t>(sps->frameHeightInMbs() / (1 + h.field_pic_flag));
    const bool mbaff = sps->mb_adaptive_frame_field_flag && !h.field_pic_flag;
    if (r.ok() && h.first_mb_in_slice * (1ull + mbaff) >= picSizeInMbs)
        r.fail(Result::BrokenData, "first_mb_in_slice = " + std::to_string(h.first_mb_in_slice)
                   + " lies outside the picture of " + std::to_string(picSizeInMbs) + " macroblocks");
    if (idr && r.ok() && h.frame_num != 0) r.fail(Result::BrokenData, "frame_num of an IDR picture is not 0");
    if (idr) h.idr_pic_id = r.ue("idr_pic_id", 65535);
    h.numbersParsed = r.ok();
    h.frameNumBits = sps->maxFrameNumBits();
    if (sps->pic_order_cnt_type == 0) {
        h.pocLsbBits = static_cast<int>(sps->log2_max_pic_order_cnt_lsb_minus4) + 4;
        h.pic_order_cnt_lsb = r.u("pic_order_cnt_lsb", h.pocLsbBits);
        if (pps->bottom_field_pic_order_in_frame_present_flag && !h.field_pic_flag)
            h.delta_pic_order_cnt_bottom = r.se("delta_pic_order_cnt_bottom");
    }
    if (sps->pic_order_cnt_type == 1 && !sps->delta_pic_order_always_zero_flag) {
        h.delta_pic_order_cnt[0] = r.se("delta_pic_order_cnt", 0, -2147483647, 2147483647);
        if (pps->bottom_field_pic_order_in_frame_present_flag && !h.field_pic_flag)
            h.delta_pic_order_cnt[1] = r.se("delta_pic_order_cnt", 1, -2147483647, 2147483647);
    }
    if (pps->redundant_pic_cnt_present_flag) h.redundant_pic_cnt = r.ue("redundant_pic_cnt", 127);
    if (kind == SliceKind::B) h.direct_spatial_mv_pred_flag = r.flag("direct_spatial_mv_pred_flag");
    h.num_ref_idx_l0_active_minus1 = pps->num_ref_idx_l0_default_active_minus1;
    h.num_ref_idx_l1_active_minus1 = pps->num_ref_idx_l1_default_active_minus1;
    if (kind == SliceKind::P || kind == SliceKind::SP || kind == SliceKind::B) {
        h.num_ref_idx_active_override_flag = r.flag("num_ref_idx_active_override_flag");
        const std::uint32_t maxIndex = h.field_pic_flag ? 31 : 15;
        if (h.num_ref_idx_active_override_flag) {
            h.num_ref_idx_l0_active_minus1 = r.ue("num_ref_idx_l0_active_minus1", maxIndex);
            if (kind == SliceKind::B) h.num_ref_idx_l1_active_minus1 = r.ue("num_ref_idx_l1_active_minus1", maxIndex);
        } else if (r.ok() && (h.num_ref_idx_l0_active_minus1 > maxIndex
                              || (kind == SliceKind::B && h.num_ref_idx_l1_active_minus1 > maxIndex))) {
            r.fail(Result::BrokenData, "the PPS's default number of reference indices exceeds what a frame allows");
        }
    }
    if (kind != SliceKind::I && kind != SliceKind::SI) {
        h.ref_pic_list_modification_flag_l0 = r.flag("ref_pic_list_modification_flag_l0");
        if (h.ref_pic_list_modification_flag_l0) h.modifications_l0 = readModifications(r, 0);
    }
    if (kind == SliceKind::B) {
        h.ref_pic_list_modification_flag_l1 = r.flag("ref_pic_list_modification_flag_l1");
        if (h.ref_pic_list_modification_flag_l1) h.modifications_l1 = readModifications(r, 1);
    }
    h.hasPredWeightTable = (pps->weighted_pred_flag && (kind == SliceKind::P || kind == SliceKind::SP))
        || (pps->weighted_bipred_idc == 1 && kind == SliceKind::B);
    if (h.hasPredWeightTable) {
        const bool chroma = sps->chromaArrayType() != 0;
        h.luma_log2_weight_denom = r.ue("luma_log2_weight_denom", 7);
        if (chroma) h.chroma_log2_weight_denom = r.ue("chroma_log2_weight_denom", 7);
        h.weights_l0 = readWeights(r, "luma_weight_l0_flag", "luma_weight_l0", "luma_offset_l0", "chroma_weight_l0_flag",
                    "chroma_weight_l0", "chroma_offset_l0", h.num_ref_idx_l0_active_minus1, chroma);
        if (kind == SliceKind::B)
            h.weights_l1 = readWeights(r, "luma_weight_l1_flag", "luma_weight_l1", "luma_offset_l1", "chroma_weight_l1_flag",
                        "chroma_weight_l1", "chroma_offset_l1", h.num_ref_idx_l1_active_minus1, chroma);
    }
    if (nal.nal_ref_idc != 0) {
        if (idr) {
            h.no_output_of_prior_pics_flag = r.flag("no_output_of_prior_pics_flag");
            h.long_term_reference_flag = r.flag("long_term_reference_flag");
        } else {
            h.adaptive_ref_pic_marking_mode_flag = r.flag("adaptive_ref_pic_marking_mode_flag");
            const std::uint32_t maxPicNum = (1u << sps->maxFrameNumBits()) * (1u + h.field_pic_flag);
            while (h.adaptive_ref_pic_marking_mode_flag && r.ok()) {
                if (h.mmcos.size() >= kMaxMmcos) {
                    r.fail(Result::BrokenData, "dec_ref_pic_marking never ends");
                    break;
                }
                const int i = static_cast<int>(h.mmcos.size());
                MemoryManagementOperation op;
                op.memory_management_control_operation = r.ue("memory_management_control_operation", i, 6);
                if (op.memory_management_control_operation == 0 || !r.ok()) break;
                const std::uint32_t mmco = op.memory_management_control_operation;
                // picNumX = CurrPicNum - (difference_of_pic_nums_minus1 + 1) must be a PicNum,
                // and PicNums lie within MaxPicNum of CurrPicNum (clause 8.2.4.1).
                if (mmco == 1 || mmco == 3)
                    op.difference_of_pic_nums_minus1 = r.ue("difference_of_pic_nums_minus1", i, maxPicNum - 1);
                if (mmco == 2) op.long_term_pic_num = r.ue("long_term_pic_num", i, kMaxLongTermPicNum);
                if (mmco == 3 || mmco == 6) op.long_term_frame_idx = r.ue("long_term_frame_idx", i, 31);
                if (mmco == 4) op.max_long_term_frame_idx_plus1 = r.ue("max_long_term_frame_idx_plus1", i, 32);
                h.mmcos.push_back(op);
            }
        }
    } else if (idr && r.ok()) {
        r.fail(Result::BrokenData, "an IDR picture has nal_ref_idc 0");
    }
    if (pps->entropy_coding_mode_flag && kind != SliceKind::I && kind != SliceKind::SI)
        h.cabac_init_idc = r.ue("cabac_init_idc", 2);
    const int qpBdOffset = 6 * static_cast<int>(sps->bit_depth_luma_minus8);
    const int initQp = 26 + pps->pic_init_qp_minus26;
    h.slice_qp_delta = r.se("slice_qp_delta", -qpBdOffset - initQp, 51 - initQp);
    if (kind == SliceKind::SP || kind == SliceKind::SI) {
        if (kind == SliceKind::SP) h.sp_for_switch_flag = r.flag("sp_for_switch_flag");
        const int initQs = 26 + pps->pic_init_qs_minus26;
        h.slice_qs_delta = r.se("slice_qs_delta", -initQs, 51 - initQs);
    }
    if (pps->deblocking_filter_control_present_flag) {
        h.disable_deblocking_filter_idc = r.ue("disable_deblocking_filter_idc", 2);
        if (h.disable_deblocking_filter_idc != 1) {
            h.slice_alpha_c0_offset_div2 = r.se("slice_alpha_c0_offset_div2", -6, 6);
            h.slice_beta_offset_div2 = r.se("slice_beta_offset_div2", -6, 6);
        }
    }
    if (hasSliceGroupChangeCycle(*pps))
        h.slice_group_change_cycle = r.u("slice_group_change_cycle", sliceGroupChangeCycleBits(*sps, *pps));
    if (nal.nal_unit_type == NalPartitionA) h.slice_id = r.ue("slice_id");
    h.headerBits = r.bits().bitPosition();
    h.complete = r.ok();
    return r.status();
}

bool parsePictureNumbers(const NalHeader& nal, std::span<const std::uint8_t> rbsp, const Sps& sps, SliceHeader& h)
{
    BitReader r(rbsp);
    r.ue();
    r.ue();
    r.ue();
    if (sps.separate_colour_plane_flag) r.u(2);
    const std::uint32_t frameNum = r.u(sps.maxFrameNumBits());
    bool field = false, bottom = false;
    if (!sps.frame_mbs_only_flag) {
        field = r.flag();
        if (field) bottom = r.flag();
    }
    const std::uint32_t idrPicId = nal.nal_unit_type == NalIdrSlice ? r.ue() : 0;
    if (r.overrun() || r.invalid() || idrPicId > 65535) return false;
    h.frame_num = frameNum;
    h.field_pic_flag = field;
    h.bottom_field_flag = bottom;
    h.idr_pic_id = idrPicId;
    h.numbersParsed = true;
    h.frameNumBits = sps.maxFrameNumBits();
    return true;
}

} // namespace kestrune::h264
