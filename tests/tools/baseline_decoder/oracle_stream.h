#pragma once
// Streams for the decoder's oracle tests: the settings of libx264 Baseline
// encodes of the generated sample sequence, and libavcodec's decode of any stream.
#include "tests/support/x264_stream.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kestrune::codec::testing {

// libx264 Baseline (medium preset, one reference, partitions all, constant
// QP 26) over 20 pictures of the sample sequence; encode with
// kestrune::testing::encodeX264Stream.
kestrune::testing::X264StreamOptions baselineOracleOptions();

// libavcodec (one thread) over a whole Annex B stream: every output frame,
// cropped, planar Y U V, back to back.
std::vector<std::uint8_t> decodeWithLibavcodec(std::span<const std::uint8_t> stream);

// OpenH264's decoder (slice group map types 0 and 1), one access unit at a
// time through DecodeFrameNoDelay with slice-copy concealment, as the only
// way it hands out P pictures of such streams: every frame, planar Y U V.
std::vector<std::uint8_t> decodeWithOpenH264(const std::vector<std::vector<std::uint8_t>>& accessUnits);

} // namespace kestrune::codec::testing
