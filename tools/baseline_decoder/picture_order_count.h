#pragma once
// Picture order count of frames (ITU-T H.264 clause 8.2.1), types 0, 1 and 2.
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"

namespace kestrune::codec {

class PictureOrderCount {
public:
    // PicOrderCnt of the picture with this (first) slice header; call once
    // per picture, in decoding order.
    int next(const h264::Sps& sps, const h264::SliceHeader& header, int nalRefIdc, bool idr);
    // After the picture is decoded: whether it carried memory_management_control_operation 5.
    void pictureDone(bool reference, bool memoryManagement5);

private:
    int prevPicOrderCntMsb_ = 0;
    int prevPicOrderCntLsb_ = 0;
    int prevFrameNumOffset_ = 0;
    int prevFrameNum_ = 0;
    // Of the picture in progress.
    int msb_ = 0;
    int lsb_ = 0;
    int frameNumOffset_ = 0;
    int frameNum_ = 0;
    int topFieldOrderCnt_ = 0;
    int picOrderCnt_ = 0;
};

} // namespace kestrune::codec
