#pragma once
// One coded picture as it reaches the decoder: its NAL units in Annex B form
// and what its slice headers say about it.
#include "tools/bitstream/picture_placement.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrune::decode {

enum class PictureType { I, P, B };

struct ReceivedPicture {
    std::vector<std::uint8_t> bytes; // start codes included; parameter sets and SEI too
    bool hasSlices = false;          // false: only non-VCL NAL units (e.g. trailing parameter sets)
    h264::PictureNumbers numbers;    // where it stands in the sequence
    bool withoutParameterSets = false; // the SPS or PPS its first slice names never arrived
    PictureType type = PictureType::I; // P if any slice is P, B if any is B
    // Picture order count (clause 8.2.1) where it may differ from decode
    // order (pic_order_cnt_type 0 or 1) and the first slice was read whole;
    // 0 for a picture with memory_management_control_operation 5, which
    // restarts the count like an IDR picture.
    std::optional<std::int64_t> poc;
    std::int64_t sentPicture = -1;   // its place in the sent stream, when that is known
};

} // namespace kestrune::decode
