// Rate control over the whole sample: the average bitrate lands within 5 %
// of the target, from a low to a high target, with the window's settings.
#include "tools/baseline_encoder/baseline_encoder.h"
#include "tools/sample/sample_sequence.h"

#include <gtest/gtest.h>

namespace kestrune::codec {
namespace {

class BitrateTest : public ::testing::TestWithParam<int> {};

TEST_P(BitrateTest, AverageBitrateOverTheSampleIsWithinFivePercentOfTheTarget)
{
    EncoderSettings s;
    s.width = 176;
    s.height = 144;
    s.rateMode = RateMode::Bitrate;
    s.bitrateKbps = GetParam();
    s.minKeyint = 25;
    s.references = 1;
    constexpr int kFrames = 300;
    BaselineEncoder encoder(s);
    std::vector<std::uint8_t> frame(yuv420FrameBytes(s.width, s.height));
    std::int64_t bytes = 0;
    for (int n = 0; n < kFrames; ++n) {
        renderSampleFrame({s.width, s.height}, n, frame);
        bytes += static_cast<std::int64_t>(encoder.encode(frame).bytes.size());
    }
    const double kbps = static_cast<double>(bytes) * 8 / 1000 * s.fps / kFrames;
    EXPECT_NEAR(kbps, s.bitrateKbps, 0.05 * s.bitrateKbps);
}

INSTANTIATE_TEST_SUITE_P(Targets, BitrateTest, ::testing::Values(100, 500, 1500));

} // namespace
} // namespace kestrune::codec
