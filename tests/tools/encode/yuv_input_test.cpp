// Frame reading: whole frames counted, the partial tail ignored, and frames
// handed over in order by the read-ahead thread, read errors included.
#include "tests/tools/encode/tool_process.h"
#include "tools/encode/frame_prefetch.h"
#include "tools/encode/yuv_input.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kestrune {
namespace {

using testing::ScratchDirectory;

constexpr std::size_t kFrameBytes = 16 * 16 * 3 / 2;

// Frame n is filled with the byte value n.
void writeFrames(const std::filesystem::path& path, int frames, std::size_t tail = 0)
{
    std::ofstream out(path, std::ios::binary);
    for (int n = 0; n < frames; ++n) out << std::string(kFrameBytes, static_cast<char>(n));
    out << std::string(tail, 'x');
}

TEST(YuvFrameReaderTest, CountsWholeFramesAndTheLeftover)
{
    ScratchDirectory dir;
    writeFrames(dir / "a.yuv", 3, 100);
    YuvFrameReader reader((dir / "a.yuv").string(), 16, 16);
    EXPECT_EQ(reader.frameBytes(), kFrameBytes);
    EXPECT_EQ(reader.frameCount(), 3);
    EXPECT_EQ(reader.leftoverBytes(), 100);
    std::vector<std::uint8_t> frame(kFrameBytes);
    for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(reader.readFrame(frame));
        EXPECT_EQ(frame.front(), n);
        EXPECT_EQ(frame.back(), n);
    }
    EXPECT_FALSE(reader.readFrame(frame)) << "the partial frame is not read";
}

TEST(YuvFrameReaderTest, UnreadableInputsThrowWithThePath)
{
    ScratchDirectory dir;
    try {
        YuvFrameReader reader((dir / "none.yuv").string(), 16, 16);
        FAIL() << "no error";
    } catch (const EncodeError& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr("none.yuv"));
    }
    EXPECT_THROW(YuvFrameReader(dir.path().string(), 16, 16), EncodeError);
}

TEST(FramePrefetcherTest, HandsOverTheRequestedFramesInOrder)
{
    ScratchDirectory dir;
    writeFrames(dir / "a.yuv", 20);
    for (std::int64_t limit : {0, 1, 7, 20}) {
        YuvFrameReader reader((dir / "a.yuv").string(), 16, 16);
        FramePrefetcher prefetcher(reader, limit, 2);
        std::vector<std::uint8_t> frame;
        int count = 0;
        while (prefetcher.next(frame)) {
            ASSERT_EQ(frame.size(), kFrameBytes);
            EXPECT_EQ(frame[kFrameBytes / 2], count);
            ++count;
        }
        EXPECT_EQ(count, limit);
        EXPECT_FALSE(prefetcher.next(frame));
    }
}

TEST(FramePrefetcherTest, StopsCleanlyWhenTheConsumerQuitsEarly)
{
    ScratchDirectory dir;
    writeFrames(dir / "a.yuv", 20);
    YuvFrameReader reader((dir / "a.yuv").string(), 16, 16);
    FramePrefetcher prefetcher(reader, 20, 2);
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(prefetcher.next(frame));
    // Destruction must not hang on the reading thread waiting for a free buffer.
}

TEST(FramePrefetcherTest, ReadErrorReachesTheConsumerAfterTheGoodFrames)
{
    ScratchDirectory dir;
    writeFrames(dir / "a.yuv", 6);
    YuvFrameReader reader((dir / "a.yuv").string(), 16, 16);
    std::filesystem::resize_file(dir / "a.yuv", 3 * kFrameBytes + 10);  // shrinks after it was measured
    FramePrefetcher prefetcher(reader, 6, 2);
    std::vector<std::uint8_t> frame;
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(prefetcher.next(frame));
    try {
        prefetcher.next(frame);
        FAIL() << "no error";
    } catch (const EncodeError& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr("cannot read frame 3"));
    }
}

} // namespace
} // namespace kestrune
