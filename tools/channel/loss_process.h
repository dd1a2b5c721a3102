#pragma once
// The loss processes of kestrune-channel, one decision per packet:
// - Gilbert: the two-state model of gilbert.exe, with real-number rate and burst;
// - Gilbert-Elliott with the letters of netem's gemodel and of Elliott's
//   model: p (good -> bad), r (bad -> good), k the probability that a packet
//   is delivered in the good state, h in the bad state; so 1 - k and 1 - h
//   are the loss probabilities (netem's command line takes p r 1-h 1-k);
// - a trace of '1' (received) and '0' (lost), read from a start offset and
//   wrapped at its end.
#include "tools/gilbert/gilbert_model.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::channel {

struct GilbertElliott {
    double p = 0, r = 1, k = 1, h = 0;
    double badShare() const { return p + r > 0 ? p / (p + r) : 0; }
    // Stationary loss rate, and mean length of the runs of lost packets
    // (0 when nothing is lost, infinity when everything is).
    double lossRate() const;
    double meanBurstLength() const;
};

struct Trace {
    std::vector<bool> lost;  // one value per packet
    gilbert::PatternStats stats() const;
};

// The trace in a text: '0' and '1' with any line breaks (CR, LF); anything
// else, or no value at all, is refused with the place of the fault.
std::optional<Trace> parseTrace(std::string_view text, std::string& error);

struct ChannelSetting {
    enum Kind { Gilbert, Elliott, TraceFile } kind = Gilbert;
    double lossPercent = 0, burstLength = 1;  // Gilbert
    GilbertElliott elliott;
    std::filesystem::path traceFile;
};
// "gilbert:RATE,BURST" (percent, packets), "ge:P,R,K,H" (probabilities) or
// "trace:FILE"; real numbers throughout.
std::optional<ChannelSetting> parseChannelSetting(std::string_view text, std::string& error);
// A real number and nothing else ("0.5", "1e-3"); nullopt for anything else.
std::optional<double> parseReal(std::string_view text);

class LossProcess {
public:
    virtual ~LossProcess() = default;
    virtual bool nextLost() = 0;
};

std::unique_ptr<LossProcess> gilbertProcess(const gilbert::GilbertModel& model, std::uint32_t seed);
// The first packet's state is drawn from the stationary distribution.
std::unique_ptr<LossProcess> elliottProcess(const GilbertElliott& model, std::uint32_t seed);
std::unique_ptr<LossProcess> traceProcess(Trace trace, std::uint64_t offset);
// A start offset in 0..length-1 drawn from the seed.
std::uint64_t offsetFromSeed(std::uint32_t seed, std::uint64_t length);

} // namespace kestrune::channel
