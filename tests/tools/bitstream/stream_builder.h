#pragma once
// Hand-made H.264 syntax for tests: builders of SPS, PPS and slice NAL units with the fields tests care about.
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tools/bitstream/bit_writer.h"

namespace kestrune::h264::testing {

using BitWriter = kestrune::h264::BitWriter;

inline std::vector<std::uint8_t> escape(const std::vector<std::uint8_t>& rbsp) { return addEmulationPrevention(rbsp); }

inline std::vector<std::uint8_t> nal(int refIdc, int type, const std::vector<std::uint8_t>& rbsp)
{
    return makeNalUnit(refIdc, type, rbsp);
}

struct SpsFields {
    int profile_idc = 66;
    int level_idc = 30;
    int id = 0;
    int chroma_format_idc = 1;  // written for high profiles only
    int log2_max_frame_num_minus4 = 0;
    int poc_type = 0;
    int log2_max_poc_lsb_minus4 = 2;
    bool delta_pic_order_always_zero = false;
    std::vector<int> offset_for_ref_frame;
    int max_num_ref_frames = 1;
    int width_mbs = 11;
    int height_map_units = 9;
    bool frame_mbs_only = true;
    bool mbaff = false;
    int crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;
    bool vui = false;
    std::uint32_t num_units_in_tick = 1;
    std::uint32_t time_scale = 50;
};

inline std::vector<std::uint8_t> spsRbsp(const SpsFields& f)
{
    BitWriter w;
    w.u(8, static_cast<std::uint64_t>(f.profile_idc));
    w.u(8, 0);
    w.u(8, static_cast<std::uint64_t>(f.level_idc));
    w.ue(static_cast<std::uint64_t>(f.id));
    if (f.profile_idc == 100) {
        w.ue(static_cast<std::uint64_t>(f.chroma_format_idc));
        if (f.chroma_format_idc == 3) w.flag(false);
        w.ue(0);
        w.ue(0);
        w.flag(false);
        w.flag(false);
    }
    w.ue(static_cast<std::uint64_t>(f.log2_max_frame_num_minus4));
    w.ue(static_cast<std::uint64_t>(f.poc_type));
    if (f.poc_type == 0) w.ue(static_cast<std::uint64_t>(f.log2_max_poc_lsb_minus4));
    if (f.poc_type == 1) {
        w.flag(f.delta_pic_order_always_zero);
        w.se(-2);
        w.se(1);
        w.ue(f.offset_for_ref_frame.size());
        for (int o : f.offset_for_ref_frame) w.se(o);
    }
    w.ue(static_cast<std::uint64_t>(f.max_num_ref_frames));
    w.flag(false);
    w.ue(static_cast<std::uint64_t>(f.width_mbs - 1));
    w.ue(static_cast<std::uint64_t>(f.height_map_units - 1));
    w.flag(f.frame_mbs_only);
    if (!f.frame_mbs_only) w.flag(f.mbaff);
    w.flag(true);
    const bool crop = f.crop_left || f.crop_right || f.crop_top || f.crop_bottom;
    w.flag(crop);
    if (crop) {
        w.ue(static_cast<std::uint64_t>(f.crop_left));
        w.ue(static_cast<std::uint64_t>(f.crop_right));
        w.ue(static_cast<std::uint64_t>(f.crop_top));
        w.ue(static_cast<std::uint64_t>(f.crop_bottom));
    }
    w.flag(f.vui);
    if (f.vui) {
        w.flag(true);  // aspect_ratio_info_present_flag
        w.u(8, 255);
        w.u(16, 12);
        w.u(16, 11);
        w.flag(false);  // overscan
        w.flag(true);   // video_signal_type_present_flag
        w.u(3, 5);
        w.flag(false);
        w.flag(true);
        w.u(8, 1);
        w.u(8, 1);
        w.u(8, 1);
        w.flag(false);  // chroma_loc
        w.flag(true);   // timing
        w.u(32, f.num_units_in_tick);
        w.u(32, f.time_scale);
        w.flag(true);
        w.flag(false);  // nal hrd
        w.flag(false);  // vcl hrd
        w.flag(false);  // pic_struct_present_flag
        w.flag(true);   // bitstream_restriction_flag
        w.flag(true);
        w.ue(0);
        w.ue(0);
        w.ue(11);
        w.ue(11);
        w.ue(0);
        w.ue(1);
    }
    w.trailing();
    return w.bytes();
}

struct PpsFields {
    int id = 0;
    int sps_id = 0;
    bool cabac = false;
    bool bottom_field_pic_order_in_frame_present = false;
    int num_slice_groups_minus1 = 0;
    int slice_group_map_type = 0;
    int pic_size_in_map_units_minus1 = 98;  // map type 6
    int slice_group_change_rate_minus1 = 4;  // map types 3 to 5
    bool redundant_pic_cnt_present = false;
    bool deblocking_control = true;
    bool transform_8x8 = false;
};

inline std::vector<std::uint8_t> ppsRbsp(const PpsFields& f)
{
    BitWriter w;
    w.ue(static_cast<std::uint64_t>(f.id));
    w.ue(static_cast<std::uint64_t>(f.sps_id));
    w.flag(f.cabac);
    w.flag(f.bottom_field_pic_order_in_frame_present);
    w.ue(static_cast<std::uint64_t>(f.num_slice_groups_minus1));
    if (f.num_slice_groups_minus1 > 0) {
        const int groups = f.num_slice_groups_minus1 + 1;
        w.ue(static_cast<std::uint64_t>(f.slice_group_map_type));
        switch (f.slice_group_map_type) {
        case 0:
            for (int i = 0; i < groups; ++i) w.ue(static_cast<std::uint64_t>(10 + i));
            break;
        case 2:
            for (int i = 0; i < groups - 1; ++i) {
                w.ue(static_cast<std::uint64_t>(i));
                w.ue(static_cast<std::uint64_t>(20 + i));
            }
            break;
        case 3: case 4: case 5:
            w.flag(true);
            w.ue(static_cast<std::uint64_t>(f.slice_group_change_rate_minus1));
            break;
        case 6: {
            int bits = 0;
            while ((1 << bits) < groups) ++bits;
            w.ue(static_cast<std::uint64_t>(f.pic_size_in_map_units_minus1));
            for (int i = 0; i <= f.pic_size_in_map_units_minus1; ++i) w.u(bits, static_cast<std::uint64_t>(i % groups));
            break;
        }
        default:
            break;
        }
    }
    w.ue(0);
    w.ue(0);
    w.flag(false);
    w.u(2, 0);
    w.se(0);
    w.se(0);
    w.se(0);
    w.flag(f.deblocking_control);
    w.flag(false);
    w.flag(f.redundant_pic_cnt_present);
    if (f.transform_8x8) {
        w.flag(true);
        w.flag(false);
        w.se(-2);
    }
    w.trailing();
    return w.bytes();
}

struct SliceFields {
    int first_mb = 0;
    int slice_type = 7;  // I
    int pps_id = 0;
    int frame_num = 0;
    int idr_pic_id = 0;
    int poc_lsb = 0;
    int delta_poc0 = 0;
    bool field = false;
    bool bottom = false;
    int redundant_pic_cnt = 0;
    int slice_data_bytes = 8;
    int slice_id = -1;  // written (data partition A) when not negative
    std::uint64_t slice_group_change_cycle = 0;  // written for slice group map types 3 to 5
};

// Writes a slice header for the parameter sets made with the fields above
// (same frame_num and POC lengths), followed by slice data filler bytes.
inline std::vector<std::uint8_t> sliceRbsp(const SliceFields& f, const SpsFields& sps, const PpsFields& pps, bool idr,
                                           int refIdc)
{
    BitWriter w;
    w.ue(static_cast<std::uint64_t>(f.first_mb));
    w.ue(static_cast<std::uint64_t>(f.slice_type));
    w.ue(static_cast<std::uint64_t>(f.pps_id));
    w.u(sps.log2_max_frame_num_minus4 + 4, static_cast<std::uint64_t>(f.frame_num));
    if (!sps.frame_mbs_only) {
        w.flag(f.field);
        if (f.field) w.flag(f.bottom);
    }
    if (idr) w.ue(static_cast<std::uint64_t>(f.idr_pic_id));
    if (sps.poc_type == 0) {
        w.u(sps.log2_max_poc_lsb_minus4 + 4, static_cast<std::uint64_t>(f.poc_lsb));
        if (pps.bottom_field_pic_order_in_frame_present && !f.field) w.se(0);
    }
    if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
        w.se(f.delta_poc0);
        if (pps.bottom_field_pic_order_in_frame_present && !f.field) w.se(0);
    }
    if (pps.redundant_pic_cnt_present) w.ue(static_cast<std::uint64_t>(f.redundant_pic_cnt));
    const int kind = f.slice_type % 5;
    if (kind == 1) w.flag(true);                   // direct_spatial_mv_pred_flag
    if (kind == 0 || kind == 1 || kind == 3) w.flag(false);  // num_ref_idx_active_override_flag
    if (kind != 2 && kind != 4) w.flag(false);     // ref_pic_list_modification_flag_l0
    if (kind == 1) w.flag(false);                  // ref_pic_list_modification_flag_l1
    if (refIdc) {
        if (idr) {
            w.flag(false);
            w.flag(false);
        } else {
            w.flag(false);
        }
    }
    if (pps.cabac && kind != 2 && kind != 4) w.ue(0);
    w.se(2);  // slice_qp_delta
    if (kind == 3 || kind == 4) {
        if (kind == 3) w.flag(false);
        w.se(0);
    }
    if (pps.deblocking_control) {
        w.ue(0);
        w.se(0);
        w.se(0);
    }
    if (pps.num_slice_groups_minus1 > 0 && pps.slice_group_map_type >= 3 && pps.slice_group_map_type <= 5) {
        // Ceil(Log2(PicSizeInMapUnits / SliceGroupChangeRate + 1)), exact division (7.4.3).
        const double mapUnits = double(sps.width_mbs) * sps.height_map_units;
        const double ratio = mapUnits / (pps.slice_group_change_rate_minus1 + 1) + 1;
        w.u(static_cast<int>(std::ceil(std::log2(ratio))), f.slice_group_change_cycle);
    }
    if (f.slice_id >= 0) w.ue(static_cast<std::uint64_t>(f.slice_id));
    for (int i = 0; i < f.slice_data_bytes; ++i) w.u(8, 0xA5);
    w.trailing();
    return w.bytes();
}

// Joins NAL units into an Annex B stream; startCodeSizes cycles over the units.
inline std::vector<std::uint8_t> annexB(std::initializer_list<std::vector<std::uint8_t>> units,
                                        std::initializer_list<int> startCodeSizes = {4})
{
    std::vector<std::uint8_t> out;
    std::size_t i = 0;
    const std::vector<int> sizes(startCodeSizes);
    for (const auto& u : units) {
        const int size = sizes[i++ % sizes.size()];
        out.insert(out.end(), static_cast<std::size_t>(size - 1), 0);
        out.push_back(1);
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

} // namespace kestrune::h264::testing
