#include "tools/baseline_encoder/rate_control.h"

#include <algorithm>
#include <cmath>

namespace kestrune::codec {
namespace {

int clampQp(double qp, int low = 0, int high = 51)
{
    return std::clamp(static_cast<int>(std::lround(qp)), low, high);
}

} // namespace

RateControl::RateControl(const EncoderSettings& settings, long lumaSamples) : settings_(settings), samples_(lumaSamples)
{
    bitsPerPicture_ = settings.fps > 0 ? settings.bitrateKbps * 1000.0 / settings.fps : 0.0;
    // Starting guesses (bits per sample at QP 0 per unit of cost), refined by each picture.
    k_[0] = 0.25 * std::pow(2.0, 26 / 6.0);
    k_[1] = 0.25 * std::pow(2.0, 26 / 6.0);
}

double RateControl::pictureCost(bool intra, const PictureCost& cost) const
{
    return (intra ? cost.intra : cost.inter) + 1.0;
}

int RateControl::pictureQp(bool intra, const PictureCost& cost)
{
    switch (settings_.rateMode) {
    case RateMode::ConstantQp: return intra ? std::max(0, settings_.qp - 3) : settings_.qp;
    case RateMode::ConstantQuality: {
        if (intra) return std::max(0, settings_.quality - 3);
        if (averageInter_ <= 0) return settings_.quality;
        const double doublings = std::log2((cost.inter + 0.5) / (averageInter_ + 0.5));
        return clampQp(settings_.quality + std::clamp(std::round(doublings), -2.0, 3.0));
    }
    case RateMode::Bitrate: break;
    }
    const int type = intra ? 1 : 0;
    // Bits still owed to the target (or overspent), spread over about a second.
    const double expected = bitsPerPicture_ * static_cast<double>(pictures_);
    const double horizon = std::max(1, settings_.fps);
    double target = bitsPerPicture_ + (expected - static_cast<double>(spent_)) / horizon;
    // Within a sequence an I picture sits 3 below the P pictures around it,
    // like the constant-QP rule; only the first one is aimed from the model.
    if (intra && lastQp_[0] >= 0) return std::clamp(lastQp_[0] - 3, 1, 51);
    if (intra) target *= 4;
    target = std::max(target, bitsPerPicture_ * 0.1);
    const double model = k_[learnt_[type] ? type : 0] * pictureCost(intra, cost) * static_cast<double>(samples_);
    int qp = clampQp(6.0 * std::log2(model / target), 1, 51);
    // P pictures move gently so quality does not flicker.
    if (!intra && lastQp_[0] >= 0) qp = std::clamp(qp, lastQp_[0] - 3, lastQp_[0] + 3);
    return qp;
}

void RateControl::pictureDone(bool intra, int qp, const PictureCost& cost, std::int64_t bits)
{
    const int type = intra ? 1 : 0;
    const double measured = static_cast<double>(bits) * std::pow(2.0, qp / 6.0)
                            / (pictureCost(intra, cost) * static_cast<double>(samples_));
    // The newest picture weighs most; the first one replaces the guess.
    k_[type] = learnt_[type] ? 0.6 * k_[type] + 0.4 * measured : measured;
    learnt_[type] = true;
    if (!intra) averageInter_ = averageInter_ < 0 ? cost.inter : 0.9 * averageInter_ + 0.1 * cost.inter;
    spent_ += bits;
    ++pictures_;
    lastQp_[type] = qp;
}

} // namespace kestrune::codec
