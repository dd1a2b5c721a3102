#include "tools/gilbert/gilbert_model.h"

#include <algorithm>
#include <sstream>

namespace kestrune::gilbert {

std::optional<GilbertModel> makeModel(int lossPercent, int burstLength, std::string& error)
{
    // p <= 1 needs P <= L / (L + 1); compared in integers, the message names a whole percentage.
    const long long L = burstLength;
    if (burstLength >= 1 && lossPercent >= 0 && lossPercent < 100
        && static_cast<long long>(lossPercent) * (L + 1) > 100 * L) {
        const long long largest = 100 * L / (L + 1);
        error = "a loss rate of " + std::to_string(lossPercent) + "% is impossible with a mean burst length of "
            + std::to_string(burstLength) + ": the largest is " + std::to_string(largest) + "%";
        return std::nullopt;
    }
    auto m = makeRealModel(lossPercent, burstLength, error);
    if (m) {
        m->lossPercent = lossPercent;
        m->burstLength = burstLength;
    }
    return m;
}

std::optional<GilbertModel> makeRealModel(double lossPercent, double burstLength, std::string& error)
{
    auto text = [](double v) {
        std::ostringstream s;
        s << v;
        return s.str();
    };
    if (!(burstLength >= 1)) {
        error = "the mean burst length must be at least 1, not " + text(burstLength);
        return std::nullopt;
    }
    if (!(lossPercent >= 0 && lossPercent <= 100)) {
        error = "the loss rate must be 0 to 100 percent, not " + text(lossPercent);
        return std::nullopt;
    }
    GilbertModel m;
    m.lossRate = lossPercent / 100.0;
    if (lossPercent == 100) {
        m.p = 1;
        m.q = 0;
        return m;
    }
    m.q = 1.0 / burstLength;
    m.p = m.lossRate / (burstLength * (1.0 - m.lossRate));
    if (m.p > 1 + 1e-12) {
        error = "a loss rate of " + text(lossPercent) + "% is impossible with a mean burst length of "
            + text(burstLength) + ": the largest is " + text(100 * burstLength / (burstLength + 1)) + "%";
        return std::nullopt;
    }
    m.p = std::min(m.p, 1.0);
    return m;
}

GilbertChannel::GilbertChannel(const GilbertModel& model, std::uint32_t seed) : model_(model), engine_(seed) {}

bool GilbertChannel::nextDelivered()
{
    if (!started_) {
        started_ = true;
        bad_ = draw() < model_.lossRate;
    } else if (bad_) {
        bad_ = !(draw() < model_.q);
    } else {
        bad_ = draw() < model_.p;
    }
    return !bad_;
}

void PatternStats::add(bool delivered, bool previousDelivered)
{
    const bool first = count == 0;
    ++count;
    if (delivered) return;
    ++lost;
    if (first || previousDelivered) {
        ++bursts;
        currentBurst = 0;
    }
    longestBurst = std::max(longestBurst, ++currentBurst);
}

} // namespace kestrune::gilbert
