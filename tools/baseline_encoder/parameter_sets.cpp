#include "tools/baseline_encoder/parameter_sets.h"

#include <algorithm>
#include <string>

namespace kestrune::codec {
namespace {

struct Level {
    int idc;
    long maxMbPerSecond;
    long maxFrameMbs;
    long maxDpbMbs;
};

// Table A-1 (level 1b left out: it needs constraint_set3).
constexpr Level kLevels[] = {
    {10, 1485, 99, 396},         {11, 3000, 396, 900},        {12, 6000, 396, 2376},
    {13, 11880, 396, 2376},      {20, 11880, 396, 2376},      {21, 19800, 792, 4752},
    {22, 20250, 1620, 8100},     {30, 40500, 1620, 8100},     {31, 108000, 3600, 18000},
    {32, 216000, 5120, 20480},   {40, 245760, 8192, 32768},   {41, 245760, 8192, 32768},
    {42, 522240, 8704, 34816},   {50, 589824, 22080, 110400}, {51, 983040, 36864, 184320},
    {52, 2073600, 36864, 184320},
};

int chooseLevel(int widthMbs, int heightMbs, int fps, int references)
{
    const long frameMbs = static_cast<long>(widthMbs) * heightMbs;
    for (const Level& level : kLevels) {
        // Frame width and height each at most sqrt(8 * MaxFS) macroblocks (A.3.1).
        const bool sidesFit = static_cast<long>(widthMbs) * widthMbs <= 8 * level.maxFrameMbs
                              && static_cast<long>(heightMbs) * heightMbs <= 8 * level.maxFrameMbs;
        if (frameMbs <= level.maxFrameMbs && sidesFit && frameMbs * fps <= level.maxMbPerSecond
            && frameMbs * references <= level.maxDpbMbs)
            return level.idc;
    }
    return 52;
}

} // namespace

h264::Sps sequenceParameterSet(const EncoderSettings& settings)
{
    h264::Sps s;
    const int widthMbs = (settings.width + 15) / 16;
    const int heightMbs = (settings.height + 15) / 16;
    s.profile_idc = 66;
    s.constraint_set_flag = {true, false, false, false, false, false};
    s.level_idc = static_cast<std::uint32_t>(chooseLevel(widthMbs, heightMbs, settings.fps, settings.references));
    s.log2_max_frame_num_minus4 = 12;
    s.pic_order_cnt_type = 2;
    s.max_num_ref_frames = static_cast<std::uint32_t>(settings.references);
    s.pic_width_in_mbs_minus1 = static_cast<std::uint32_t>(widthMbs - 1);
    s.pic_height_in_map_units_minus1 = static_cast<std::uint32_t>(heightMbs - 1);
    s.frame_mbs_only_flag = true;
    s.direct_8x8_inference_flag = true;
    // Crop units are two samples for 4:2:0 frames (Table 6-1, clause 7.4.2.1.1).
    if (widthMbs * 16 != settings.width || heightMbs * 16 != settings.height) {
        s.frame_cropping_flag = true;
        s.frame_crop_right_offset = static_cast<std::uint32_t>((widthMbs * 16 - settings.width) / 2);
        s.frame_crop_bottom_offset = static_cast<std::uint32_t>((heightMbs * 16 - settings.height) / 2);
    }
    s.vui_parameters_present_flag = true;
    s.vui.timing_info_present_flag = true;
    s.vui.num_units_in_tick = 1;
    s.vui.time_scale = static_cast<std::uint32_t>(2 * settings.fps);
    s.vui.fixed_frame_rate_flag = true;
    // Output order is decoding order: a decoder may show each picture at once.
    s.vui.bitstream_restriction_flag = true;
    s.vui.max_bytes_per_pic_denom = 0;
    s.vui.max_bits_per_mb_denom = 0;
    s.vui.log2_max_mv_length_horizontal = 16;
    s.vui.log2_max_mv_length_vertical = 16;
    s.vui.max_num_reorder_frames = 0;
    s.vui.max_dec_frame_buffering = static_cast<std::uint32_t>(settings.references);
    return s;
}

std::string sliceGroupError(const EncoderSettings& settings)
{
    if (settings.sliceGroups < 1 || settings.sliceGroups > 8)
        return "--slice-groups must be 1..8 (1: no slice groups), not " + std::to_string(settings.sliceGroups);
    if (settings.mapType < 0 || settings.mapType > 6)
        return "--slice-group-map-type must be 0..6, not " + std::to_string(settings.mapType);
    if (settings.slices < 1) return "--slices must be at least 1, not " + std::to_string(settings.slices);
    if (settings.maxSliceBytes < 0)
        return "--max-slicesize must be at least 1, not " + std::to_string(settings.maxSliceBytes);
    if (settings.sliceGroups > 1 && settings.mapType >= 3 && settings.mapType <= 5 && settings.sliceGroups != 2)
        return "slice group map type " + std::to_string(settings.mapType)
               + " (evolving) has exactly 2 slice groups, not " + std::to_string(settings.sliceGroups);
    return {};
}

h264::Pps pictureParameterSet(const EncoderSettings& settings, const h264::Sps& sps)
{
    h264::Pps p;
    p.num_ref_idx_l0_default_active_minus1 = static_cast<std::uint32_t>(settings.references - 1);
    p.deblocking_filter_control_present_flag = true;
    const int groups = settings.sliceGroups;
    if (groups <= 1) return p;
    const auto n = static_cast<std::uint32_t>(groups);
    const int width = sps.widthInMbs();
    const int height = sps.heightInMapUnits();
    p.num_slice_groups_minus1 = n - 1;
    p.slice_group_map_type = static_cast<std::uint32_t>(settings.mapType);
    switch (settings.mapType) {
    case 0:
        // Interleaved runs of one macroblock row each: group i holds rows i, i + N, ...
        p.run_length_minus1.assign(n, static_cast<std::uint32_t>(width - 1));
        break;
    case 2:
        // Nested boxes around the centre, the smallest in group 0; the last
        // group is what no box covers. Box i spans (i + 1) / N of each side.
        for (int i = 0; i + 1 < groups; ++i) {
            const int boxWidth = std::max(1, width * (i + 1) / groups);
            const int boxHeight = std::max(1, height * (i + 1) / groups);
            const int left = (width - boxWidth) / 2;
            const int top = (height - boxHeight) / 2;
            p.top_left.push_back(static_cast<std::uint32_t>(top * width + left));
            p.bottom_right.push_back(static_cast<std::uint32_t>((top + boxHeight - 1) * width + left + boxWidth - 1));
        }
        break;
    case 3:
    case 4:
    case 5:
        // Group 0 grows by one macroblock row's worth of map units per picture.
        p.slice_group_change_direction_flag = false;
        p.slice_group_change_rate_minus1 = static_cast<std::uint32_t>(width - 1);
        break;
    case 6:
        // An explicit pattern: 2x2 macroblock squares dealt to the groups in turn
        // along each row, shifted by one group every square row.
        p.pic_size_in_map_units_minus1 = static_cast<std::uint32_t>(width * height - 1);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                p.slice_group_id.push_back(static_cast<std::uint32_t>((x / 2 + y / 2) % groups));
        break;
    default: break;  // 1: dispersed, no parameters
    }
    return p;
}

std::string sliceGroupLayoutText(const h264::Pps& p, const h264::Sps& sps)
{
    const int groups = static_cast<int>(p.num_slice_groups_minus1) + 1;
    if (groups == 1) return "slice groups: 1 (no FMO), one slice per picture";
    static const char* const kNames[] = {"interleaved runs", "dispersed", "foreground boxes", "box-out",
                                         "raster scan", "wipe", "explicit"};
    std::string text = "slice groups: " + std::to_string(groups) + ", map type "
                       + std::to_string(p.slice_group_map_type) + " (" + kNames[p.slice_group_map_type % 7] + ")";
    switch (p.slice_group_map_type) {
    case 0: text += ", run length " + std::to_string(p.run_length_minus1.at(0) + 1) + " macroblocks"; break;
    case 2:
        for (std::size_t i = 0; i < p.top_left.size(); ++i)
            text += ", box " + std::to_string(i) + " " + std::to_string(p.top_left[i]) + ".."
                    + std::to_string(p.bottom_right[i]);
        break;
    case 3:
    case 4:
    case 5:
        text += ", change rate " + std::to_string(p.slice_group_change_rate_minus1 + 1) + " map units per picture";
        break;
    case 6: text += ", 2x2-macroblock squares in turn"; break;
    default: break;
    }
    text += ", " + std::to_string(sps.picSizeInMapUnits()) + " macroblocks; one slice (NAL unit) per group per picture";
    return text;
}

} // namespace kestrune::codec
