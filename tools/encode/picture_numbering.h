#pragma once
// Makes libx264's stream countable after any loss: the SPS gets
// log2_max_frame_num 16, so frame_num cannot wrap within a loss run, and
// every IDR picture gets idr_pic_id = its number in the sequence (mod 65,536),
// so a decoder can place each received IDR even when everything around it
// was lost. libx264 has no setting for either, so its NAL units are rewritten
// as they are handed over; the pictures decode exactly as before.
#include "tools/bitstream/bitstream.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kestrune {

class PictureNumbering {
public:
    static constexpr std::uint32_t kLog2MaxFrameNumMinus4 = 12;  // MaxFrameNum 65,536

    // One NAL unit in Annex B form (start code included), in stream order;
    // appends it, rewritten where needed, to out with the same start code.
    // Throws EncodeError when a header cannot be read.
    void rewrite(std::span<const std::uint8_t> annexB, std::vector<std::uint8_t>& out);

    std::int64_t bytesIn() const { return bytesIn_; }
    std::int64_t bytesOut() const { return bytesOut_; }

private:
    h264::NalParser parser_;  // reads libx264's headers with its own parameter sets
    std::int64_t pictures_ = 0;          // pictures begun so far
    std::uint32_t frameNum_ = 0;         // the current picture's rewritten frame_num
    std::uint32_t idrPicId_ = 0;
    std::uint32_t previousFrameNum_ = 0; // libx264's frame_num of the current picture
    std::int64_t bytesIn_ = 0;
    std::int64_t bytesOut_ = 0;
};

} // namespace kestrune
