#include "tools/bitstream/bit_reader.h"
#include "tools/bitstream/nal_unit.h"
#include "tests/tools/bitstream/stream_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace kestrune::h264;
using kestrune::h264::testing::BitWriter;

TEST(BitReader, ReadsFixedWidthFieldsAcrossByteBoundaries)
{
    const std::vector<std::uint8_t> data{0xA5, 0x3C, 0xFF, 0x01};
    BitReader r(data);
    EXPECT_EQ(r.u(3), 0b101u);
    EXPECT_EQ(r.u(7), 0b0010100u);
    EXPECT_EQ(r.u(6), 0b111100u);
    EXPECT_EQ(r.u(16), 0xFF01u);
    EXPECT_FALSE(r.overrun());
    EXPECT_EQ(r.bitsLeft(), 0u);
}

TEST(BitReader, ExpGolombRoundTripsIncludingExtremes)
{
    const std::vector<std::uint64_t> unsignedValues{0, 1, 2, 3, 7, 254, 255, 65535, 0x7FFFFFFF, 0xFFFFFFFE};
    const std::vector<std::int64_t> signedValues{0, 1, -1, 2, -2, 127, -128, 2147483647, -2147483647};
    BitWriter w;
    for (auto v : unsignedValues) w.ue(v);
    for (auto v : signedValues) w.se(v);
    w.trailing();
    BitReader r(w.bytes());
    for (auto v : unsignedValues) EXPECT_EQ(r.ue(), v);
    for (auto v : signedValues) EXPECT_EQ(r.se(), v);
    EXPECT_FALSE(r.overrun());
    EXPECT_FALSE(r.invalid());
    EXPECT_FALSE(r.moreRbspData());
}

TEST(BitReader, ThirtyTwoLeadingZerosIsAnInvalidCodeNotAHugeValue)
{
    const std::vector<std::uint8_t> data{0, 0, 0, 0, 0x80, 0, 0, 0, 0};
    BitReader r(data);
    EXPECT_EQ(r.ue(), 0u);
    EXPECT_TRUE(r.invalid());
}

TEST(BitReader, ReadingPastTheEndYieldsZeroAndStaysAtTheEnd)
{
    const std::vector<std::uint8_t> data{0xFF};
    BitReader r(data);
    EXPECT_EQ(r.u(4), 15u);
    EXPECT_EQ(r.u(5), 0u);  // only 4 bits left
    EXPECT_TRUE(r.overrun());
    EXPECT_EQ(r.bitsLeft(), 0u);
    EXPECT_EQ(r.u(1), 0u);

    // A ue whose suffix is cut off, and one that never finds its 1 bit.
    const std::vector<std::uint8_t> cut{0x00, 0x01};  // 15 zeros then 1, no suffix
    BitReader r2(cut);
    EXPECT_EQ(r2.ue(), 0u);
    EXPECT_TRUE(r2.overrun());
    const std::vector<std::uint8_t> zeros{0x00, 0x00};
    BitReader r3(zeros);
    EXPECT_EQ(r3.ue(), 0u);
    EXPECT_TRUE(r3.overrun());

    BitReader empty(std::span<const std::uint8_t>{});
    EXPECT_EQ(empty.ue(), 0u);
    EXPECT_TRUE(empty.overrun());
    EXPECT_FALSE(empty.moreRbspData());
}

TEST(BitReader, PeekShowsTheNextBitsAtEveryPositionAndZerosPastTheEnd)
{
    std::vector<std::uint8_t> data;
    for (int size = 0; size <= 13; ++size) {
        for (std::size_t start = 0; start <= data.size() * 8; ++start) {
            BitReader r(data);
            r.skip(start);
            BitReader reference(data);
            reference.skip(start);
            const int available = static_cast<int>(std::min<std::size_t>(32, reference.bitsLeft()));
            const std::uint32_t bits = available == 0 ? 0 : reference.u(available) << (32 - available);
            ASSERT_EQ(r.peek32(), bits) << size << " " << start;
            const int n = static_cast<int>(start % 33);
            r.consume(n);
            ASSERT_EQ(r.overrun(), start + static_cast<std::size_t>(n) > data.size() * 8);
            ASSERT_EQ(r.bitPosition(), std::min(start + static_cast<std::size_t>(n), data.size() * 8));
        }
        data.push_back(static_cast<std::uint8_t>(0x9D * size + 0x35));
    }
}

TEST(BitReader, MoreRbspDataStopsAtTheStopBitEvenWithTrailingZeroBytes)
{
    const std::vector<std::uint8_t> data{0b10100000, 0x00, 0x00};  // "1", "0", stop bit, then zeros
    BitReader r(data);
    EXPECT_TRUE(r.moreRbspData());
    r.u(1);
    EXPECT_TRUE(r.moreRbspData());
    r.u(1);
    EXPECT_FALSE(r.moreRbspData());
}

TEST(EmulationPrevention, RemovesOnlyTheThreeAfterTwoZeros)
{
    const std::vector<std::uint8_t> escaped{0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03,
                                            0x03, 0x00, 0x03, 0x00, 0x00, 0x03};
    const std::vector<std::uint8_t> expected{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x03, 0x00, 0x00};
    EXPECT_EQ(removeEmulationPrevention(escaped), expected);
}

TEST(EmulationPrevention, UndoesWhatAnEncoderInserts)
{
    std::vector<std::uint8_t> rbsp;
    for (int i = 0; i < 2000; ++i) rbsp.push_back(static_cast<std::uint8_t>((i * 7) % 5 == 0 ? 0 : i % 4));
    const auto escaped = kestrune::h264::testing::escape(rbsp);
    ASSERT_GT(escaped.size(), rbsp.size());
    EXPECT_EQ(removeEmulationPrevention(escaped), rbsp);
}
