#pragma once
// Streams for decoder tests, made with the shared libx264 generator from the
// generated sample sequence, with the slice of every macroblock known, and
// seeded damage.
#include "tests/support/x264_stream.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrune::decode::test {

using TestNal = kestrune::testing::X264Nal;
using TestPicture = kestrune::testing::X264Picture;
using TestStream = kestrune::testing::X264Stream;

enum class Content {
    Sample, // the generated sample sequence: busy textures under motion
    Smooth, // slowly varying waves moving diagonally, where interpolation should shine
};

// IPPP at a constant QP, `slices` slices per picture, an IDR every `keyint` pictures;
// with baseline, in the Baseline profile (CAVLC, no 8x8 transform).
TestStream encodeTestStream(int frames, int slices, int keyint, Content content = Content::Sample, int width = 176,
                            int height = 144, bool baseline = false);

struct DamagedStream {
    std::vector<std::uint8_t> bytes;
    std::vector<std::vector<bool>> lostMbs; // per coded picture, per macroblock
    std::vector<bool> pictureGone;          // every slice of the picture dropped
};

// Drops the NAL units for which drop(picture index, nal) is true.
DamagedStream damage(const TestStream& stream, const std::function<bool(int, const TestNal&)>& drop);
// Drops each slice with probability rate (seeded), nothing else.
DamagedStream dropSlicesAtRandom(const TestStream& stream, double rate, unsigned seed);

} // namespace kestrune::decode::test
