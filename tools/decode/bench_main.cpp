// kestrune-decode-bench: helpers for bench/decode_*.sh and the tests that
// compare our concealment with libavcodec's own.
//   drop --rate R --seed S [--keep-idr | --idr-only] IN OUT
//                                      drop slice NAL units (types 1 and 5, 1 only, or 5 only) with probability R
//   reference [--ec N] -i IN -y OUT    decode with libavcodec alone (its built-in concealment N, default 3)
//   time [--ec N] [-error_concealment N] [-P_error_concealment N] -i IN [--repeat K]
//                                      seconds for ours and for libavcodec alone on the same access units
#include "tools/common/atomic_output.h"
#include "tools/common/integer_syntax.h"
#include "tools/common/tool_front_end.h"
#include "tools/decode/access_unit_reader.h"
#include "tools/decode/decoder.h"
#include "tools/decode/slice_dropper.h"

extern "C" {
#include <libavutil/log.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

using namespace kestrune::decode;

namespace {

std::vector<ReceivedPicture> readUnits(const std::string& path)
{
    AccessUnitReader reader{std::filesystem::path(path)};
    if (!reader.isOpen()) throw std::runtime_error("cannot open " + path);
    std::vector<ReceivedPicture> units;
    ReceivedPicture unit;
    while (reader.next(unit)) units.push_back(std::move(unit));
    return units;
}

int intValue(const std::string& text)
{
    auto v = kestrune::parseInteger(text);
    if (!v) throw std::runtime_error("'" + text + "' is not an integer");
    return *v;
}

int drop(const std::vector<std::string>& args)
{
    double rate = 0.1;
    unsigned seed = 1;
    SliceScope scope = SliceScope::All;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--rate" && i + 1 < args.size()) rate = std::stod(args[++i]);
        else if (args[i] == "--seed" && i + 1 < args.size()) seed = unsigned(intValue(args[++i]));
        else if (args[i] == "--keep-idr") scope = SliceScope::KeepIdr;
        else if (args[i] == "--idr-only") scope = SliceScope::IdrOnly;
        else files.push_back(args[i]);
    }
    if (files.size() != 2) throw std::runtime_error("drop needs IN and OUT");
    const DropResult result = dropSlicesFromFile(files[0], files[1], rate, seed, scope);
    std::printf("dropped %d of %d slices\n", result.dropped, result.slices);
    return 0;
}

struct DecodeArgs {
    int ec = 3;
    ConcealmentSettings ours;
    std::string input, output;
    int repeat = 1;
};

DecodeArgs decodeArgs(const std::vector<std::string>& args)
{
    DecodeArgs d;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--ec") d.ec = intValue(args[++i]);
        else if (a == "-error_concealment") d.ours.intra = IntraMethod(intValue(args[++i]));
        else if (a == "-P_error_concealment") d.ours.inter = InterMethod(intValue(args[++i]));
        else if (a == "-i") d.input = args[++i];
        else if (a == "-y") d.output = args[++i];
        else if (a == "--repeat") d.repeat = intValue(args[++i]);
    }
    if (d.input.empty()) throw std::runtime_error("-i IN is needed");
    return d;
}

int reference(const std::vector<std::string>& args)
{
    const DecodeArgs d = decodeArgs(args);
    if (d.output.empty()) throw std::runtime_error("-y OUT is needed");
    kestrune::AtomicOutput out{std::filesystem::path(d.output)};
    if (!out.ok()) throw std::runtime_error(out.error());
    ReferenceDecoder decoder(d.ec, [&](std::span<const std::uint8_t> f) { out.write(f.data(), f.size()); });
    for (const ReceivedPicture& unit : readUnits(d.input)) decoder.decode(unit);
    decoder.finish();
    if (!out.commit()) throw std::runtime_error(out.error());
    std::printf("frames: %d\n", decoder.framesWritten());
    return 0;
}

int timing(const std::vector<std::string>& args)
{
    const DecodeArgs d = decodeArgs(args);
    const std::vector<ReceivedPicture> units = readUnits(d.input);
    std::size_t sink = 0;
    auto consume = [&](std::span<const std::uint8_t> f) { sink += f[f.size() / 2]; };
    using Clock = std::chrono::steady_clock;
    double oursSeconds = 0, referenceSeconds = 0;
    for (int r = 0; r < d.repeat; ++r) {
        // Alternate the order so neither side always runs on a warm cache.
        for (int side = 0; side < 2; ++side) {
            const bool oursNow = (side == 0) == (r % 2 == 0);
            const auto start = Clock::now();
            if (oursNow) {
                ConcealingDecoder decoder(d.ours, consume);
                for (const ReceivedPicture& unit : units) decoder.decode(unit);
                decoder.finish();
                oursSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            } else {
                ReferenceDecoder decoder(d.ec, consume);
                for (const ReceivedPicture& unit : units) decoder.decode(unit);
                decoder.finish();
                referenceSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            }
        }
    }
    std::printf("ours %.4f libavcodec %.4f ratio %.3f (%zu)\n", oursSeconds, referenceSeconds,
                referenceSeconds / oursSeconds, sink % 2);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const kestrune::ToolFrontEnd tool(argv[0], "kestrune-decode-bench");
    av_log_set_level(AV_LOG_QUIET);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return tool.fail(kestrune::kExitBadArguments, "usage: kestrune-decode-bench drop|reference|time ...");
    const std::string mode = args.front();
    args.erase(args.begin());
    try {
        if (mode == "drop") return drop(args);
        if (mode == "reference") return reference(args);
        if (mode == "time") return timing(args);
    } catch (const std::exception& e) {
        return tool.fail(kestrune::kExitFailed, e.what());
    }
    return tool.fail(kestrune::kExitBadArguments, "unknown mode " + mode);
}
