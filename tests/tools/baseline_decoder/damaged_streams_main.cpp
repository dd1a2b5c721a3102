// Decodes many randomly damaged slice-group and Baseline streams with our
// decoder: it must neither crash nor hang, and every access unit that still
// holds a readable slice must come out as one picture. Used by
// bench/damaged_streams.sh (with a sanitizer build for the full check).
// Usage: damaged_streams COUNT_PER_KIND [SEED]
#include "tests/tools/baseline_decoder/damage.h"
#include "tests/tools/baseline_decoder/oracle_stream.h"
#include "tests/tools/baseline_decoder/slice_group_stream.h"
#include "tools/baseline_decoder/baseline_decoder.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace kestrune::codec;
using namespace kestrune::codec::testing;

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 100;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    std::vector<std::vector<std::uint8_t>> sliceGroupSources;
    for (int type = 0; type <= 6; ++type) {
        SliceGroupStreamSettings s;
        s.mapType = type;
        s.groups = type >= 3 && type <= 5 ? 2 : 2 + type % 3;
        s.frames = 5;
        s.seed = static_cast<unsigned>(type + 1);
        sliceGroupSources.push_back(makeSliceGroupStream(s).bytes);
    }
    std::vector<std::vector<std::uint8_t>> baselineSources;
    for (int i = 0; i < 4; ++i) {
        kestrune::testing::X264StreamOptions s = baselineOracleOptions();
        s.frames = 8;
        s.slices = 1 + i;
        s.refs = 1 + i;
        s.qp = 18 + 8 * i;
        s.width = i == 3 ? 200 : 176;
        s.height = i == 3 ? 120 : 144;
        s.keyint = 4;
        baselineSources.push_back(kestrune::testing::encodeX264Stream(s).bytes());
    }
    std::mt19937 rng(seed);
    long long pictures = 0, broken = 0;
    double slowest = 0;
    for (int kind = 0; kind < 2; ++kind) {
        const auto& sources = kind == 0 ? sliceGroupSources : baselineSources;
        for (int n = 0; n < count; ++n) {
            auto nals = splitNalUnits(sources[static_cast<std::size_t>(n) % sources.size()]);
            damageStream(nals, rng);
            const auto stream = joinNalUnits(nals);
            const auto start = std::chrono::steady_clock::now();
            int out = 0;
            BaselineDecoder decoder([&](DecodedPicture& p) {
                ++out;
                if (p.macroblocksWritten < 0 || p.macroblocksWritten > p.picture->mbCount()) std::abort();
            });
            decodeAnnexB(stream, decoder);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            slowest = std::max(slowest, seconds);
            pictures += out;
            broken += decoder.counts().slicesBroken;
            if (out != decoder.counts().pictures) {
                std::fprintf(stderr, "stream %d/%d: %d pictures handed out, %d counted\n", kind, n, out,
                             decoder.counts().pictures);
                return 1;
            }
        }
    }
    std::printf("damaged streams: %d slice-group + %d Baseline, %lld pictures, %lld broken slices, slowest %.3f s\n",
                count, count, pictures, broken, slowest);
    return 0;
}
