#include "tools/encode/picture_numbering.h"

#include "tools/encode/yuv_input.h"

#include <string>

namespace kestrune {

void PictureNumbering::rewrite(std::span<const std::uint8_t> annexB, std::vector<std::uint8_t>& out)
{
    std::size_t start = 0;
    while (start < annexB.size() && annexB[start] == 0) ++start;
    if (start + 1 >= annexB.size() || annexB[start] != 1 || start < 2)
        throw EncodeError("libx264 handed over a NAL unit without a start code");
    ++start;
    const std::span<const std::uint8_t> nal = annexB.subspan(start);
    bytesIn_ += static_cast<std::int64_t>(annexB.size());
    const std::size_t before = out.size();
    out.insert(out.end(), annexB.begin(), annexB.begin() + static_cast<std::ptrdiff_t>(start));

    const h264::ParsedNal parsed = parser_.parse(nal, false);
    if (!parsed.status.ok())
        throw EncodeError("cannot read libx264's " + std::string(h264::nalUnitTypeTag(parsed.header.nal_unit_type))
                          + " NAL unit: " + parsed.status.message);
    if (parsed.sps) {
        h264::Sps wide = *parsed.sps;
        wide.log2_max_frame_num_minus4 = kLog2MaxFrameNumMinus4;
        const auto rewritten = h264::spsNalUnit(wide, parsed.header.nal_ref_idc);
        out.insert(out.end(), rewritten.begin(), rewritten.end());
    } else if (parsed.slice) {
        const h264::SliceHeader& slice = *parsed.slice;
        const h264::ParameterSets& sets = parser_.parameterSets();
        const h264::Pps& pps = *sets.findPps(slice.pic_parameter_set_id);
        h264::Sps wide = *sets.findSps(pps.seq_parameter_set_id);
        const std::uint32_t maxFrameNum = 1u << wide.maxFrameNumBits();
        wide.log2_max_frame_num_minus4 = kLog2MaxFrameNumMinus4;
        // libx264 writes the slices of a picture in macroblock order.
        if (slice.first_mb_in_slice == 0) {
            if (parsed.header.nal_unit_type == h264::NalIdrSlice) {
                frameNum_ = 0;
                idrPicId_ = static_cast<std::uint32_t>(pictures_ % 65536);
            } else {
                // The same steps as libx264's frame_num, without its early wrap.
                frameNum_ = (frameNum_ + (slice.frame_num + maxFrameNum - previousFrameNum_) % maxFrameNum) % 65536;
            }
            previousFrameNum_ = slice.frame_num;
            ++pictures_;
        }
        h264::SliceHeader changed = slice;
        changed.frame_num = frameNum_;
        changed.idr_pic_id = idrPicId_;
        const auto rewritten = h264::rewriteSliceHeader(nal, slice, changed, wide, pps);
        if (rewritten.empty()) throw EncodeError("cannot rewrite a slice header of libx264's stream");
        out.insert(out.end(), rewritten.begin(), rewritten.end());
    } else {
        out.insert(out.end(), nal.begin(), nal.end());
    }
    bytesOut_ += static_cast<std::int64_t>(out.size() - before);
}

} // namespace kestrune
