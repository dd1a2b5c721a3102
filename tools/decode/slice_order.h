#pragma once
// Baseline streams may send a picture's slices in any order (arbitrary slice
// order), which our decoder follows but libavcodec does not: it begins a new
// picture at every slice with first_mb_in_slice 0. Putting a picture's
// primary slices in macroblock order changes nothing in the decoded picture
// (deblocking runs over the whole picture in macroblock order either way).
#include "tools/bitstream/nal_parser.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kestrune::decode {

// Parses every NAL unit of an access unit (Annex B), so parameter sets reach
// `parser` in stream order. Returns true and fills `reordered` with the same
// NAL units, the primary slices in increasing first_mb_in_slice, where they
// came in another order; false (reordered untouched) otherwise.
bool primarySlicesInMacroblockOrder(std::span<const std::uint8_t> unit, h264::NalParser& parser,
                                    std::vector<std::uint8_t>& reordered);

} // namespace kestrune::decode
