#include "tools/baseline_decoder/picture_order_count.h"

#include <algorithm>
#include <cstdint>

namespace kestrune::codec {

std::optional<int> PictureOrderCount::next(const h264::Sps& sps, const h264::SliceHeader& h, int nalRefIdc, bool idr)
{
    const std::int64_t maxFrameNum = std::int64_t{1} << sps.maxFrameNumBits();
    frameNum_ = h.frame_num;
    std::int64_t top = 0;
    std::int64_t bottom = 0;
    // Past this a count can no longer come back into 32 bits; it also keeps
    // every product below within 64 bits.
    constexpr std::int64_t kLimit = std::int64_t{1} << 40;
    if (sps.pic_order_cnt_type == 0) {
        const std::int64_t maxLsb = std::int64_t{1} << (sps.log2_max_pic_order_cnt_lsb_minus4 + 4);
        if (idr) prevPicOrderCntMsb_ = prevPicOrderCntLsb_ = 0;
        lsb_ = h.pic_order_cnt_lsb;
        if (lsb_ < prevPicOrderCntLsb_ && prevPicOrderCntLsb_ - lsb_ >= maxLsb / 2)
            msb_ = prevPicOrderCntMsb_ + maxLsb;
        else if (lsb_ > prevPicOrderCntLsb_ && lsb_ - prevPicOrderCntLsb_ > maxLsb / 2)
            msb_ = prevPicOrderCntMsb_ - maxLsb;
        else
            msb_ = prevPicOrderCntMsb_;
        top = msb_ + lsb_;
        bottom = top + h.delta_pic_order_cnt_bottom;
    } else {
        if (idr)
            frameNumOffset_ = 0;
        else if (prevFrameNum_ > frameNum_)
            frameNumOffset_ = prevFrameNumOffset_ + maxFrameNum;
        else
            frameNumOffset_ = prevFrameNumOffset_;
        if (frameNumOffset_ > kLimit) return std::nullopt;
        if (sps.pic_order_cnt_type == 1) {
            const std::int64_t cycle = sps.num_ref_frames_in_pic_order_cnt_cycle;
            std::int64_t absFrameNum = cycle != 0 ? frameNumOffset_ + frameNum_ : 0;
            if (nalRefIdc == 0 && absFrameNum > 0) --absFrameNum;
            std::int64_t expected = 0;
            if (absFrameNum > 0) {
                // At most 255 offsets of 32 bits: below 2^40.
                std::int64_t deltaPerCycle = 0;
                for (std::int64_t i = 0; i < cycle; ++i) deltaPerCycle += sps.offset_for_ref_frame[i];
                const std::int64_t cycleCnt = (absFrameNum - 1) / cycle;
                const std::int64_t inCycle = (absFrameNum - 1) % cycle;
                if (deltaPerCycle != 0 && cycleCnt > kLimit / (deltaPerCycle < 0 ? -deltaPerCycle : deltaPerCycle))
                    return std::nullopt;
                expected = cycleCnt * deltaPerCycle;
                for (std::int64_t i = 0; i <= inCycle; ++i) expected += sps.offset_for_ref_frame[i];
            }
            if (nalRefIdc == 0) expected += sps.offset_for_non_ref_pic;
            top = expected + h.delta_pic_order_cnt[0];
            bottom = top + sps.offset_for_top_to_bottom_field + h.delta_pic_order_cnt[1];
        } else {
            top = idr ? 0 : nalRefIdc == 0 ? 2 * (frameNumOffset_ + frameNum_) - 1 : 2 * (frameNumOffset_ + frameNum_);
            bottom = top;
        }
    }
    const auto fits = [](std::int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
    if (!fits(top) || !fits(bottom)) return std::nullopt;
    topFieldOrderCnt_ = top;
    picOrderCnt_ = std::min(top, bottom);
    return static_cast<int>(picOrderCnt_);
}

std::int64_t PictureOrderCount::pictureDone(bool reference, bool memoryManagement5)
{
    // After an MMCO 5 the picture counts as frame_num 0 with its order count
    // rebased to 0 (clause 8.2.1).
    if (reference) {
        prevPicOrderCntMsb_ = memoryManagement5 ? 0 : msb_;
        prevPicOrderCntLsb_ = memoryManagement5 ? topFieldOrderCnt_ - picOrderCnt_ : lsb_;
    }
    prevFrameNumOffset_ = memoryManagement5 ? 0 : frameNumOffset_;
    prevFrameNum_ = memoryManagement5 ? 0 : frameNum_;
    return memoryManagement5 ? 0 : picOrderCnt_;
}

} // namespace kestrune::codec
