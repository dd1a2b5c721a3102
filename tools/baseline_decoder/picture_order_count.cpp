#include "tools/baseline_decoder/picture_order_count.h"

#include <algorithm>

namespace kestrune::codec {

int PictureOrderCount::next(const h264::Sps& sps, const h264::SliceHeader& h, int nalRefIdc, bool idr)
{
    const int maxFrameNum = 1 << sps.maxFrameNumBits();
    frameNum_ = static_cast<int>(h.frame_num);
    int top = 0;
    int bottom = 0;
    if (sps.pic_order_cnt_type == 0) {
        const int maxLsb = 1 << (sps.log2_max_pic_order_cnt_lsb_minus4 + 4);
        if (idr) prevPicOrderCntMsb_ = prevPicOrderCntLsb_ = 0;
        lsb_ = static_cast<int>(h.pic_order_cnt_lsb);
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
        if (sps.pic_order_cnt_type == 1) {
            const int cycle = static_cast<int>(sps.num_ref_frames_in_pic_order_cnt_cycle);
            int absFrameNum = cycle != 0 ? frameNumOffset_ + frameNum_ : 0;
            if (nalRefIdc == 0 && absFrameNum > 0) --absFrameNum;
            int expected = 0;
            if (absFrameNum > 0) {
                long long deltaPerCycle = 0;
                for (int i = 0; i < cycle; ++i) deltaPerCycle += sps.offset_for_ref_frame[i];
                const int cycleCnt = (absFrameNum - 1) / cycle;
                const int inCycle = (absFrameNum - 1) % cycle;
                long long e = cycleCnt * deltaPerCycle;
                for (int i = 0; i <= inCycle; ++i) e += sps.offset_for_ref_frame[i];
                expected = static_cast<int>(e);
            }
            if (nalRefIdc == 0) expected += sps.offset_for_non_ref_pic;
            top = expected + h.delta_pic_order_cnt[0];
            bottom = top + sps.offset_for_top_to_bottom_field + h.delta_pic_order_cnt[1];
        } else {
            top = idr ? 0 : nalRefIdc == 0 ? 2 * (frameNumOffset_ + frameNum_) - 1 : 2 * (frameNumOffset_ + frameNum_);
            bottom = top;
        }
    }
    topFieldOrderCnt_ = top;
    picOrderCnt_ = std::min(top, bottom);
    return picOrderCnt_;
}

void PictureOrderCount::pictureDone(bool reference, bool memoryManagement5)
{
    // After an MMCO 5 the picture counts as frame_num 0 with its order count
    // rebased to 0 (clause 8.2.1).
    if (reference) {
        prevPicOrderCntMsb_ = memoryManagement5 ? 0 : msb_;
        prevPicOrderCntLsb_ = memoryManagement5 ? topFieldOrderCnt_ - picOrderCnt_ : lsb_;
    }
    prevFrameNumOffset_ = memoryManagement5 ? 0 : frameNumOffset_;
    prevFrameNum_ = memoryManagement5 ? 0 : frameNum_;
}

} // namespace kestrune::codec
