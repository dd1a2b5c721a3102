#include "tests/tools/encode/tool_process.h"
#include "tools/sample/sample_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace kestrune {
namespace {

using ::testing::HasSubstr;
using testing::ScratchDirectory;

using Frame = std::vector<std::uint8_t>;

Frame render(int width, int height, int index)
{
    Frame frame(yuv420FrameBytes(width, height));
    renderSampleFrame({width, height}, index, frame);
    return frame;
}

// Mean absolute luma difference over the lower band of two QCIF frames
// (clear of the moving objects around frame 100), with b shifted by (dx, dy).
double shiftedDifference(const Frame& a, const Frame& b, int dx, int dy)
{
    double sum = 0;
    int count = 0;
    for (int y = 90; y < 134; ++y)
        for (int x = 16; x < 160; ++x) {
            sum += std::abs(a[y * 176 + x] - b[(y + dy) * 176 + x + dx]);
            ++count;
        }
    return sum / count;
}

// Luma smoothed with a 5x5 box, so sub-pixel motion of sharp texture still
// matches at the nearest whole-pixel shift.
Frame smoothLuma(const Frame& f)
{
    Frame out(176 * 144);
    for (int y = 2; y < 142; ++y)
        for (int x = 2; x < 174; ++x) {
            int sum = 0;
            for (int j = -2; j <= 2; ++j)
                for (int i = -2; i <= 2; ++i) sum += f[(y + j) * 176 + x + i];
            out[y * 176 + x] = static_cast<std::uint8_t>(sum / 25);
        }
    return out;
}

double spread(const std::uint8_t* data, std::size_t size)
{
    double mean = 0, square = 0;
    for (std::size_t i = 0; i < size; ++i) mean += data[i];
    mean /= size;
    for (std::size_t i = 0; i < size; ++i) square += (data[i] - mean) * (data[i] - mean);
    return std::sqrt(square / size);
}

TEST(SampleSequenceTest, FramesAreDeterministicAndEveryFrameDiffers)
{
    EXPECT_EQ(render(176, 144, 17), render(176, 144, 17));
    const Frame a = render(176, 144, 40), b = render(176, 144, 41);
    EXPECT_NE(a, b);
    EXPECT_GT(shiftedDifference(a, b, 0, 0), 1.0);
}

TEST(SampleSequenceTest, PicturesAreTexturedInLumaAndChroma)
{
    const Frame f = render(176, 144, 0);
    EXPECT_GT(spread(f.data(), 176 * 144), 20.0);
    EXPECT_GT(spread(f.data() + 176 * 144, 88 * 72), 3.0);
    EXPECT_GT(spread(f.data() + 176 * 144 + 88 * 72, 88 * 72), 3.0);
}

TEST(SampleSequenceTest, BackgroundMovesLikeACameraPan)
{
    // Somewhere within a small search range a shifted later frame matches the
    // earlier one far better than the unshifted one: content moved, not noise.
    const Frame a = smoothLuma(render(176, 144, 100)), b = smoothLuma(render(176, 144, 104));
    double best = 1e9;
    int bestDx = 0;
    for (int dy = -6; dy <= 6; ++dy)
        for (int dx = -8; dx <= 8; ++dx) {
            const double d = shiftedDifference(a, b, dx, dy);
            if (d < best) best = d, bestDx = dx;
        }
    EXPECT_LT(bestDx, 0) << "the camera pans right, so the background moves left";
    EXPECT_LT(best, shiftedDifference(a, b, 0, 0) * 0.3);
}

TEST(SampleSequenceTest, CifShowsTheSameSceneAsQcif)
{
    const Frame qcif = render(176, 144, 60), cif = render(352, 288, 60);
    double sum = 0;
    for (int y = 0; y < 144; ++y)
        for (int x = 0; x < 176; ++x) {
            const int avg = (cif[2 * y * 352 + 2 * x] + cif[2 * y * 352 + 2 * x + 1] + cif[(2 * y + 1) * 352 + 2 * x]
                             + cif[(2 * y + 1) * 352 + 2 * x + 1]) / 4;
            sum += std::abs(avg - qcif[y * 176 + x]);
        }
    EXPECT_LT(sum / (176 * 144), 12.0);
}

std::uintmax_t fileSize(const std::filesystem::path& path)
{
    return std::filesystem::file_size(path);
}

TEST(MakeSampleToolTest, WritesTheFramesUnderTheGivenOrDefaultName)
{
    ScratchDirectory dir;
    auto run = testing::runTool(KESTRUNE_MAKE_SAMPLE_EXE, {"--width", "$40", "--height", "48", "--frames", "3", "-o", "a.yuv"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileSize(dir / "a.yuv"), 3 * yuv420FrameBytes(64, 48));

    run = testing::runTool(KESTRUNE_MAKE_SAMPLE_EXE, {"--frames", "2"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileSize(dir / "sample_176x144.yuv"), 2 * yuv420FrameBytes(176, 144));
    std::ifstream in(dir / "sample_176x144.yuv", std::ios::binary);
    const Frame first(std::istreambuf_iterator<char>(in), {});
    const Frame expected = render(176, 144, 0);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), first.begin()));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.yuv", "sample_176x144.yuv"}));
}

TEST(MakeSampleToolTest, BadArgumentsFailWithoutWritingAnything)
{
    ScratchDirectory dir;
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--width", "175"}, "even"},
        {{"--frames", "0"}, "--frames must be at least 1"},
        {{"--height", "1.5"}, "--height needs an integer, not '1.5'"},
        {{"--size", "4"}, "unknown option '--size'"},
        {{"-o"}, "option -o needs a value"},
        {{"-o", ""}, "-o needs a file name"},
        {{"-o", "missing/dir/x.yuv"}, "cannot create"},
    };
    for (const auto& [args, message] : cases) {
        const auto run = testing::runTool(KESTRUNE_MAKE_SAMPLE_EXE, args, dir.path());
        EXPECT_NE(run.exitCode, 0) << message;
        EXPECT_THAT(run.err, HasSubstr(message));
        EXPECT_THAT(run.err, ::testing::StartsWith("kestrune-make-sample: "));
    }
    EXPECT_TRUE(dir.entries().empty());
}

} // namespace
} // namespace kestrune
