#pragma once
// Two-state Gilbert burst-loss model: the bad state loses every packet, the
// good state none. With loss rate P and mean burst length L the transition
// probabilities are q = 1/L (bad -> good) and p = P / (L (1 - P))
// (good -> bad), so that the stationary loss rate is P.
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kestrune::gilbert {

struct GilbertModel {
    int lossPercent = 0;
    int burstLength = 1;
    double lossRate = 0;  // P
    double p = 0;         // good -> bad
    double q = 1;         // bad -> good
};

// Checks the parameters; nullopt with a user-readable reason when refused.
// P = 100 is allowed for every L: the channel then loses everything.
std::optional<GilbertModel> makeModel(int lossPercent, int burstLength, std::string& error);
// The same for real numbers (0.5 %, burst 1.5); lossPercent and burstLength
// of the result are left unset, the probabilities are what counts.
std::optional<GilbertModel> makeRealModel(double lossPercent, double burstLength, std::string& error);

// The engine's raw 64-bit output mapped to [0, 1) with 53 random bits, so a
// seed gives the same pattern whatever the standard library.
inline double toUnitInterval(std::uint64_t raw) { return static_cast<double>(raw >> 11) * 0x1.0p-53; }

class GilbertChannel {
public:
    GilbertChannel(const GilbertModel& model, std::uint32_t seed);
    // True when the next packet is delivered. The first packet's state is
    // drawn from the stationary distribution (bad with probability P).
    bool nextDelivered();

private:
    double draw() { return toUnitInterval(engine_()); }

    GilbertModel model_;
    std::mt19937_64 engine_;
    bool started_ = false;
    bool bad_ = false;
};

struct PatternStats {
    std::uint64_t count = 0;
    std::uint64_t lost = 0;
    std::uint64_t bursts = 0;  // runs of consecutive losses
    std::uint64_t longestBurst = 0;
    std::uint64_t currentBurst = 0;
    double lossRate() const { return count ? static_cast<double>(lost) / static_cast<double>(count) : 0; }
    double meanBurstLength() const { return bursts ? static_cast<double>(lost) / static_cast<double>(bursts) : 0; }
    void add(bool delivered, bool previousDelivered);
};

} // namespace kestrune::gilbert
