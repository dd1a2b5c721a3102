#include "tools/bitstream/annexb_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace kestrune::h264;

namespace {

std::vector<NalUnit> readAll(AnnexBReader& reader)
{
    std::vector<NalUnit> units;
    NalUnit unit;
    while (reader.next(unit)) units.push_back(unit);
    return units;
}

std::vector<NalUnit> readMemory(const std::vector<std::uint8_t>& data, std::size_t keep = AnnexBReader::kKeepAll)
{
    AnnexBReader reader(data, keep);
    return readAll(reader);
}

std::filesystem::path writeTemp(const std::vector<std::uint8_t>& data, const char* name)
{
    const auto path = std::filesystem::temp_directory_path() / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return path;
}

// The stretches of the units, plus the tail after the last, cover the input.
void expectStretchesCover(const std::vector<NalUnit>& units, std::uint64_t size)
{
    std::uint64_t expected = 0;
    for (const auto& u : units) {
        EXPECT_EQ(u.spanOffset, expected);
        EXPECT_LT(u.spanOffset, u.offset);
        expected = u.end();
    }
    EXPECT_LE(expected, size);
}

} // namespace

TEST(AnnexBReader, SplitsThreeAndFourByteStartCodesWithLeadingAndTrailingZeros)
{
    const std::vector<std::uint8_t> data{0x00, 0x00, 0x00, 0x00, 0x01, 0x67, 0x42,  // leading zeros + 4-byte code
                                         0x00, 0x00, 0x01, 0x68, 0xCE,                // 3-byte code
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x00, 0x00, 0x03, 0x01,
                                         0x00, 0x00, 0x00};                           // trailing zeros at the end
    const auto units = readMemory(data);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].offset, 5u);
    EXPECT_EQ(units[0].size, 2u);
    EXPECT_EQ(units[1].offset, 10u);
    EXPECT_EQ(units[1].bytes, (std::vector<std::uint8_t>{0x68, 0xCE}));
    EXPECT_EQ(units[2].offset, 18u);
    EXPECT_EQ(units[2].bytes, (std::vector<std::uint8_t>{0x65, 0x88, 0x00, 0x00, 0x03, 0x01}));
    expectStretchesCover(units, data.size());
}

TEST(AnnexBReader, NeverYieldsEmptyNalUnits)
{
    EXPECT_TRUE(readMemory({}).empty());
    EXPECT_TRUE(readMemory({0x00, 0x00, 0x00}).empty());
    EXPECT_TRUE(readMemory({0x00, 0x00, 0x01}).empty());
    EXPECT_TRUE(readMemory({0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01}).empty());
    const auto units = readMemory({0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01});
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].bytes, (std::vector<std::uint8_t>{0x09, 0xF0}));
}

TEST(AnnexBReader, CountsGarbageBeforeTheFirstStartCodeAndKeepsSingleZerosAndOnesInside)
{
    const std::vector<std::uint8_t> data{0x12, 0x00, 0x34, 0x00, 0x00, 0x01, 0x06, 0x00, 0x01, 0x00, 0x02, 0x80};
    AnnexBReader reader(data);
    const auto units = readAll(reader);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].bytes, (std::vector<std::uint8_t>{0x06, 0x00, 0x01, 0x00, 0x02, 0x80}));
    EXPECT_EQ(reader.leadingGarbageBytes(), 2u);
    EXPECT_EQ(units[0].spanOffset, 0u);
}

TEST(AnnexBReader, KeepBytesCapsTheCopyButNotTheSize)
{
    std::vector<std::uint8_t> data{0x00, 0x00, 0x01};
    for (int i = 0; i < 1000; ++i) data.push_back(0x41);
    data.insert(data.end(), {0x00, 0x00, 0x00, 0x01, 0x09, 0x10});
    const auto units = readMemory(data, 16);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].size, 1000u);
    EXPECT_EQ(units[0].bytes.size(), 16u);
    EXPECT_TRUE(units[0].clipped());
    EXPECT_FALSE(units[1].clipped());
}

TEST(AnnexBReader, FileAndMemoryAgreeWithStartCodesAroundTheWindowEdges)
{
    // Files are mapped or read a window at a time: put start codes (3- and
    // 4-byte, with zero runs) so that they straddle a window edge in every
    // possible way, for both ways of reading.
    constexpr std::size_t kEdge = 1 << 16;
    for (const bool map : {true, false}) {
        for (std::size_t shift = 0; shift < 6; ++shift) {
            std::vector<std::uint8_t> data(2 * kEdge + 64, 0x55);
            data[0] = 0; data[1] = 0; data[2] = 1;
            const std::size_t at = kEdge - 4 + shift;  // position of the 0x01
            data[at - 3] = 0; data[at - 2] = 0; data[at - 1] = 0; data[at] = 1;
            data[at + 10] = 0; data[at + 11] = 0; data[at + 12] = 1;
            std::fill(data.begin() + 2 * kEdge - 3, data.end(), 0);  // trailing zeros across the second edge
            const auto path = writeTemp(data, "kestrune_annexb_edge.264");
            AnnexBReader fileReader(path, 64);
            fileReader.setWindow(kEdge, map);
            const auto fromFile = readAll(fileReader);
            std::filesystem::remove(path);
            const auto fromMemory = readMemory(data, 64);
            SCOPED_TRACE(::testing::Message() << "map " << map << " shift " << shift);
            ASSERT_EQ(fromFile.size(), 3u);
            ASSERT_EQ(fromMemory.size(), 3u);
            for (std::size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(fromFile[i].offset, fromMemory[i].offset);
                EXPECT_EQ(fromFile[i].size, fromMemory[i].size);
                EXPECT_EQ(fromFile[i].bytes, fromMemory[i].bytes);
            }
            EXPECT_EQ(fromFile[1].offset, at + 1);
            EXPECT_EQ(fromFile[0].size, at - 3 - 3);
            EXPECT_EQ(fromFile[2].end(), 2 * kEdge - 3);
            EXPECT_EQ(fileReader.bytesRead(), data.size());
            expectStretchesCover(fromFile, data.size());
        }
    }
}

TEST(AnnexBReader, MissingFileReportsAnErrorInsteadOfNalUnits)
{
    AnnexBReader reader(std::filesystem::path("/nonexistent/dir/stream.264"));
    EXPECT_FALSE(reader.isOpen());
    EXPECT_NE(reader.error().find("stream.264"), std::string::npos);
    NalUnit unit;
    EXPECT_FALSE(reader.next(unit));
}
