// Harness of bench/baseline_decoder_speed.sh.
//   baseline_decoder_harness encode W H FRAMES OUT.264   libx264 Baseline (3 refs, partitions all, QP 26)
//   baseline_decoder_harness ours|libavcodec IN.264       decodes, then prints
//       "frames F cpu SECONDS maxrss KB" (one thread; the decode alone is timed).
// Both hand each frame out packed and cropped and keep none of them.
#include "tests/tools/baseline_decoder/oracle_stream.h"
#include "tools/baseline_decoder/baseline_decoder.h"
#include "tools/decode/access_unit_reader.h"
#include "tools/decode/baseline_path.h"
#include "tools/decode/decoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>

using namespace kestrune;
using namespace kestrune::codec;

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 6 && std::strcmp(argv[1], "encode") == 0) {
        auto s = codec::testing::baselineOracleOptions();
        s.width = std::atoi(argv[2]);
        s.height = std::atoi(argv[3]);
        s.frames = std::atoi(argv[4]);
        s.refs = 3;
        s.keyint = 100;
        const auto stream = kestrune::testing::encodeX264Stream(s).bytes();
        std::ofstream(argv[5], std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                       static_cast<std::streamsize>(stream.size()));
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s encode W H FRAMES OUT | ours|libavcodec IN\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<std::uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string which = argv[1];
    const double start = cpuSeconds();
    long long frames = 0;
    if (which == "ours") {
        std::vector<std::uint8_t> packed;
        BaselineDecoder decoder([&](DecodedPicture& p) {
            decode::packCropped(*p.picture, p.cropLeft, p.cropTop, p.width, p.height, packed);
            ++frames;
        });
        decodeAnnexB(stream, decoder);
    } else {
        decode::ReferenceDecoder decoder(0, [&](std::span<const std::uint8_t>) { ++frames; });
        decode::AccessUnitReader reader{std::span<const std::uint8_t>(stream)};
        decode::ReceivedPicture unit;
        while (reader.next(unit)) decoder.decode(unit);
        decoder.finish();
    }
    const double cpu = cpuSeconds() - start;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("frames %lld cpu %.4f maxrss %ld\n", frames, cpu, usage.ru_maxrss);
    return 0;
}
