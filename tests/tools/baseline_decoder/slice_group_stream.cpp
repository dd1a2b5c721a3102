#include "tests/tools/baseline_decoder/slice_group_stream.h"

#include "tools/bitstream/bit_writer.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/codec/decoded_picture_buffer.h"
#include "tools/codec/slice_group_map.h"
#include "tools/sample/sample_sequence.h"

#include <random>

namespace kestrune::codec::testing {

namespace {

using h264::BitWriter;

void appendNal(std::vector<std::uint8_t>& out, int refIdc, int type, BitWriter& w)
{
    w.trailing();
    const auto nal = h264::makeNalUnit(refIdc, type, w.bytes());
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), nal.begin(), nal.end());
}

} // namespace

SliceGroupStream makeSliceGroupStream(const SliceGroupStreamSettings& s)
{
    const int mbCount = s.widthInMbs * s.heightInMbs;
    h264::Pps pps;
    pps.num_slice_groups_minus1 = static_cast<std::uint32_t>(s.groups - 1);
    pps.slice_group_map_type = static_cast<std::uint32_t>(s.mapType);
    pps.run_length_minus1 = s.runLengthMinus1;
    for (int g = static_cast<int>(pps.run_length_minus1.size()); g < s.groups; ++g)
        pps.run_length_minus1.push_back(static_cast<std::uint32_t>(g + 1));
    pps.slice_group_change_direction_flag = s.changeDirection;
    pps.slice_group_change_rate_minus1 = s.changeRateMinus1;
    for (int g = 0; g + 1 < s.groups; ++g) {  // type 2: nested boxes around the centre
        const int cx = s.widthInMbs / 2, cy = s.heightInMbs / 2, r = g + 1;
        pps.top_left.push_back(static_cast<std::uint32_t>(std::max(cy - r, 0) * s.widthInMbs + std::max(cx - r, 0)));
        pps.bottom_right.push_back(static_cast<std::uint32_t>(std::min(cy + r, s.heightInMbs - 1) * s.widthInMbs +
                                                              std::min(cx + r, s.widthInMbs - 1)));
    }
    for (int i = 0; i < mbCount; ++i)  // type 6: diagonal stripes
        pps.slice_group_id.push_back(static_cast<std::uint32_t>((i % s.widthInMbs + i / s.widthInMbs) / 2 % s.groups));

    SliceGroupStream out;
    std::vector<std::uint8_t> au;
    // SPS: Baseline (constraint_set1 off: slice groups are not Main), level 3,
    // frame_num 16 bits, POC type 2, one reference frame.
    {
        BitWriter w;
        w.u(8, 66);
        w.u(8, 0x80);
        w.u(8, 30);
        w.ue(0);
        w.ue(12);  // log2_max_frame_num_minus4
        w.ue(2);   // pic_order_cnt_type
        w.ue(static_cast<std::uint64_t>(s.refs));  // max_num_ref_frames
        w.flag(false);
        w.ue(static_cast<std::uint64_t>(s.widthInMbs - 1));
        w.ue(static_cast<std::uint64_t>(s.heightInMbs - 1));
        w.flag(true);   // frame_mbs_only_flag
        w.flag(true);   // direct_8x8_inference_flag
        w.flag(false);  // frame_cropping_flag
        w.flag(false);  // vui
        appendNal(au, 3, 7, w);
    }
    {
        BitWriter w;
        w.ue(0);
        w.ue(0);
        w.flag(s.cabacFlag);
        w.flag(false);
        w.ue(pps.num_slice_groups_minus1);
        if (s.groups > 1) {
            w.ue(pps.slice_group_map_type);
            switch (s.mapType) {
                case 0:
                    for (int g = 0; g < s.groups; ++g) w.ue(pps.run_length_minus1[g]);
                    break;
                case 2:
                    for (int g = 0; g + 1 < s.groups; ++g) {
                        w.ue(pps.top_left[g]);
                        w.ue(pps.bottom_right[g]);
                    }
                    break;
                case 3:
                case 4:
                case 5:
                    w.flag(s.changeDirection);
                    w.ue(s.changeRateMinus1);
                    break;
                case 6: {
                    w.ue(static_cast<std::uint64_t>(mbCount - 1));
                    int bits = 0;
                    while ((1 << bits) < s.groups) ++bits;
                    for (int i = 0; i < mbCount; ++i) w.u(bits, pps.slice_group_id[i]);
                    break;
                }
                default:
                    break;
            }
        }
        w.ue(static_cast<std::uint64_t>(s.refs - 1));  // num_ref_idx_l0_default_active_minus1
        w.ue(0);
        w.flag(false);  // weighted_pred_flag
        w.u(2, 0);
        w.se(s.qp - 26);
        w.se(0);
        w.se(0);        // chroma_qp_index_offset
        w.flag(true);   // deblocking_filter_control_present_flag
        w.flag(false);  // constrained_intra_pred_flag
        w.flag(s.redundantSlices);  // redundant_pic_cnt_present_flag
        appendNal(au, 3, 8, w);
    }

    std::mt19937 rng(s.seed);
    std::vector<std::uint8_t> frame(yuv420FrameBytes(s.widthInMbs * 16, s.heightInMbs * 16));
    h264::Sps size;
    size.pic_width_in_mbs_minus1 = static_cast<std::uint32_t>(s.widthInMbs - 1);
    size.pic_height_in_map_units_minus1 = static_cast<std::uint32_t>(s.heightInMbs - 1);
    h264::Pps rate;
    rate.slice_group_change_rate_minus1 = static_cast<std::uint32_t>(s.changeRateMinus1);
    const int changeCycleBits = h264::sliceGroupChangeCycleBits(size, rate);
    // Which frames are references when, to choose valid commands and indices.
    DecodedPictureBuffer references;
    references.configure(s.refs, 1 << 16);
    for (int f = 0; f < s.frames; ++f) {
        const bool idr = f == 0;
        h264::SliceHeader marking;
        std::vector<h264::RefPicListModification> modifications;
        int validRefs = 0;
        if (!idr) {
            for (int id : references.initialList(f, s.refs)) validRefs += id >= 0;
            std::vector<const ReferenceFrame*> shortTerm;
            for (const ReferenceFrame& r : references.frames())
                if (!r.longTerm) shortTerm.push_back(&r);
            if (s.reorder && validRefs >= 2 && !shortTerm.empty()) {
                const ReferenceFrame* moved = shortTerm[rng() % shortTerm.size()];
                modifications.push_back({0, static_cast<std::uint32_t>(f - moved->frameNum - 1)});
            }
            if (s.memoryManagement && f % 4 == 2 && shortTerm.size() >= 2) {
                marking.adaptive_ref_pic_marking_mode_flag = true;
                h264::MemoryManagementOperation unmark;
                unmark.memory_management_control_operation = 1;
                unmark.difference_of_pic_nums_minus1 = static_cast<std::uint32_t>(f - shortTerm[rng() % shortTerm.size()]->frameNum - 1);
                marking.mmcos.push_back(unmark);
                if (f % 8 == 6) {
                    h264::MemoryManagementOperation limit, longTerm;
                    limit.memory_management_control_operation = 4;
                    limit.max_long_term_frame_idx_plus1 = 1;
                    longTerm.memory_management_control_operation = 6;
                    longTerm.long_term_frame_idx = 0;
                    marking.mmcos.push_back(limit);
                    marking.mmcos.push_back(longTerm);
                }
            }
        }
        renderSampleFrame({s.widthInMbs * 16, s.heightInMbs * 16}, f, frame);
        // Types 3-5 grow group 0 picture by picture.
        const std::uint32_t cycle = static_cast<std::uint32_t>((f * 3 + 2) % (mbCount / (s.changeRateMinus1 + 1) + 1));
        std::vector<std::uint8_t> map;
        sliceGroupMap(pps, s.widthInMbs, s.heightInMbs, cycle, map);
        for (int k = 0; k < s.groups; ++k) {
            const int group = s.reverseSliceOrder ? s.groups - 1 - k : k;
            int first = 0;
            while (first < mbCount && map[first] != group) ++first;
            if (first == mbCount) continue;
            const std::mt19937 sliceStart = rng;
            for (int copy = 0; copy <= (s.redundantSlices ? 1 : 0); ++copy) {
            rng = sliceStart;
            BitWriter w;
            w.ue(static_cast<std::uint64_t>(first));
            w.ue(idr ? 7 : 5);
            w.ue(0);
            w.u(16, static_cast<std::uint64_t>(f));
            if (idr) w.ue(0);
            if (s.redundantSlices) w.ue(static_cast<std::uint64_t>(copy));
            if (!idr) {
                w.flag(false);  // num_ref_idx_active_override_flag
                w.flag(!modifications.empty());  // ref_pic_list_modification_flag_l0
                if (!modifications.empty()) {
                    for (const auto& m : modifications) {
                        w.ue(m.modification_of_pic_nums_idc);
                        w.ue(m.value);
                    }
                    w.ue(3);
                }
            }
            if (idr) {
                w.flag(false);
                w.flag(false);
            } else {
                w.flag(marking.adaptive_ref_pic_marking_mode_flag);
                if (marking.adaptive_ref_pic_marking_mode_flag) {
                    for (const auto& op : marking.mmcos) {
                        w.ue(op.memory_management_control_operation);
                        if (op.memory_management_control_operation == 1) w.ue(op.difference_of_pic_nums_minus1);
                        if (op.memory_management_control_operation == 4) w.ue(op.max_long_term_frame_idx_plus1);
                        if (op.memory_management_control_operation == 6) w.ue(op.long_term_frame_idx);
                    }
                    w.ue(0);
                }
            }
            w.se(0);  // slice_qp_delta
            w.ue(static_cast<std::uint64_t>(s.disableDeblocking));
            if (s.disableDeblocking != 1) {
                w.se(0);
                w.se(0);
            }
            if (s.groups > 1 && s.mapType >= 3 && s.mapType <= 5) w.u(changeCycleBits, cycle);

            int skipRun = 0;
            auto pcm = [&](int mb) {
                w.alignWith(false);
                const int mx = mb % s.widthInMbs, my = mb / s.widthInMbs;
                const int width = s.widthInMbs * 16, height = s.heightInMbs * 16;
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x) w.u(8, frame[static_cast<std::size_t>(my * 16 + y) * width + mx * 16 + x]);
                for (int p = 0; p < 2; ++p) {
                    const std::size_t base = static_cast<std::size_t>(width) * height + static_cast<std::size_t>(p) * (width / 2) * (height / 2);
                    for (int y = 0; y < 8; ++y)
                        for (int x = 0; x < 8; ++x) w.u(8, frame[base + static_cast<std::size_t>(my * 8 + y) * (width / 2) + mx * 8 + x]);
                }
            };
            for (int mb = first; mb < mbCount; mb = nextMbAddress(map, mb)) {
                if (idr) {
                    w.ue(25);
                    pcm(mb);
                    continue;
                }
                const unsigned choice = rng() % 10;
                if (choice < 4) {
                    ++skipRun;
                    continue;
                }
                w.ue(static_cast<std::uint64_t>(skipRun));
                skipRun = 0;
                if (choice == 9) {
                    w.ue(30);  // I_PCM in a P slice
                    pcm(mb);
                    continue;
                }
                w.ue(0);  // P_L0_16x16
                if (s.refs > 1) {
                    const int refIdx = static_cast<int>(rng() % static_cast<unsigned>(validRefs));
                    if (s.refs == 2) w.flag(refIdx == 0);  // te(v) with cMax 1: the inverted bit
                    else w.ue(static_cast<std::uint64_t>(refIdx));
                }
                w.se(static_cast<int>(rng() % 17) - 8);
                w.se(static_cast<int>(rng() % 17) - 8);
                w.ue(0);  // coded_block_pattern 0
            }
            if (skipRun > 0) w.ue(static_cast<std::uint64_t>(skipRun));
            appendNal(au, 2, idr ? 5 : 1, w);
            }
        }
        bool mmco5 = false;
        references.markCurrent(f, f, idr, marking, mmco5);
        out.bytes.insert(out.bytes.end(), au.begin(), au.end());
        out.accessUnits.push_back(std::move(au));
        au.clear();
    }
    return out;
}

} // namespace kestrune::codec::testing
