#include "tools/decode/baseline_path.h"

#include "tools/bitstream/annexb_reader.h"
#include "tools/bitstream/bit_reader.h"
#include "tools/bitstream/nal_unit.h"

#include <algorithm>
#include <cstring>

namespace kestrune::decode {

Picture pictureView(codec::Picture& picture)
{
    Picture view;
    view.mbWidth = picture.widthInMbs();
    view.mbHeight = picture.heightInMbs();
    const codec::PlaneView y = picture.plane(codec::kLuma);
    const codec::PlaneView u = picture.plane(codec::kCb);
    const codec::PlaneView v = picture.plane(codec::kCr);
    view.luma = {y.data, y.width, y.height, y.stride};
    view.cb = {u.data, u.width, u.height, u.stride};
    view.cr = {v.data, v.width, v.height, v.stride};
    return view;
}

MbGrid lossMapOf(const codec::MacroblockStates& states)
{
    MbGrid grid(states.widthInMbs(), states.heightInMbs());
    for (int i = 0; i < states.size(); ++i)
        if (!states[i].available()) grid.states[static_cast<std::size_t>(i)] = MbState::Lost;
    return grid;
}

MotionField motionFieldOf(const codec::MacroblockStates& states)
{
    MotionField field(states.widthInMbs(), states.heightInMbs());
    for (int i = 0; i < states.size(); ++i) {
        const codec::MacroblockState& mb = states[i];
        if (!mb.available() || mb.intra()) continue;
        const int bx = (i % states.widthInMbs()) * 4;
        const int by = (i / states.widthInMbs()) * 4;
        for (int blk = 0; blk < 16; ++blk)
            field.set(bx + codec::kBlockX[blk], by + codec::kBlockY[blk], {mb.mv[blk].x, mb.mv[blk].y});
    }
    return field;
}

void packCropped(const codec::Picture& picture, int cropLeft, int cropTop, int width, int height,
                 std::vector<std::uint8_t>& out)
{
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    out.resize(static_cast<std::size_t>(width) * height + 2 * static_cast<std::size_t>(cw) * ch);
    std::uint8_t* p = out.data();
    for (int plane = 0; plane < 3; ++plane) {
        const codec::ConstPlaneView v = picture.plane(plane);
        const int shift = plane ? 1 : 0;
        const int pw = plane ? cw : width, ph = plane ? ch : height;
        for (int y = 0; y < ph; ++y, p += pw)
            std::memcpy(p, v.row((cropTop >> shift) + y) + (cropLeft >> shift), static_cast<std::size_t>(pw));
    }
}

int sliceGroupsOfNalUnit(std::span<const std::uint8_t> nal)
{
    h264::NalHeader header;
    if (!h264::parseNalHeader(nal, header).ok() || header.nal_unit_type != h264::NalPps) return 1;
    // pic_parameter_set_id, seq_parameter_set_id, entropy_coding_mode_flag,
    // bottom_field_pic_order_in_frame_present_flag, num_slice_groups_minus1:
    // enough of the PPS, and readable without its SPS.
    const auto rbsp = h264::removeEmulationPrevention(nal.subspan(1, std::min<std::size_t>(nal.size() - 1, 32)));
    h264::BitReader bits(rbsp);
    bits.ue();
    bits.ue();
    bits.skip(2);
    const std::uint32_t minus1 = bits.ue();
    if (bits.overrun() || bits.invalid() || minus1 > 7) return 1;
    return static_cast<int>(minus1) + 1;
}

int sliceGroupsInStream(const std::filesystem::path& file)
{
    // Slices are clipped to their first bytes: only parameter sets matter here.
    h264::AnnexBReader reader(file, 4096, 1);
    h264::NalUnit unit;
    int groups = 1;
    while (reader.next(unit)) groups = std::max(groups, sliceGroupsOfNalUnit(unit.bytes));
    return groups;
}

} // namespace kestrune::decode
