#include "tools/gilbert/gilbert_tool.h"

#include "tools/common/atomic_output.h"
#include "tools/common/integer_syntax.h"
#include "tools/common/tool_front_end.h"
#include "tools/gilbert/gilbert_model.h"

#include <chrono>
#include <iomanip>
#include <ostream>
#include <unistd.h>

namespace kestrune::gilbert {
namespace {

std::string usage(const std::string& program)
{
    return "Usage: " + program + " LOSS BURST COUNT FILE [SEED]\n"
           "Draws a loss pattern from a two-state Gilbert model and writes COUNT lines to FILE:\n"
           "1 for a delivered packet, 0 for a lost one (CR LF line ends).\n"
           "  LOSS   loss rate in percent, 0..100\n"
           "  BURST  mean length of a loss burst, at least 1; LOSS may not exceed 100*BURST/(BURST+1)\n"
           "         (except 100, which loses everything)\n"
           "  COUNT  number of packets, 0 or more\n"
           "  SEED   seed of the random engine; taken from the clock and printed when absent\n"
           + kExitStatusHelp;
}

} // namespace

std::uint32_t seedFromClock()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    const auto mixed = static_cast<std::uint64_t>(now) ^ (static_cast<std::uint64_t>(::getpid()) << 20);
    return static_cast<std::uint32_t>((mixed ^ (mixed >> 31)) & 0x7FFFFFFF);
}

int runGilbert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& program,
               const std::function<std::uint32_t()>& clockSeed)
{
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        out << usage(program);
        return kExitDone;
    }
    auto report = [&](int status, const std::string& message) {
        err << program << ": " << message << "\n";
        return status;
    };
    auto fail = [&](const std::string& message) { return report(kExitBadArguments, message); };
    if (args.size() < 4 || args.size() > 5)
        return fail("expected LOSS BURST COUNT FILE [SEED], got " + std::to_string(args.size()) + " argument(s) (--help explains)");
    const char* const names[] = {"loss rate", "mean burst length", "count", "", "seed"};
    std::int32_t values[5] = {};
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i == 3) continue;
        const auto value = parseInteger(args[i]);
        if (!value) return fail(std::string("the ") + names[i] + " \"" + args[i] + "\" is not an integer");
        values[i] = *value;
    }
    std::string error;
    const auto model = makeModel(values[0], values[1], error);
    if (!model) return fail(error);
    if (values[2] < 0) return fail("the count must be 0 or more, not " + args[2]);
    const std::string& file = args[3];
    const std::uint32_t seed = args.size() == 5 ? static_cast<std::uint32_t>(values[4]) : clockSeed();

    AtomicOutput output{std::filesystem::path(file)};
    if (!output.ok()) return report(kExitFailed, output.error());
    GilbertChannel channel(*model, seed);
    PatternStats stats;
    bool previous = true;
    std::string buffer;
    bool written = true;
    for (std::int32_t i = 0; i < values[2] && written; ++i) {
        const bool delivered = channel.nextDelivered();
        stats.add(delivered, previous);
        previous = delivered;
        buffer += delivered ? "1\r\n" : "0\r\n";
        if (buffer.size() >= 1 << 16) {
            written = output.write(buffer.data(), buffer.size());
            buffer.clear();
        }
    }
    if (!written || !output.write(buffer.data(), buffer.size()) || !output.commit()) return report(kExitFailed, output.error());

    out << std::setprecision(6);
    out << "Gilbert model: loss rate " << model->lossPercent << "%, mean burst length " << model->burstLength << "\n";
    out << "p (good to bad) = " << model->p << ", q (bad to good) = " << model->q << "\n";
    out << "seed: " << seed << (args.size() == 5 ? "\n" : " (from the clock; give it as SEED to repeat this run)\n");
    out << "Wrote " << stats.count << " values to " << file << ": " << stats.lost << " lost";
    if (stats.count) out << " (realised loss rate " << 100.0 * stats.lossRate() << "%)";
    out << ", " << stats.bursts << " bursts";
    if (stats.bursts) out << ", realised mean burst length " << stats.meanBurstLength();
    out << "\n";
    return kExitDone;
}

} // namespace kestrune::gilbert
