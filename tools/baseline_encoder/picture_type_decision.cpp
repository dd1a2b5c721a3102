#include "tools/baseline_encoder/picture_type_decision.h"

#include <algorithm>

namespace kestrune::codec {

int effectiveMinKeyint(const EncoderSettings& s)
{
    int minimum = s.minKeyint;
    if (minimum <= 0) minimum = s.keyint > 0 ? std::min(std::max(1, s.keyint / 10), s.fps) : s.fps;
    if (s.keyint > 0) minimum = std::min(minimum, s.keyint / 2 + 1);
    return std::max(1, minimum);
}

bool isSceneChange(const PictureCost& cost, int scenecut)
{
    if (scenecut <= 0) return false;
    const double threshold = std::max(0.0, 1.0 - scenecut / 100.0);
    // Nearly flat pictures (fades to black) do not count: their costs are noise.
    return cost.intra > 1.0 && cost.inter > threshold * cost.intra;
}

PictureTypeDecision::PictureTypeDecision(const EncoderSettings& settings)
    : keyint_(settings.keyint), minKeyint_(effectiveMinKeyint(settings)), scenecut_(settings.scenecut)
{
}

PictureType PictureTypeDecision::next(const PictureCost& cost)
{
    if (sinceIdr_ < 0 || (keyint_ > 0 && sinceIdr_ + 1 >= keyint_)) {
        sinceIdr_ = 0;
        return PictureType::Idr;
    }
    ++sinceIdr_;
    if (isSceneChange(cost, scenecut_)) {
        ++scenes_;
        if (sinceIdr_ >= minKeyint_) {
            sinceIdr_ = 0;
            return PictureType::Idr;
        }
        return PictureType::Intra;
    }
    return PictureType::Predicted;
}

} // namespace kestrune::codec
