#pragma once
// Just enough H.264 parsing to check what the encoder wrote: Annex B NAL
// units, SPS fields up to the VUI timing, PPS, and slice headers up to
// slice_qp_delta (ITU-T H.264 7.3.2.1, 7.3.2.2, 7.3.3). Throws
// std::runtime_error on anything it cannot follow.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::probe {

struct NalUnit {
    int nal_ref_idc = 0;
    int nal_unit_type = 0;
    std::size_t size = 0;          // bytes of the NAL unit, start code excluded
    std::vector<std::uint8_t> rbsp;  // payload after the header, emulation prevention removed
};

struct Sps {
    int profile_idc = 0;
    int seq_parameter_set_id = 0;
    int log2_max_frame_num = 0;
    int pic_order_cnt_type = 0;
    int log2_max_pic_order_cnt_lsb = 0;
    bool delta_pic_order_always_zero_flag = false;
    int max_num_ref_frames = 0;
    int width_in_mbs = 0;
    int height_in_mbs = 0;
    bool frame_mbs_only_flag = true;
    std::optional<std::uint32_t> num_units_in_tick;
    std::optional<std::uint32_t> time_scale;
};

struct Pps {
    int pic_parameter_set_id = 0;
    int seq_parameter_set_id = 0;
    bool entropy_coding_mode_flag = false;
    bool bottom_field_pic_order_in_frame_present_flag = false;
    int num_slice_groups = 1;
    bool weighted_pred_flag = false;
    int weighted_bipred_idc = 0;
    int pic_init_qp = 26;
    bool redundant_pic_cnt_present_flag = false;
};

struct SliceHeader {
    int nal_unit_type = 0;
    std::size_t nalSize = 0;
    int first_mb_in_slice = 0;
    int slice_type = 0;  // 0..9; % 5 gives P=0, B=1, I=2, SP=3, SI=4
    int pic_parameter_set_id = 0;
    int frame_num = 0;
    int qp = 0;  // pic_init_qp + slice_qp_delta
};

std::vector<NalUnit> splitAnnexB(const std::vector<std::uint8_t>& stream);

// The whole stream: parameter sets and every slice header in order.
struct Stream {
    std::vector<NalUnit> nalUnits;
    std::vector<Sps> spsList;  // in stream order (repeated ones included)
    std::vector<SliceHeader> slices;
    // Pictures start where first_mb_in_slice is 0; each holds its slices.
    std::vector<std::vector<SliceHeader>> pictures() const;
};

Stream parseStream(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);

} // namespace kestrune::probe
