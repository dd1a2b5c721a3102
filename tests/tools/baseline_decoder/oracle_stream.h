#pragma once
// Streams for the decoder's oracle tests: libx264 Baseline encodes of the
// generated sample sequence, and libavcodec's decode of any stream.
#include <cstdint>
#include <span>
#include <vector>

namespace kestrune::codec::testing {

struct BaselineEncodeSettings {
    int width = 176;
    int height = 144;
    int frames = 20;
    int qp = 26;
    int slices = 1;
    int refs = 1;
    int me = 1;             // X264_ME_DIA 0, HEX 1, UMH 2, ESA 3
    bool partitions = true; // --partitions all (i4x4, p8x8, p4x4); false: none
    int keyint = 250;
    bool deblock = true;
    int deblockAlpha = 0;
    int deblockBeta = 0;
    bool constrainedIntra = false;
    int firstFrame = 0;     // of the sample sequence
};

std::vector<std::uint8_t> encodeBaseline(const BaselineEncodeSettings& settings);

// libavcodec (one thread) over a whole Annex B stream: every output frame,
// cropped, planar Y U V, back to back.
std::vector<std::uint8_t> decodeWithLibavcodec(std::span<const std::uint8_t> stream);

// OpenH264's decoder (slice group map types 0 and 1), one access unit at a
// time through DecodeFrameNoDelay with slice-copy concealment, as the only
// way it hands out P pictures of such streams: every frame, planar Y U V.
std::vector<std::uint8_t> decodeWithOpenH264(const std::vector<std::vector<std::uint8_t>>& accessUnits);

} // namespace kestrune::codec::testing
