// The window's own command lines, written to a command file and run through
// the runner's interpreter, encode the sample sequence into a valid stream.
#include "runner/command_file.h"
#include "runner/launch.h"
#include "tests/tools/encode/stream_probe.h"
#include "tests/tools/encode/tool_process.h"
#include "tools/sample/sample_sequence.h"

#include <QDir>
#include <QString>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace kestrune {
namespace {

using namespace Qt::StringLiterals;
using ::testing::HasSubstr;

class EncodeThroughRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::copy_file(KESTRUNE_ENCODE_EXE, dir / "x264.exe");
        std::ofstream out(dir / "my clip.yuv", std::ios::binary);
        std::vector<std::uint8_t> frame(yuv420FrameBytes(176, 144));
        for (int n = 0; n < 20; ++n) {
            renderSampleFrame({176, 144}, n, frame);
            out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
        }
        out.close();
        std::filesystem::copy_file(dir / "my clip.yuv", dir / "foreman.yuv");
        previous = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(dir.path().string()));
    }
    void TearDown() override { QDir::setCurrent(previous); }

    // Writes and runs xbatch.bat as the window does; returns the capture.
    std::string runBatch(const QString& line)
    {
        writeCommandFile(u"xbatch.bat"_s, line);
        const WaitResult wait = runCommandFile(u"xbatch.bat"_s);
        EXPECT_TRUE(wait.launched) << wait.launchError.toStdString();
        EXPECT_EQ(wait.exitCode, 0);
        std::ifstream in(dir / "xbatch.txt", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testing::ScratchDirectory dir;
    QString previous;
};

TEST_F(EncodeThroughRunnerTest, WindowDefaultCommandLineEncodesTheSample)
{
    const std::string capture = runBatch(
        u"x264 --bitrate 500 --min-keyint 25 --keyint 250 --scenecut 40 --fps 25 --slices 1 --me \"hex\" --ref 1 "
        u"--mixed-refs --merange 16 --partitions \"i8x8\"\"i4x4\"\"p8x8\" foreman.yuv -o out.264 176x144 >xbatch.txt 2>&1"_s);
    EXPECT_THAT(capture, HasSubstr("x264 [info]: 176x144, 25 fps, 20 frames, bitrate 500 kbit/s"));
    EXPECT_THAT(capture, HasSubstr("partitions i8x8,i4x4,p8x8"));
    EXPECT_THAT(capture, HasSubstr("PSNR Mean Y:"));
    EXPECT_THAT(capture, HasSubstr("encoded 20 frames"));

    const probe::Stream stream = probe::parseStream((dir / "out.264").string());
    EXPECT_EQ(stream.pictures().size(), 20u);
    std::set<int> kinds;
    for (const auto& slice : stream.slices) kinds.insert(slice.slice_type % 5);
    EXPECT_EQ(kinds, (std::set<int>{0, 2}));
}

TEST_F(EncodeThroughRunnerTest, QuotedPathsWithBlanksAndEveryOtherFragment)
{
    const std::string capture = runBatch(
        u"x264 --qp 30 --min-keyint 1 --keyint 5 --scenecut 40 --fps 30 --frames 8 --no-psnr --no-ssim "
        u"--max-slicesize 400 --me \"umh\" --no-chroma-me --ref 2 --mixed-refs --merange 24 "
        u"--partitions \"i4x4\"\"p4x4\" \"my clip.yuv\" -o \"my out.264\" 176x144 >xbatch.txt 2>&1"_s);
    EXPECT_THAT(capture, HasSubstr("encoded 8 frames"));
    EXPECT_THAT(capture, HasSubstr("partitions i4x4,p4x4"));
    EXPECT_THAT(capture, ::testing::Not(HasSubstr("PSNR")));
    const probe::Stream stream = probe::parseStream((dir / "my out.264").string());
    EXPECT_EQ(stream.pictures().size(), 8u);
    for (const auto& slice : stream.slices) EXPECT_LE(slice.nalSize, 400u);
}

} // namespace
} // namespace kestrune
