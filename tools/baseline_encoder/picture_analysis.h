#pragma once
// A cheap look at each input picture before it is coded, at half
// resolution: how costly it would be to code from itself (intra) and from
// the previous input picture (inter). The scene-change test and rate
// control read these; nothing here depends on the coding decisions.
#include <cstdint>
#include <span>

namespace kestrune::codec {

struct PictureCost {
    double intra = 0;  // mean absolute deviation of 8x8 blocks from their mean, per half-resolution sample
    double inter = 0;  // mean absolute difference after a small block search in the previous picture
};

// luma planes of width x height samples, rows back to back; previous may be
// empty (first picture: inter = intra).
PictureCost analysePicture(std::span<const std::uint8_t> luma, std::span<const std::uint8_t> previous, int width,
                           int height);

} // namespace kestrune::codec
