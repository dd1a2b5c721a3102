#pragma once
// Decoders for the encoder's tests: the independent libavcodec (Baseline
// streams without slice groups) and OpenH264 (slice group map types 0 and
// 1), and our own decoder for the map types no other decoder reads. Each takes access units in Annex B form and returns the decoded
// frames as planar YUV 4:2:0 of the cropped size, in output order.
#include <cstdint>
#include <vector>

namespace kestrune::testing {

using Frame = std::vector<std::uint8_t>;
using AccessUnits = std::vector<std::vector<std::uint8_t>>;

std::vector<Frame> decodeWithLibavcodec(const AccessUnits& units, int width, int height);

// Our own Baseline decoder (every map type), one access unit at a time.
std::vector<Frame> decodeWithOurDecoder(const AccessUnits& units, int width, int height);

// OpenH264 with ERROR_CON_SLICE_COPY, whole access units to DecodeFrameNoDelay.
// width 0: every picture at the size the stream gives.
std::vector<Frame> decodeWithOpenH264(const AccessUnits& units, int width = 0, int height = 0);

} // namespace kestrune::testing
