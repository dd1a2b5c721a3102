#pragma once
// The quantiser of each picture.
// - ConstantQp: P pictures at the QP, I pictures 3 lower.
// - ConstantQuality (--crf N): P pictures at N, moved by the picture's
//   motion-compensated difference against that of the pictures before it:
//   +1 for each doubling (at most +3, since fast motion hides detail), -1 for
//   each halving (at most -2); I pictures 3 below N.
// - Bitrate: a model bits = k * (cost + 1) * 2^(-QP/6) per picture type, k
//   learnt from every coded picture, aimed at the bits that keep the whole
//   sequence on the target (the deficit spread over about one second).
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/baseline_encoder/picture_analysis.h"

#include <cstdint>

namespace kestrune::codec {

class RateControl {
public:
    RateControl(const EncoderSettings& settings, long lumaSamples);
    int pictureQp(bool intra, const PictureCost& cost);
    void pictureDone(bool intra, int qp, const PictureCost& cost, std::int64_t bits);

private:
    double pictureCost(bool intra, const PictureCost& cost) const;

    EncoderSettings settings_;
    long samples_;
    double bitsPerPicture_ = 0;
    double k_[2];           // model constants: [0] P, [1] I
    bool learnt_[2] = {false, false};
    double averageInter_ = -1;
    std::int64_t spent_ = 0;
    std::int64_t pictures_ = 0;
    int lastQp_[2] = {-1, -1};
};

} // namespace kestrune::codec
