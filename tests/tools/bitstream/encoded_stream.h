#pragma once
// Real H.264 streams for tests, encoded with libx264 from a generated moving
// picture.
#include <cstdint>
#include <vector>

namespace kestrune::h264::testing {

struct EncodeOptions {
    int width = 176;
    int height = 144;
    int frames = 12;
    int bframes = 2;
    int slices = 3;
    bool cabac = true;
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

EncodedStream encodeTestStream(const EncodeOptions& options = {});

} // namespace kestrune::h264::testing
