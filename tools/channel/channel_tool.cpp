#include "tools/channel/channel_tool.h"

#include "tools/bitstream/access_unit.h"
#include "tools/bitstream/annexb_reader.h"
#include "tools/bitstream/nal_parser.h"
#include "tools/channel/loss_process.h"
#include "tools/common/atomic_output.h"
#include "tools/common/integer_syntax.h"
#include "tools/common/tool_front_end.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace kestrune::channel {
namespace {

std::string usage(const std::string& program)
{
    return "Usage: " + program + " STREAM PATTERN --channel CHANNEL [options]\n"
           "Sends the NAL units of the Annex B stream STREAM through a lossy packet channel and\n"
           "writes PATTERN, the loss pattern the analyzer's apply-loss mode reads: one line per\n"
           "NAL unit, 1 received, 0 lost (CR LF line ends). A NAL unit is lost when any packet\n"
           "that carries it, or a part of it, is lost.\n"
           "  --channel gilbert:RATE,BURST  two-state Gilbert model as gilbert.exe draws it: loss\n"
           "                                rate in percent, mean burst length in packets (real numbers)\n"
           "  --channel ge:P,R,K,H          Gilbert-Elliott model with netem's letters: P good->bad,\n"
           "                                R bad->good, K probability that a packet is delivered in\n"
           "                                the good state, H in the bad state (loss 1-K and 1-H;\n"
           "                                netem's command line takes P R 1-H 1-K), all in [0,1]\n"
           "  --channel trace:FILE          a loss trace: '1' received, '0' lost, any line breaks;\n"
           "                                read from the start offset and wrapped at its end\n"
           "  --offset N      start offset in the trace (default drawn from the seed)\n"
           "  --seed S        seed of the random engine, 0..4294967295; from the clock and printed when absent\n"
           "  --packets nal   one NAL unit per packet (default)\n"
           "  --packets rtp:MTU  RTP (RFC 6184, non-interleaved): NAL units up to MTU bytes of RTP packet\n"
           "                  (its 12-byte header included) go one per packet, larger ones as FU-A fragments\n"
           "  --stap-a        RTP: small NAL units of one access unit share a STAP-A packet\n"
           "  --parameter-sets in-band|out-of-band  out of band: SPS and PPS go in no packet, never lost\n"
           "  --log FILE      packet log, CSV: packet, type, nal_units (numbered from 1, blank-separated),\n"
           "                  fragment, bytes (payload plus 40 bytes of IP/UDP/RTP header), lost (1 or 0)\n"
           "Prints the channel's nominal loss rate, the realised packet loss rate, the mean and longest\n"
           "burst in packets, and the NAL-unit loss rate.\n"
           + kExitStatusHelp;
}

struct Options {
    std::string stream, pattern, log;
    ChannelSetting channel;
    bool channelGiven = false;
    std::optional<std::uint64_t> offset;
    std::optional<std::uint32_t> seed;
    Packetisation packets;
};

std::optional<std::uint64_t> parseCount(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19) {
        const auto value = parseInteger(text);
        if (!value || *value < 0) return std::nullopt;
        return static_cast<std::uint64_t>(*value);
    }
    return std::stoull(text);
}

// Empty when the arguments are good, else the reason.
std::string parseOptions(const std::vector<std::string>& args, Options& o)
{
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--stap-a") {
            o.packets.stapA = true;
            continue;
        }
        if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
            positional.push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) return a + " needs a value";
        const std::string& v = args[++i];
        std::string error;
        if (a == "--channel") {
            const auto setting = parseChannelSetting(v, error);
            if (!setting) return "--channel: " + error;
            o.channel = *setting;
            o.channelGiven = true;
        } else if (a == "--offset") {
            if (!(o.offset = parseCount(v))) return "--offset: \"" + v + "\" is not a count of packets";
        } else if (a == "--seed") {
            const auto seed = parseCount(v);
            if (!seed || *seed > 0xFFFFFFFFu) return "--seed: \"" + v + "\" is not 0..4294967295";
            o.seed = static_cast<std::uint32_t>(*seed);
        } else if (a == "--packets") {
            if (v == "nal") {
                o.packets.rtp = false;
            } else if (v.compare(0, 4, "rtp:") == 0) {
                const auto mtu = parseInteger(v.substr(4));
                if (!mtu) return "--packets: the MTU \"" + v.substr(4) + "\" is not an integer";
                o.packets.rtp = true;
                o.packets.mtu = *mtu;
            } else {
                return "--packets: \"" + v + "\" is neither nal nor rtp:MTU";
            }
        } else if (a == "--parameter-sets") {
            if (v != "in-band" && v != "out-of-band") return "--parameter-sets: \"" + v + "\" is neither in-band nor out-of-band";
            o.packets.parameterSetsOutOfBand = v == "out-of-band";
        } else if (a == "--log") {
            o.log = v;
        } else {
            return "unknown option " + a + " (--help explains)";
        }
    }
    if (positional.size() != 2)
        return "expected STREAM and PATTERN, got " + std::to_string(positional.size()) + " file name(s) (--help explains)";
    o.stream = positional[0];
    o.pattern = positional[1];
    if (!o.channelGiven) return "no --channel given (--help explains)";
    if (const std::string problem = packetisationProblem(o.packets); !problem.empty()) return "--packets: " + problem;
    if (o.packets.stapA && !o.packets.rtp) return "--stap-a needs --packets rtp:MTU";
    if (o.offset && o.channel.kind != ChannelSetting::TraceFile) return "--offset belongs to a trace channel";
    return {};
}

std::string number(double value)
{
    std::ostringstream s;
    s << std::setprecision(6) << value;
    return s.str();
}

std::string burstText(const gilbert::PatternStats& s)
{
    return number(s.meanBurstLength()) + " packets (" + std::to_string(s.bursts) + " bursts, longest "
        + std::to_string(s.longestBurst) + ")";
}

bool writeText(const std::string& path, const std::string& text, std::string& error)
{
    AtomicOutput output{std::filesystem::path(path)};
    if (output.ok() && output.write(text.data(), text.size()) && output.commit()) return true;
    error = output.error();
    return false;
}

} // namespace

std::optional<std::vector<NalInfo>> readNalUnits(const std::filesystem::path& stream, std::string& error)
{
    // Slices are read only as far as their headers go.
    h264::AnnexBReader reader(stream, 1 << 16, 256);
    if (!reader.isOpen()) {
        error = reader.error();
        return std::nullopt;
    }
    h264::NalParser parser;
    h264::AccessUnitDetector detector;
    std::vector<NalInfo> nals;
    h264::NalUnit unit;
    while (reader.next(unit)) {
        const h264::ParsedNal parsed = parser.parse(unit.bytes, unit.clipped());
        const bool starts = detector.startsAccessUnit(parsed.header, parsed.slice ? &*parsed.slice : nullptr,
                                                      parser.parameterSets());
        nals.push_back(NalInfo{unit.size, unit.bytes[0] & 31, starts});
    }
    if (!reader.error().empty()) {
        error = reader.error();
        return std::nullopt;
    }
    return nals;
}

int runChannel(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& program,
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
    Options o;
    if (const std::string problem = parseOptions(args, o); !problem.empty()) return report(kExitBadArguments, problem);
    const std::uint32_t seed = o.seed ? *o.seed : clockSeed();

    std::unique_ptr<LossProcess> process;
    std::ostringstream description;
    double nominalRate = 0;
    if (o.channel.kind == ChannelSetting::Gilbert) {
        std::string error;
        const auto model = gilbert::makeRealModel(o.channel.lossPercent, o.channel.burstLength, error);
        process = gilbertProcess(*model, seed);
        nominalRate = model->lossRate;
        description << "channel: Gilbert, loss rate " << number(o.channel.lossPercent) << "%, mean burst length "
                    << number(o.channel.burstLength) << " packets (p = " << number(model->p) << ", q = "
                    << number(model->q) << ")\n";
    } else if (o.channel.kind == ChannelSetting::Elliott) {
        const GilbertElliott& m = o.channel.elliott;
        process = elliottProcess(m, seed);
        nominalRate = m.lossRate();
        description << "channel: Gilbert-Elliott, p = " << number(m.p) << ", r = " << number(m.r) << ", k = "
                    << number(m.k) << ", h = " << number(m.h) << " (loss " << number(1 - m.k) << " in the good state, "
                    << number(1 - m.h) << " in the bad state); mean burst length " << number(m.meanBurstLength())
                    << " packets\n";
    } else {
        const std::string file = o.channel.traceFile.string();
        std::ifstream in(o.channel.traceFile, std::ios::binary);
        if (!in) return report(kExitFailed, "cannot read the trace " + file + ": " + std::strerror(errno));
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::string error;
        auto trace = parseTrace(text, error);
        if (!trace) return report(kExitBadArguments, "trace " + file + ": " + error);
        const auto stats = trace->stats();
        const std::uint64_t length = trace->lost.size();
        if (o.offset && *o.offset >= length)
            return report(kExitBadArguments, "--offset " + std::to_string(*o.offset) + " lies beyond the trace's "
                                                 + std::to_string(length) + " values");
        const std::uint64_t offset = o.offset ? *o.offset : offsetFromSeed(seed, length);
        nominalRate = stats.lossRate();
        description << "channel: trace " << file << ": " << length << " values, " << stats.lost << " lost (loss rate "
                    << number(100 * stats.lossRate()) << "%), mean burst length " << burstText(stats) << "\n"
                    << "start offset: " << offset << (o.offset ? "\n" : " (drawn from the seed)\n");
        process = traceProcess(std::move(*trace), offset);
    }

    std::string error;
    const auto nals = readNalUnits(o.stream, error);
    if (!nals) return report(kExitFailed, "cannot read the stream " + o.stream + ": " + error);
    const std::vector<Packet> packets = packetise(*nals, o.packets);

    std::vector<bool> packetLost(packets.size());
    std::vector<bool> nalLost(nals->size());
    gilbert::PatternStats packetStats;
    bool previousDelivered = true;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        packetLost[i] = process->nextLost();
        packetStats.add(!packetLost[i], previousDelivered);
        previousDelivered = !packetLost[i];
        if (packetLost[i])
            for (const std::size_t n : packets[i].nalUnits) nalLost[n] = true;
    }

    std::string pattern;
    std::uint64_t nalUnitsLost = 0, outOfBand = 0;
    for (std::size_t n = 0; n < nals->size(); ++n) {
        pattern += nalLost[n] ? "0\r\n" : "1\r\n";
        nalUnitsLost += nalLost[n];
        outOfBand += o.packets.parameterSetsOutOfBand && isParameterSet((*nals)[n].type);
    }
    if (!writeText(o.pattern, pattern, error)) return report(kExitFailed, error);
    std::uint64_t bytes = 0;
    if (!o.log.empty()) {
        std::string log = "packet,type,nal_units,fragment,bytes,lost\r\n";
        for (std::size_t i = 0; i < packets.size(); ++i) {
            const Packet& p = packets[i];
            log += std::to_string(i + 1) + ',' + packetKindName(p.kind) + ',';
            for (std::size_t k = 0; k < p.nalUnits.size(); ++k) log += (k ? " " : "") + std::to_string(p.nalUnits[k] + 1);
            log += ',' + (p.kind == Packet::FuA ? std::to_string(p.fragment) + '/' + std::to_string(p.fragments) : "");
            log += ',' + std::to_string(p.bytesWithHeaders()) + ',' + (packetLost[i] ? "1" : "0") + "\r\n";
        }
        if (!writeText(o.log, log, error)) return report(kExitFailed, error);
    }
    for (const Packet& p : packets) bytes += p.bytesWithHeaders();

    out << description.str();
    out << "nominal loss rate: " << number(100 * nominalRate) << "%\n";
    out << "seed: " << seed << (o.seed ? "\n" : " (from the clock; give it as --seed to repeat this run)\n");
    out << "packets: " << packets.size() << " ("
        << (o.packets.rtp ? "RTP, MTU " + std::to_string(o.packets.mtu) + (o.packets.stapA ? ", STAP-A" : "")
                          : std::string("one NAL unit per packet"))
        << "), " << bytes << " bytes with 40 bytes of IP/UDP/RTP header each\n";
    if (outOfBand) out << "parameter sets out of band (never lost): " << outOfBand << " NAL units\n";
    out << "realised packet loss rate: " << number(100 * packetStats.lossRate()) << "% (" << packetStats.lost
        << " of " << packetStats.count << " packets lost)\n";
    out << "realised mean burst length: " << burstText(packetStats) << "\n";
    const double nalRate = nals->empty() ? 0 : 100.0 * static_cast<double>(nalUnitsLost) / static_cast<double>(nals->size());
    out << "realised NAL unit loss rate: " << number(nalRate) << "% (" << nalUnitsLost << " of " << nals->size()
        << " NAL units lost)\n";
    out << "wrote " << o.pattern << (o.log.empty() ? "" : " and " + o.log) << "\n";
    return kExitDone;
}

} // namespace kestrune::channel
