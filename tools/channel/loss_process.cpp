#include "tools/channel/loss_process.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

namespace kestrune::channel {

double GilbertElliott::lossRate() const
{
    const double bad = badShare();
    return (1 - bad) * (1 - k) + bad * (1 - h);
}

double GilbertElliott::meanBurstLength() const
{
    // Bursts begin where a delivered packet is followed by a lost one; the
    // loss of packet n is drawn in its state, then the state moves on.
    const double bad = badShare(), lossGood = 1 - k, lossBad = 1 - h;
    const double startsFromGood = (1 - bad) * k * ((1 - p) * lossGood + p * lossBad);
    const double startsFromBad = bad * h * (r * lossGood + (1 - r) * lossBad);
    const double starts = startsFromGood + startsFromBad;
    if (starts > 0) return lossRate() / starts;
    return lossRate() > 0 ? std::numeric_limits<double>::infinity() : 0;
}

gilbert::PatternStats Trace::stats() const
{
    gilbert::PatternStats s;
    bool previousDelivered = true;
    for (const bool l : lost) {
        s.add(!l, previousDelivered);
        previousDelivered = !l;
    }
    return s;
}

std::optional<Trace> parseTrace(std::string_view text, std::string& error)
{
    Trace trace;
    std::size_t line = 1, column = 0;
    for (const char c : text) {
        ++column;
        if (c == '0' || c == '1') {
            trace.lost.push_back(c == '0');
        } else if (c == '\n') {
            ++line;
            column = 0;
        } else if (c != '\r') {
            const auto byte = static_cast<unsigned char>(c);
            char shown[16];
            std::snprintf(shown, sizeof shown, byte >= 0x21 && byte < 0x7F ? "'%c'" : "byte 0x%02X", byte);
            error = "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + shown
                + " is neither 0 (lost) nor 1 (received)";
            return std::nullopt;
        }
    }
    if (trace.lost.empty()) {
        error = "the trace holds no value (0 or 1)";
        return std::nullopt;
    }
    return trace;
}

std::optional<double> parseReal(std::string_view text)
{
    const std::string s(text);
    if (s.empty() || s.front() == ' ') return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

namespace {

std::vector<std::string_view> splitCommas(std::string_view text)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) return parts;
        start = comma + 1;
    }
}

// The numbers after a channel's name, exactly `count` of them.
bool parseNumbers(std::string_view text, const char* const* names, std::size_t count, double* values, std::string& error)
{
    const auto parts = splitCommas(text);
    if (parts.size() != count) {
        error = "expected " + std::to_string(count) + " numbers separated by commas, got \"" + std::string(text) + "\"";
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = parseReal(parts[i]);
        if (!value) {
            error = std::string(names[i]) + " \"" + std::string(parts[i]) + "\" is not a number";
            return false;
        }
        values[i] = *value;
    }
    return true;
}

class GilbertProcess : public LossProcess {
public:
    GilbertProcess(const gilbert::GilbertModel& model, std::uint32_t seed) : channel_(model, seed) {}
    bool nextLost() override { return !channel_.nextDelivered(); }

private:
    gilbert::GilbertChannel channel_;
};

class ElliottProcess : public LossProcess {
public:
    ElliottProcess(const GilbertElliott& model, std::uint32_t seed) : model_(model), engine_(seed)
    {
        bad_ = draw() < model_.badShare();
    }
    bool nextLost() override
    {
        const bool lost = draw() < (bad_ ? 1 - model_.h : 1 - model_.k);
        bad_ = bad_ ? !(draw() < model_.r) : draw() < model_.p;
        return lost;
    }

private:
    double draw() { return gilbert::toUnitInterval(engine_()); }
    GilbertElliott model_;
    std::mt19937_64 engine_;
    bool bad_ = false;
};

class TraceProcess : public LossProcess {
public:
    TraceProcess(Trace trace, std::uint64_t offset) : trace_(std::move(trace)), next_(offset % trace_.lost.size()) {}
    bool nextLost() override
    {
        const bool lost = trace_.lost[next_];
        if (++next_ == trace_.lost.size()) next_ = 0;
        return lost;
    }

private:
    Trace trace_;
    std::size_t next_;
};

} // namespace

std::optional<ChannelSetting> parseChannelSetting(std::string_view text, std::string& error)
{
    ChannelSetting setting;
    const std::size_t colon = text.find(':');
    const std::string_view kind = text.substr(0, colon);
    const std::string_view rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    if (kind == "trace" && !rest.empty()) {
        setting.kind = ChannelSetting::TraceFile;
        setting.traceFile = std::string(rest);
        return setting;
    }
    if (kind == "gilbert") {
        static const char* const names[] = {"the loss rate", "the mean burst length"};
        double values[2];
        if (!parseNumbers(rest, names, 2, values, error)) return std::nullopt;
        const auto model = gilbert::makeRealModel(values[0], values[1], error);
        if (!model) return std::nullopt;
        setting.lossPercent = values[0];
        setting.burstLength = values[1];
        return setting;
    }
    if (kind == "ge") {
        static const char* const names[] = {"p", "r", "k", "h"};
        double values[4];
        if (!parseNumbers(rest, names, 4, values, error)) return std::nullopt;
        for (int i = 0; i < 4; ++i)
            if (!(values[i] >= 0 && values[i] <= 1)) {
                error = std::string("the Gilbert-Elliott parameter ") + names[i] + " must lie in [0,1], not "
                    + std::string(splitCommas(rest)[i]);
                return std::nullopt;
            }
        setting.kind = ChannelSetting::Elliott;
        setting.elliott = {values[0], values[1], values[2], values[3]};
        return setting;
    }
    error = "\"" + std::string(text) + "\" is not gilbert:RATE,BURST, ge:P,R,K,H or trace:FILE";
    return std::nullopt;
}

std::unique_ptr<LossProcess> gilbertProcess(const gilbert::GilbertModel& model, std::uint32_t seed)
{
    return std::make_unique<GilbertProcess>(model, seed);
}

std::unique_ptr<LossProcess> elliottProcess(const GilbertElliott& model, std::uint32_t seed)
{
    return std::make_unique<ElliottProcess>(model, seed);
}

std::unique_ptr<LossProcess> traceProcess(Trace trace, std::uint64_t offset)
{
    return std::make_unique<TraceProcess>(std::move(trace), offset);
}

std::uint64_t offsetFromSeed(std::uint32_t seed, std::uint64_t length)
{
    std::mt19937_64 engine(seed);
    const auto offset = static_cast<std::uint64_t>(gilbert::toUnitInterval(engine()) * static_cast<double>(length));
    return offset < length ? offset : 0;
}

} // namespace kestrune::channel
