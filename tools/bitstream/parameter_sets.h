#pragma once
// Sequence and picture parameter sets (ITU-T H.264 clauses 7.3.2.1, 7.3.2.2,
// Annex E VUI and HRD), every field, with derived sizes.
#include "tools/bitstream/result.h"
#include "tools/bitstream/trace.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestrune::h264 {

struct ScalingList {
    bool present = false;
    bool useDefault = false;
    std::vector<std::int32_t> delta_scale;  // as read; empty when not present
};

struct HrdParameters {
    std::uint32_t cpb_cnt_minus1 = 0;
    std::uint32_t bit_rate_scale = 0;
    std::uint32_t cpb_size_scale = 0;
    std::vector<std::uint32_t> bit_rate_value_minus1;
    std::vector<std::uint32_t> cpb_size_value_minus1;
    std::vector<bool> cbr_flag;
    std::uint32_t initial_cpb_removal_delay_length_minus1 = 23;
    std::uint32_t cpb_removal_delay_length_minus1 = 23;
    std::uint32_t dpb_output_delay_length_minus1 = 23;
    std::uint32_t time_offset_length = 24;
};

struct VuiParameters {
    bool aspect_ratio_info_present_flag = false;
    std::uint32_t aspect_ratio_idc = 0;
    std::uint32_t sar_width = 0;
    std::uint32_t sar_height = 0;
    bool overscan_info_present_flag = false;
    bool overscan_appropriate_flag = false;
    bool video_signal_type_present_flag = false;
    std::uint32_t video_format = 5;
    bool video_full_range_flag = false;
    bool colour_description_present_flag = false;
    std::uint32_t colour_primaries = 2;
    std::uint32_t transfer_characteristics = 2;
    std::uint32_t matrix_coefficients = 2;
    bool chroma_loc_info_present_flag = false;
    std::uint32_t chroma_sample_loc_type_top_field = 0;
    std::uint32_t chroma_sample_loc_type_bottom_field = 0;
    bool timing_info_present_flag = false;
    std::uint32_t num_units_in_tick = 0;
    std::uint32_t time_scale = 0;
    bool fixed_frame_rate_flag = false;
    bool nal_hrd_parameters_present_flag = false;
    HrdParameters nal_hrd;
    bool vcl_hrd_parameters_present_flag = false;
    HrdParameters vcl_hrd;
    bool low_delay_hrd_flag = false;
    bool pic_struct_present_flag = false;
    bool bitstream_restriction_flag = false;
    bool motion_vectors_over_pic_boundaries_flag = true;
    std::uint32_t max_bytes_per_pic_denom = 2;
    std::uint32_t max_bits_per_mb_denom = 1;
    std::uint32_t log2_max_mv_length_horizontal = 15;
    std::uint32_t log2_max_mv_length_vertical = 15;
    std::uint32_t max_num_reorder_frames = 0;
    std::uint32_t max_dec_frame_buffering = 0;
};

struct Sps {
    std::uint32_t profile_idc = 0;
    std::array<bool, 6> constraint_set_flag{};  // constraint_set0_flag..constraint_set5_flag
    std::uint32_t reserved_zero_2bits = 0;
    std::uint32_t level_idc = 0;
    std::uint32_t seq_parameter_set_id = 0;
    std::uint32_t chroma_format_idc = 1;
    bool separate_colour_plane_flag = false;
    std::uint32_t bit_depth_luma_minus8 = 0;
    std::uint32_t bit_depth_chroma_minus8 = 0;
    bool qpprime_y_zero_transform_bypass_flag = false;
    bool seq_scaling_matrix_present_flag = false;
    std::vector<ScalingList> seq_scaling_lists;  // 8 or 12 when present
    std::uint32_t log2_max_frame_num_minus4 = 0;
    std::uint32_t pic_order_cnt_type = 0;
    std::uint32_t log2_max_pic_order_cnt_lsb_minus4 = 0;
    bool delta_pic_order_always_zero_flag = false;
    std::int32_t offset_for_non_ref_pic = 0;
    std::int32_t offset_for_top_to_bottom_field = 0;
    std::uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
    std::vector<std::int32_t> offset_for_ref_frame;
    std::uint32_t max_num_ref_frames = 0;
    bool gaps_in_frame_num_value_allowed_flag = false;
    std::uint32_t pic_width_in_mbs_minus1 = 0;
    std::uint32_t pic_height_in_map_units_minus1 = 0;
    bool frame_mbs_only_flag = true;
    bool mb_adaptive_frame_field_flag = false;
    bool direct_8x8_inference_flag = false;
    bool frame_cropping_flag = false;
    std::uint32_t frame_crop_left_offset = 0;
    std::uint32_t frame_crop_right_offset = 0;
    std::uint32_t frame_crop_top_offset = 0;
    std::uint32_t frame_crop_bottom_offset = 0;
    bool vui_parameters_present_flag = false;
    VuiParameters vui;

    // Derived (clause 7.4.2.1.1).
    int chromaArrayType() const { return separate_colour_plane_flag ? 0 : static_cast<int>(chroma_format_idc); }
    int widthInMbs() const { return static_cast<int>(pic_width_in_mbs_minus1) + 1; }
    int heightInMapUnits() const { return static_cast<int>(pic_height_in_map_units_minus1) + 1; }
    int frameHeightInMbs() const { return (2 - frame_mbs_only_flag) * heightInMapUnits(); }
    int picSizeInMapUnits() const { return widthInMbs() * heightInMapUnits(); }
    int codedWidth() const { return widthInMbs() * 16; }
    int codedHeight() const { return frameHeightInMbs() * 16; }
    int cropUnitX() const;
    int cropUnitY() const;
    // Picture size after frame cropping.
    int width() const;
    int height() const;
    int maxFrameNumBits() const { return static_cast<int>(log2_max_frame_num_minus4) + 4; }
    // Frame rate from VUI timing (time_scale / (2 * num_units_in_tick)); 0 when absent.
    double frameRate() const;
};

struct Pps {
    std::uint32_t pic_parameter_set_id = 0;
    std::uint32_t seq_parameter_set_id = 0;
    bool entropy_coding_mode_flag = false;
    bool bottom_field_pic_order_in_frame_present_flag = false;
    std::uint32_t num_slice_groups_minus1 = 0;
    std::uint32_t slice_group_map_type = 0;
    std::vector<std::uint32_t> run_length_minus1;  // map type 0
    std::vector<std::uint32_t> top_left;           // map type 2
    std::vector<std::uint32_t> bottom_right;       // map type 2
    bool slice_group_change_direction_flag = false;  // map types 3..5
    std::uint32_t slice_group_change_rate_minus1 = 0;
    std::uint32_t pic_size_in_map_units_minus1 = 0;  // map type 6
    std::vector<std::uint32_t> slice_group_id;       // map type 6
    std::uint32_t num_ref_idx_l0_default_active_minus1 = 0;
    std::uint32_t num_ref_idx_l1_default_active_minus1 = 0;
    bool weighted_pred_flag = false;
    std::uint32_t weighted_bipred_idc = 0;
    std::int32_t pic_init_qp_minus26 = 0;
    std::int32_t pic_init_qs_minus26 = 0;
    std::int32_t chroma_qp_index_offset = 0;
    bool deblocking_filter_control_present_flag = false;
    bool constrained_intra_pred_flag = false;
    bool redundant_pic_cnt_present_flag = false;
    bool extensionPresent = false;  // the fields from transform_8x8_mode_flag on were coded
    bool transform_8x8_mode_flag = false;
    bool pic_scaling_matrix_present_flag = false;
    std::vector<ScalingList> pic_scaling_lists;
    std::int32_t second_chroma_qp_index_offset = 0;
};

// Whether slice headers under this PPS carry slice_group_change_cycle (slice
// group map types 3 to 5), and its bit count (clause 7.4.3):
// Ceil(Log2(PicSizeInMapUnits / SliceGroupChangeRate + 1)).
// Its values go up to Ceil(PicSizeInMapUnits / SliceGroupChangeRate).
bool hasSliceGroupChangeCycle(const Pps& pps);
int sliceGroupChangeCycleBits(const Sps& sps, const Pps& pps);
std::uint64_t maxSliceGroupChangeCycle(const Sps& sps, const Pps& pps);

// rbsp: the NAL unit payload after its header, emulation prevention removed.
// Returns Ok with every field filled, or the first failure naming the field.
// A failure inside the VUI leaves the fields before it usable: spsCoreParsed
// (when given) is set once everything up to vui_parameters_present_flag is read.
Status parseSps(std::span<const std::uint8_t> rbsp, Sps& sps, Trace* trace = nullptr, bool* spsCoreParsed = nullptr);
// The SPS that the PPS names is needed only for a PPS with 8x8 scaling lists
// (their count depends on chroma_format_idc): without it, BrokenLink.
// findSps(id) returns the active SPS with that id or nullptr.
struct ParameterSets;
Status parsePps(std::span<const std::uint8_t> rbsp, const ParameterSets& sets, Pps& pps, Trace* trace = nullptr);

// The parameter sets seen so far, by id.
struct ParameterSets {
    std::array<std::shared_ptr<const Sps>, 32> sps;
    std::array<std::shared_ptr<const Pps>, 256> pps;

    const Sps* findSps(std::uint32_t id) const { return id < sps.size() ? sps[id].get() : nullptr; }
    const Pps* findPps(std::uint32_t id) const { return id < pps.size() ? pps[id].get() : nullptr; }
};

// "Baseline", "Main", "High", ... or "profile_idc N".
// Profiles whose SPS carries chroma_format_idc, bit depths and scaling lists.
bool isHighProfile(std::uint32_t profile_idc);

std::string profileName(const Sps& sps);
// "3.1", "1b", ...
std::string levelName(const Sps& sps);

} // namespace kestrune::h264
