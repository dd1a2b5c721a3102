#pragma once
// Slice header (ITU-T H.264 clause 7.3.3) of slices of types 1, 2 (with the
// slice_id of partition A) and 5.
#include "tools/bitstream/nal_unit.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/result.h"
#include "tools/bitstream/trace.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kestrune::h264 {

enum class SliceKind { P, B, I, SP, SI };

// slice_type 0..9 -> kind (slice_type % 5).
inline SliceKind sliceKind(std::uint32_t slice_type) { return static_cast<SliceKind>(slice_type % 5); }
// "P", "B", "I", "SP", "SI" and back.
std::string_view sliceKindName(SliceKind kind);
bool sliceKindFromName(std::string_view name, SliceKind& kind);

struct RefPicListModification {
    std::uint32_t modification_of_pic_nums_idc = 3;
    std::uint32_t value = 0;  // abs_diff_pic_num_minus1 or long_term_pic_num
};

struct MemoryManagementOperation {
    std::uint32_t memory_management_control_operation = 0;
    std::uint32_t difference_of_pic_nums_minus1 = 0;
    std::uint32_t long_term_pic_num = 0;
    std::uint32_t long_term_frame_idx = 0;
    std::uint32_t max_long_term_frame_idx_plus1 = 0;
};

// One entry of pred_weight_table() (clause 7.3.3.2) for one reference index.
struct PredWeight {
    bool luma_weight_flag = false;
    std::int32_t luma_weight = 0;
    std::int32_t luma_offset = 0;
    bool chroma_weight_flag = false;
    std::int32_t chroma_weight[2] = {0, 0};
    std::int32_t chroma_offset[2] = {0, 0};
};

struct SliceHeader {
    std::uint32_t first_mb_in_slice = 0;
    std::uint32_t slice_type = 0;
    std::uint32_t pic_parameter_set_id = 0;
    std::uint32_t colour_plane_id = 0;
    std::uint32_t frame_num = 0;
    bool field_pic_flag = false;
    bool bottom_field_flag = false;
    std::uint32_t idr_pic_id = 0;
    std::uint32_t pic_order_cnt_lsb = 0;
    std::int32_t delta_pic_order_cnt_bottom = 0;
    std::int32_t delta_pic_order_cnt[2] = {0, 0};
    std::uint32_t redundant_pic_cnt = 0;
    bool direct_spatial_mv_pred_flag = false;
    bool num_ref_idx_active_override_flag = false;
    std::uint32_t num_ref_idx_l0_active_minus1 = 0;
    std::uint32_t num_ref_idx_l1_active_minus1 = 0;
    bool ref_pic_list_modification_flag_l0 = false;
    std::vector<RefPicListModification> modifications_l0;
    bool ref_pic_list_modification_flag_l1 = false;
    std::vector<RefPicListModification> modifications_l1;
    bool hasPredWeightTable = false;
    std::uint32_t luma_log2_weight_denom = 0;
    std::uint32_t chroma_log2_weight_denom = 0;
    std::vector<PredWeight> weights_l0;  // num_ref_idx_l0_active_minus1 + 1 entries when present
    std::vector<PredWeight> weights_l1;
    bool no_output_of_prior_pics_flag = false;
    bool long_term_reference_flag = false;
    bool adaptive_ref_pic_marking_mode_flag = false;
    std::vector<MemoryManagementOperation> mmcos;
    std::uint32_t cabac_init_idc = 0;
    std::int32_t slice_qp_delta = 0;
    bool sp_for_switch_flag = false;
    std::int32_t slice_qs_delta = 0;
    std::uint32_t disable_deblocking_filter_idc = 0;
    std::int32_t slice_alpha_c0_offset_div2 = 0;
    std::int32_t slice_beta_offset_div2 = 0;
    std::uint32_t slice_group_change_cycle = 0;
    std::uint32_t slice_id = 0;  // data partition A only

    // How far parsing got: the first three fields need no parameter set.
    bool typeParsed = false;   // first_mb_in_slice and slice_type are valid
    bool ppsIdParsed = false;  // pic_parameter_set_id is valid
    bool complete = false;     // every field above is valid
    // frame_num, field flags and idr_pic_id are valid: read with the SPS of the
    // PPS named, or, while that PPS is missing, with the only SPS seen.
    bool numbersParsed = false;
    int frameNumBits = 0;      // log2(MaxFrameNum) of the SPS they were read with
    int pocLsbBits = 0;        // bits of pic_order_cnt_lsb; 0 unless pic_order_cnt_type is 0

    SliceKind kind() const { return sliceKind(slice_type); }
    // Bit position in the RBSP where slice data begins (valid when complete).
    std::size_t headerBits = 0;
};

// rbsp: payload after the NAL header, emulation prevention removed (a prefix
// holding the whole header is enough). Needs the PPS named in the header and
// its SPS: BrokenLink when either is missing, with first_mb_in_slice,
// slice_type and pic_parameter_set_id already filled.
Status parseSliceHeader(const NalHeader& nal, std::span<const std::uint8_t> rbsp, const ParameterSets& sets,
                        SliceHeader& header, Trace* trace = nullptr);

// For a slice whose PPS is missing: reads the fields up to idr_pic_id with a
// stand-in SPS (their layout does not depend on the PPS) into header and sets
// numbersParsed. False when they cannot be read.
bool parsePictureNumbers(const NalHeader& nal, std::span<const std::uint8_t> rbsp, const Sps& sps, SliceHeader& header);

} // namespace kestrune::h264
