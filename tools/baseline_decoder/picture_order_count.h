#pragma once
// Picture order count of frames (ITU-T H.264 clause 8.2.1), types 0, 1 and 2.
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"

#include <cstdint>
#include <optional>

namespace kestrune::codec {

class PictureOrderCount {
public:
    // PicOrderCnt of the picture with this (first) slice header; call once
    // per picture, in decoding order. Empty when a count falls outside the
    // 32 bits the standard allows (only a damaged stream gets there).
    std::optional<int> next(const h264::Sps& sps, const h264::SliceHeader& header, int nalRefIdc, bool idr);
    // After the picture is decoded: whether it carried memory_management_control_operation 5.
    // Returns its count as later pictures see it: 0 after operation 5, which
    // restarts the order like an IDR picture.
    std::int64_t pictureDone(bool reference, bool memoryManagement5);

private:
    // 64 bits: the sums of 32-bit values read from the stream may exceed 32 bits.
    std::int64_t prevPicOrderCntMsb_ = 0;
    std::int64_t prevPicOrderCntLsb_ = 0;
    std::int64_t prevFrameNumOffset_ = 0;
    std::int64_t prevFrameNum_ = 0;
    // Of the picture in progress.
    std::int64_t msb_ = 0;
    std::int64_t lsb_ = 0;
    std::int64_t frameNumOffset_ = 0;
    std::int64_t frameNum_ = 0;
    std::int64_t topFieldOrderCnt_ = 0;
    std::int64_t picOrderCnt_ = 0;
};

} // namespace kestrune::codec
