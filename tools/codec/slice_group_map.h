#pragma once
// Slice group maps (ITU-T H.264 clause 8.2.2): which slice group each
// macroblock belongs to, for map types 0-6, and the next macroblock address
// of a slice within its group (equation 8-16). Frames only
// (frame_mbs_only_flag = 1, as in Baseline), so map units are macroblocks.
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/result.h"

#include <cstdint>
#include <vector>

namespace kestrune::codec {

// mapUnitToSliceGroupMap of clauses 8.2.2.1-8.2.2.7 for a picture of
// widthInMbs x heightInMbs. sliceGroupChangeCycle matters for types 3-5 only.
// Parameters the picture size makes impossible (a rectangle or run beyond the
// picture, an explicit map of another size) give BrokenData and an empty map.
h264::Status sliceGroupMap(const h264::Pps& pps, int widthInMbs, int heightInMbs, std::uint32_t sliceGroupChangeCycle,
                           std::vector<std::uint8_t>& map);

// The macroblock after n in n's slice group, or map.size() when none follows.
int nextMbAddress(const std::vector<std::uint8_t>& map, int n);

} // namespace kestrune::codec
