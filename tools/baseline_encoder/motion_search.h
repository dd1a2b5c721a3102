#pragma once
// Motion estimation for one partition in one reference picture: an integer
// search of the chosen pattern (small diamond; hexagon; uneven
// multi-hexagon), then half- and quarter-sample refinement through the
// core's interpolation. Cost = distortion + lambda * bits of the vector
// difference; with chroma the refinement adds the chroma distortion.
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/codec/macroblock_state.h"
#include "tools/codec/picture.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kestrune::codec {

// A reconstructed reference picture prepared for the search: its luma
// extended by edge replication and its three half-sample planes (the
// six-tap filter of clause 8.4.2.2.1 with clamped coordinates, so they equal
// the core's interpolation), computed once per picture instead of once per
// candidate vector.
class SearchReference {
public:
    SearchReference(const Picture& picture, int pad);
    const Picture& picture() const { return *picture_; }
    int pad() const { return pad_; }
    // Luma sample (x, y), -pad <= x < width + pad (same for y).
    const std::uint8_t* luma(int x, int y) const { return plane(0, x, y); }
    int stride() const { return stride_; }
    // Plane 0 full samples G, 1 the half sample b right of (x, y), 2 the half
    // sample h below it, 3 the centre j; same coordinates and stride.
    const std::uint8_t* plane(int which, int x, int y) const
    {
        return planes_[which].data() + static_cast<std::ptrdiff_t>(y + pad_) * stride_ + x + pad_;
    }
    // The w x h luma prediction of the block at (x, y) displaced by mv
    // (quarter samples, inside the extended area) into dst.
    void predict(int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst, int dstStride) const;
    // The same prediction without a copy where it lies in one plane: returns
    // where it is (and its stride), else fills buffer (stride 16) and returns it.
    const std::uint8_t* prediction(int x, int y, MotionVector mv, int w, int h, std::uint8_t* buffer, int& stride) const;

private:
    const Picture* picture_;
    int pad_;
    int stride_;
    std::vector<std::uint8_t> planes_[4];
};

struct SearchParams {
    SearchPattern pattern = SearchPattern::Hexagon;
    int range = 16;  // integer samples around the start
    double lambda = 1.0;
    bool chroma = true;
};

// The partition being searched: its place in the source picture.
struct SearchBlock {
    const Picture* source;
    int x, y, w, h;  // luma samples
};

struct SearchResult {
    MotionVector mv;
    int cost = 0;  // distortion + lambda * vector bits (reference index bits not included)
};

// mvp: the predicted vector (costs are of mv - mvp); starts: further
// integer start candidates (quarter-sample vectors, rounded).
SearchResult searchMotion(const SearchBlock& block, const SearchReference& ref, MotionVector mvp,
                          std::span<const MotionVector> starts, const SearchParams& params);

// Bits of the vector difference mv - mvp as se(v) codes.
int mvdBits(MotionVector mv, MotionVector mvp);

} // namespace kestrune::codec
