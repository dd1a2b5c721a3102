// The two decoders behind the concealment: libavcodec and our own Baseline
// decoder, on the same streams, with the same loss map, vectors and methods.
#include "tests/tools/decode/test_stream.h"
#include "tools/decode/access_unit_reader.h"
#include "tools/decode/baseline_path.h"
#include "tools/decode/decoder.h"

extern "C" {
#include <libavutil/log.h>
}

#include <gtest/gtest.h>

using namespace kestrune::decode;
using namespace kestrune::decode::test;

namespace {

struct Output {
    std::vector<std::uint8_t> yuv;
    DecodeReport report;
};

Output decodeWith(DecoderChoice choice, const std::vector<std::uint8_t>& bytes, ConcealmentSettings settings)
{
    Output out;
    ConcealingDecoder decoder(
        settings, [&](std::span<const std::uint8_t> frame) { out.yuv.insert(out.yuv.end(), frame.begin(), frame.end()); },
        choice);
    AccessUnitReader reader{std::span<const std::uint8_t>(bytes)};
    ReceivedPicture unit;
    while (reader.next(unit)) decoder.decode(unit);
    decoder.finish();
    out.report = decoder.report();
    return out;
}

} // namespace

// Undamaged and with slices lost at random (whole pictures among them), for
// every pair of concealment methods: the same frames from both decoders.
TEST(DecoderChoice, OursAndLibavcodecGiveTheSameConcealedFrames)
{
    av_log_set_level(AV_LOG_QUIET);
    const TestStream stream = encodeTestStream(16, 9, 8, Content::Sample, 176, 144, true);
    std::vector<std::vector<std::uint8_t>> inputs;
    for (const TestPicture& p : stream.pictures)
        for (const TestNal& n : p.nals) {
            if (inputs.empty()) inputs.emplace_back();
            inputs[0].insert(inputs[0].end(), n.bytes.begin(), n.bytes.end());
        }
    inputs.push_back(dropSlicesAtRandom(stream, 0.15, 3).bytes);
    inputs.push_back(dropSlicesAtRandom(stream, 0.35, 8).bytes);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        for (int intra = 0; intra <= 3; ++intra) {
            for (int inter = 0; inter <= 1; ++inter) {
                const ConcealmentSettings settings{IntraMethod(intra), InterMethod(inter)};
                const Output theirs = decodeWith(DecoderChoice::Libavcodec, inputs[i], settings);
                const Output ours = decodeWith(DecoderChoice::Ours, inputs[i], settings);
                const std::string label = "input " + std::to_string(i) + " methods " + std::to_string(intra) + "/" +
                                          std::to_string(inter);
                EXPECT_EQ(ours.report.framesWritten, 16) << label;
                EXPECT_EQ(ours.report.inter.lost, theirs.report.inter.lost) << label;
                EXPECT_EQ(ours.report.intra.lost, theirs.report.intra.lost) << label;
                EXPECT_TRUE(ours.yuv == theirs.yuv) << label;
                EXPECT_TRUE(ours.report.ours);
                if (i > 0) {
                    EXPECT_GT(ours.report.inter.lost + ours.report.intra.lost, 0) << label;
                }
            }
        }
    }
}
