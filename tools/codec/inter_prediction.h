#pragma once
// Fractional sample interpolation (clause 8.4.2.2): luma six-tap half
// samples and bilinear quarter samples, chroma eighth-sample bilinear, with
// reference sample coordinates clamped to the picture (so vectors may point
// anywhere outside it). Blocks are up to 16x16 luma / 8x8 chroma.
#include <cstdint>

#include "tools/codec/macroblock_state.h"
#include "tools/codec/picture.h"

namespace kestrune::codec {

// Predicts a w x h luma block (w, h in {4, 8, 16}) whose top-left sample is
// (x, y) in the current picture, displaced by mv (quarter samples) into ref.
void predictLuma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h,
                 std::uint8_t* dst, int dstStride);
// Predicts a w x h chroma block (w, h in {2, 4, 8}) at chroma sample (x, y),
// displaced by the luma vector mv read as eighth chroma samples (frames).
void predictChroma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h,
                   std::uint8_t* dst, int dstStride);

// One inter partition in all three planes: the luma rectangle at (x, y)
// of size w x h inside the picture (multiples of 4) predicted from ref into
// the same rectangle of dst (and the half-size chroma rectangles).
void predictPartition(const Picture& ref, int x, int y, int w, int h, MotionVector mv, Picture& dst);

} // namespace kestrune::codec
