#include "tools/codec/cavlc.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace kestrune::codec;
using kestrune::h264::BitReader;
using kestrune::h264::BitWriter;

namespace {

std::string bitString(const BitWriter& w)
{
    std::string s;
    for (std::size_t i = 0; i < w.bitCount(); ++i) s += (w.bytes()[i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
    return s;
}

} // namespace

TEST(Cavlc, TablesArePrefixFree)
{
    EXPECT_TRUE(cavlcTablesArePrefixFreeForTests());
}

// Write then read every code of every table; each read must consume exactly
// the bits written and give the value back.
TEST(Cavlc, EveryCodeRoundTrips)
{
    for (int nC : {kChromaDcNc, 0, 1, 2, 3, 4, 7, 8, 16}) {
        const int maxTotal = nC < 0 ? 4 : 16;
        for (int total = 0; total <= maxTotal; ++total) {
            for (int ones = 0; ones <= std::min(total, 3); ++ones) {
                BitWriter w;
                writeCoeffToken(w, nC, total, ones);
                w.u(1, 1);  // a guard bit: the reader must stop before it
                BitReader r(w.bytes());
                int t = -1, o = -1;
                ASSERT_TRUE(readCoeffToken(r, nC, t, o)) << nC << " " << total << " " << ones;
                EXPECT_EQ(t, total);
                EXPECT_EQ(o, ones);
                EXPECT_EQ(r.bitPosition() + 1, w.bitCount()) << nC << " " << total << " " << ones;
            }
        }
    }
    for (int maxNumCoeff : {4, 15, 16}) {
        for (int total = 1; total < maxNumCoeff; ++total) {
            for (int zeros = 0; zeros <= maxNumCoeff - total; ++zeros) {
                BitWriter w;
                writeTotalZeros(w, maxNumCoeff, total, zeros);
                w.u(1, 1);
                BitReader r(w.bytes());
                int z = -1;
                ASSERT_TRUE(readTotalZerosForTests(r, maxNumCoeff, total, z));
                EXPECT_EQ(z, zeros);
                EXPECT_EQ(r.bitPosition() + 1, w.bitCount());
            }
        }
    }
    for (int zerosLeft = 1; zerosLeft <= 14; ++zerosLeft) {
        for (int run = 0; run <= zerosLeft; ++run) {
            BitWriter w;
            writeRunBefore(w, zerosLeft, run);
            w.u(1, 1);
            BitReader r(w.bytes());
            int got = -1;
            ASSERT_TRUE(readRunBeforeForTests(r, zerosLeft, got));
            EXPECT_EQ(got, run);
            EXPECT_EQ(r.bitPosition() + 1, w.bitCount());
        }
    }
    for (int suffixLength = 0; suffixLength <= 6; ++suffixLength) {
        for (bool firstAfter : {false, true}) {
            for (int level = -9000; level <= 9000; ++level) {
                if (level == 0 || (firstAfter && std::abs(level) == 1)) continue;
                BitWriter w;
                int writeLength = suffixLength;
                writeLevel(w, writeLength, firstAfter, level);
                w.u(1, 1);
                BitReader r(w.bytes());
                int readLength = suffixLength;
                int got = 0;
                ASSERT_TRUE(readLevelForTests(r, readLength, firstAfter, got));
                ASSERT_EQ(got, level) << suffixLength << " " << firstAfter;
                ASSERT_EQ(r.bitPosition() + 1, w.bitCount());
                ASSERT_EQ(readLength, writeLength);
            }
        }
    }
    for (bool intra : {false, true}) {
        for (std::uint32_t codeNum = 0; codeNum < 48; ++codeNum) {
            const int cbp = cbpFromCodeNum(codeNum, intra);
            ASSERT_GE(cbp, 0);
            EXPECT_EQ(codeNumFromCbp(cbp, intra), codeNum);
        }
        EXPECT_EQ(cbpFromCodeNum(48, intra), -1);
    }
}

// Levels up to +-2063 stay within level_prefix 15 whatever suffixLength is
// (the Baseline limit the encoder must respect); larger ones need the escape.
TEST(Cavlc, BaselineLevelRange)
{
    for (int suffixLength = 0; suffixLength <= 6; ++suffixLength) {
        EXPECT_TRUE(levelFitsBaseline(suffixLength, false, 2063));
        EXPECT_TRUE(levelFitsBaseline(suffixLength, false, -2063));
    }
    EXPECT_FALSE(levelFitsBaseline(0, false, 2064));
    EXPECT_FALSE(levelFitsBaseline(6, false, 9000));
}

// A 4x4 block worked through clause 9.2 by hand: zig-zag 0 3 0 1 -1 -1 0 1,
// nC 0 -> coeff_token 0000100, signs 011, levels 1 and 0010, total_zeros
// 111, run_before 10 1 1 01.
TEST(Cavlc, WorkedExampleMatchesTheStandardsProcess)
{
    const int block[16] = {0, 3, 0, 1, -1, -1, 0, 1};
    BitWriter w;
    EXPECT_EQ(writeResidualBlock(w, 0, 16, block), 5);
    EXPECT_EQ(bitString(w), "000010001110010111101101");
    BitReader r(w.bytes());
    int got[16];
    EXPECT_EQ(readResidualBlock(r, 0, 16, got), 5);
    EXPECT_EQ(std::vector<int>(got, got + 16), std::vector<int>(block, block + 16));
}

// Many random blocks of every size, written back to back and read in order.
TEST(Cavlc, RandomBlocksRoundTrip)
{
    std::mt19937 rng(13);
    struct Block {
        int nC;
        int maxNumCoeff;
        std::vector<int> levels;
    };
    std::vector<Block> blocks;
    BitWriter w;
    for (int n = 0; n < 20000; ++n) {
        Block b;
        b.maxNumCoeff = std::vector<int>{4, 15, 16}[rng() % 3];
        b.nC = b.maxNumCoeff == 4 ? kChromaDcNc : static_cast<int>(rng() % 17);
        b.levels.assign(b.maxNumCoeff, 0);
        const int density = static_cast<int>(rng() % 101);
        const int magnitude = std::vector<int>{1, 2, 4, 40, 2000}[rng() % 5];
        for (int& v : b.levels) {
            if (static_cast<int>(rng() % 100) < density) {
                v = 1 + static_cast<int>(rng() % magnitude);
                if (rng() % 2) v = -v;
            }
        }
        writeResidualBlock(w, b.nC, b.maxNumCoeff, b.levels.data());
        blocks.push_back(std::move(b));
    }
    BitReader r(w.bytes());
    for (const Block& b : blocks) {
        int got[16];
        int expectedTotal = 0;
        for (int v : b.levels) expectedTotal += v != 0;
        ASSERT_EQ(readResidualBlock(r, b.nC, b.maxNumCoeff, got), expectedTotal);
        ASSERT_EQ(std::vector<int>(got, got + b.maxNumCoeff), b.levels);
    }
    EXPECT_EQ(r.bitPosition(), w.bitCount());
}

// Damaged data: codes outside the tables, totals beyond the block and reads
// past the end all fail instead of writing outside the block.
TEST(Cavlc, ImpossibleDataIsRefused)
{
    int got[16];
    // Sixteen zero bits match no coeff_token of the nC 0 table.
    const std::vector<std::uint8_t> zeros{0, 0, 0, 0};
    BitReader r1(zeros);
    EXPECT_EQ(readResidualBlock(r1, 0, 16, got), -1);
    // TotalCoeff 16 in a 15-coefficient block.
    BitWriter w;
    writeCoeffToken(w, 0, 16, 0);
    for (int i = 0; i < 16; ++i) w.u(1, 1);
    BitReader r2(w.bytes());
    EXPECT_EQ(readResidualBlock(r2, 0, 15, got), -1);
    // A block cut short.
    const int block[16] = {5, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};
    BitWriter full;
    writeResidualBlock(full, 0, 16, block);
    std::vector<std::uint8_t> cut(full.bytes().begin(), full.bytes().begin() + 1);
    BitReader r3(cut);
    EXPECT_EQ(readResidualBlock(r3, 0, 16, got), -1);
    // Random data never reads beyond the block (the sanitizer build checks).
    std::mt19937 rng(7);
    for (int n = 0; n < 20000; ++n) {
        std::vector<std::uint8_t> noise(4);
        for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
        BitReader r(noise);
        const int maxNumCoeff = std::vector<int>{4, 15, 16}[n % 3];
        const int total = readResidualBlock(r, maxNumCoeff == 4 ? -1 : n % 17, maxNumCoeff, got);
        EXPECT_LE(total, maxNumCoeff);
    }
}
