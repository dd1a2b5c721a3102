#pragma once
// The bitstream tests' variety of real streams: the shared libx264 generator
// (tests/support/x264_stream.h) with these defaults - B pictures, several
// slices and CABAC under the High profile, or CAVLC under Baseline.
#include "tests/support/x264_stream.h"

#include <cstdint>
#include <vector>

namespace kestrune::h264::testing {

struct EncodeOptions {
    int width = 176;
    int height = 144;
    int frames = 12;
    int bframes = 2;
    int slices = 3;
    bool cabac = true;  // false: the Baseline profile, which drops the B pictures
    bool interlaced = false;
    bool aud = false;
    int keyint = 6;
    bool hrd = false;  // NAL HRD parameters, buffering period and picture timing SEI
};

struct EncodedStream {
    std::vector<std::uint8_t> bytes;  // Annex B, 4-byte start codes
    int frames = 0;                   // pictures written
    int nalUnits = 0;
};

inline EncodedStream encodeTestStream(const EncodeOptions& o = {})
{
    kestrune::testing::X264StreamOptions options;
    options.width = o.width;
    options.height = o.height;
    options.frames = o.frames;
    options.bframes = o.bframes;
    options.slices = o.slices;
    options.cabac = o.cabac;
    options.interlaced = o.interlaced;
    options.aud = o.aud;
    options.keyint = o.keyint;
    options.hrd = o.hrd;
    options.profile = o.cabac ? "high" : "baseline";
    const kestrune::testing::X264Stream stream = kestrune::testing::encodeX264Stream(options);
    return {stream.bytes(), int(stream.pictures.size()), stream.nalUnits()};
}

} // namespace kestrune::h264::testing
