// Intra prediction and neighbour availability: hand-worked values from the
// equations of clause 8.3 on hand-made neighbouring samples.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "tools/codec/intra_prediction.h"
#include "tools/codec/neighbours.h"

namespace kestrune::codec {
namespace {

// A 9x5 sample area: corner p[-1,-1] at (0,0), p[x,-1] at (1 + x, 0),
// p[-1,y] at (0, 1 + y); the 4x4 block starts at (1, 1).
struct Block4x4Area {
    std::array<std::uint8_t, 9 * 5> s{};
    Block4x4Area()
    {
        s[0] = 100;
        for (int x = 0; x < 8; ++x) s[1 + x] = static_cast<std::uint8_t>(10 * (x + 1));
        for (int y = 0; y < 4; ++y) s[(1 + y) * 9] = static_cast<std::uint8_t>(15 + 10 * y);
    }
    const std::uint8_t* block() const { return s.data() + 10; }
};

std::array<std::uint8_t, 16> predict4x4(int mode, IntraAvailability avail)
{
    Block4x4Area area;
    std::array<std::uint8_t, 16> pred{};
    EXPECT_TRUE(predictIntra4x4(mode, area.block(), 9, avail, pred.data(), 4)) << mode;
    return pred;
}

TEST(IntraPredictionTest, Intra4x4ModesFollowTheirEquations)
{
    const IntraAvailability all{true, true, true, true};
    struct Case { int mode, x, y, value; };
    // top p[x,-1] = 10..80, left p[-1,y] = 15, 25, 35, 45, corner 100.
    const Case cases[] = {
        {kI4Vertical, 2, 3, 30},          {kI4Horizontal, 3, 2, 35},
        {kI4Dc, 1, 1, 28},                // (100 + 120 + 4) >> 3
        {kI4DiagonalDownLeft, 0, 0, 20},  {kI4DiagonalDownLeft, 2, 1, 50}, {kI4DiagonalDownLeft, 3, 3, 78},
        {kI4DiagonalDownRight, 0, 0, 56}, {kI4DiagonalDownRight, 1, 0, 35}, {kI4DiagonalDownRight, 0, 2, 25},
        {kI4VerticalRight, 0, 0, 55},     {kI4VerticalRight, 0, 1, 56},    {kI4VerticalRight, 0, 3, 25},
        {kI4VerticalRight, 3, 3, 20},     {kI4HorizontalDown, 0, 0, 58},   {kI4HorizontalDown, 3, 0, 20},
        {kI4HorizontalDown, 1, 3, 35},    {kI4VerticalLeft, 3, 3, 60},     {kI4VerticalLeft, 3, 2, 55},
        {kI4HorizontalUp, 0, 0, 20},      {kI4HorizontalUp, 1, 0, 25},     {kI4HorizontalUp, 1, 2, 43},
        {kI4HorizontalUp, 3, 3, 45},
    };
    for (const Case& c : cases)
        EXPECT_EQ(predict4x4(c.mode, all)[static_cast<std::size_t>(4 * c.y + c.x)], c.value)
            << "mode " << c.mode << " at " << c.x << "," << c.y;
}

TEST(IntraPredictionTest, Intra4x4SubstitutesTheTopRightAndRefusesMissingSamples)
{
    // Without the above-right samples p[3,-1] = 40 stands in for p[4..7,-1].
    const IntraAvailability noTopRight{true, true, false, true};
    EXPECT_EQ(predict4x4(kI4DiagonalDownLeft, noTopRight)[15], 40);
    EXPECT_EQ(predict4x4(kI4DiagonalDownLeft, noTopRight)[4 * 1 + 2], 40);
    EXPECT_EQ(predict4x4(kI4Dc, {true, false, false, false})[0], 30);  // (120 + 2) >> 2
    EXPECT_EQ(predict4x4(kI4Dc, {false, false, false, false})[0], 128);

    Block4x4Area area;
    std::array<std::uint8_t, 16> pred{};
    EXPECT_FALSE(predictIntra4x4(kI4Vertical, area.block(), 9, {true, false, false, true}, pred.data(), 4));
    EXPECT_FALSE(predictIntra4x4(kI4DiagonalDownRight, area.block(), 9, {true, true, true, false}, pred.data(), 4));
    EXPECT_FALSE(predictIntra4x4(kI4HorizontalUp, area.block(), 9, {false, true, true, true}, pred.data(), 4));
    EXPECT_FALSE(predictIntra4x4(9, area.block(), 9, {true, true, true, true}, pred.data(), 4));
}

TEST(IntraPredictionTest, PlanePredictionOf16x16AndChroma)
{
    // 16x16: p[x,-1] = 4x, p[-1,y] = 2y, corner 0: H = 1600, V = 800,
    // a = 1440, b = 125, c = 63.
    std::array<std::uint8_t, 17 * 17> area{};
    for (int x = 0; x < 16; ++x) area[1 + x] = static_cast<std::uint8_t>(4 * x);
    for (int y = 0; y < 16; ++y) area[(1 + y) * 17] = static_cast<std::uint8_t>(2 * y);
    std::array<std::uint8_t, 256> pred{};
    ASSERT_TRUE(predictIntra16x16(kI16Plane, area.data() + 18, 17, {true, true, false, true}, pred.data(), 16));
    EXPECT_EQ(pred[0], 4);
    EXPECT_EQ(pred[15], 62);
    EXPECT_EQ(pred[15 * 16], 33);
    EXPECT_EQ(pred[255], 92);
    EXPECT_FALSE(predictIntra16x16(kI16Plane, area.data() + 18, 17, {true, true, false, false}, pred.data(), 16));

    // Chroma: p[x,-1] = 10 + 10x, p[-1,y] = 20 + 5y, corner 5: H = 580,
    // V = 340, a = 2160, b = 308, c = 181.
    std::array<std::uint8_t, 9 * 9> c{};
    c[0] = 5;
    for (int x = 0; x < 8; ++x) c[1 + x] = static_cast<std::uint8_t>(10 + 10 * x);
    for (int y = 0; y < 8; ++y) c[(1 + y) * 9] = static_cast<std::uint8_t>(20 + 5 * y);
    std::array<std::uint8_t, 64> cp{};
    ASSERT_TRUE(predictIntraChroma(kChromaPlane, c.data() + 10, 9, {true, true, false, true}, cp.data(), 8));
    EXPECT_EQ(cp[0], 22);
    EXPECT_EQ(cp[7], 89);
    EXPECT_EQ(cp[63], 129);
}

TEST(IntraPredictionTest, ChromaDcPrefersADifferentSidePerBlock)
{
    std::array<std::uint8_t, 9 * 9> c{};
    for (int x = 0; x < 8; ++x) c[1 + x] = x < 4 ? 10 : 50;
    for (int y = 0; y < 8; ++y) c[(1 + y) * 9] = 100;
    std::array<std::uint8_t, 64> p{};
    auto dcOf = [&](int blk) { return p[static_cast<std::size_t>(4 * (blk / 2) * 8 + 4 * (blk % 2))]; };
    ASSERT_TRUE(predictIntraChroma(kChromaDc, c.data() + 10, 9, {true, true, false, false}, p.data(), 8));
    EXPECT_EQ(dcOf(0), 55);   // both sides
    EXPECT_EQ(dcOf(1), 50);   // top right block: the row above
    EXPECT_EQ(dcOf(2), 100);  // bottom left block: the column to the left
    EXPECT_EQ(dcOf(3), 75);
    ASSERT_TRUE(predictIntraChroma(kChromaDc, c.data() + 10, 9, {false, true, false, false}, p.data(), 8));
    EXPECT_EQ(dcOf(0), 10);
    EXPECT_EQ(dcOf(2), 10);
    EXPECT_EQ(dcOf(3), 50);
}

// 3x2 macroblocks: slice 0 holds 0 and 1, slice 1 holds 2, 3 and 4; 5 is not coded yet.
MacroblockStates twoSlices()
{
    MacroblockStates s(3, 2);
    const int slice[6] = {0, 0, 1, 1, 1, -1};
    for (int i = 0; i < 6; ++i) {
        s[i].sliceNum = slice[i];
        s[i].mbType = MbType::I16x16;
    }
    return s;
}

TEST(IntraPredictionTest, NeighboursAreAvailableOnlyInsideTheSlice)
{
    MacroblockStates s = twoSlices();
    MbNeighbours n = macroblockNeighbours(s, 4);
    EXPECT_EQ(n.a, 3);
    EXPECT_EQ(n.b, -1);  // macroblock 1 is in slice 0
    EXPECT_EQ(n.c, 2);
    EXPECT_EQ(n.d, -1);
    MbNeighbours first = macroblockNeighbours(s, 3);
    EXPECT_EQ(first.a, -1);  // picture edge
    EXPECT_EQ(first.c, -1);  // macroblock 1: other slice

    // 4x4 blocks: block 5's above-right samples come from C, block 3's and
    // 13's are coded later, block 6's lie in block 5 of the same macroblock.
    EXPECT_TRUE(intra4x4Availability(s, n, 4, 5, false).topRight);
    EXPECT_FALSE(intra4x4Availability(s, n, 4, 3, false).topRight);
    EXPECT_FALSE(intra4x4Availability(s, n, 4, 13, false).topRight);
    EXPECT_TRUE(intra4x4Availability(s, n, 4, 6, false).topRight);
    EXPECT_FALSE(intra4x4Availability(s, n, 4, 0, false).top);
    EXPECT_TRUE(intra4x4Availability(s, n, 4, 0, false).left);

    // Constrained intra prediction drops inter neighbours.
    s[3].mbType = MbType::P16x16;
    EXPECT_TRUE(intra4x4Availability(s, n, 4, 0, false).left);
    EXPECT_FALSE(intra4x4Availability(s, n, 4, 0, true).left);
    EXPECT_FALSE(macroblockIntraAvailability(s, n, true).left);
    EXPECT_TRUE(macroblockIntraAvailability(s, n, true).topRight);
}

TEST(IntraPredictionTest, PredictedIntra4x4ModeAndNcReadTheRightNeighbourBlocks)
{
    MacroblockStates s(2, 2);
    for (int i = 0; i < 4; ++i) s[i].sliceNum = 0;
    // Macroblock 3's block 0 has block 5 of macroblock 2 to its left and
    // block 10 of macroblock 1 above.
    s[2].mbType = MbType::I4x4;
    s[2].intra4x4PredMode[5] = 7;
    s[2].totalCoeff[5] = 3;
    s[1].mbType = MbType::I16x16;
    s[1].totalCoeff[10] = 6;
    s[3].mbType = MbType::I4x4;
    MbNeighbours n = macroblockNeighbours(s, 3);
    EXPECT_EQ(predictedIntra4x4Mode(s, n, 3, 0, false), kIntra4x4Dc);  // above is not I4x4
    s[1].mbType = MbType::I4x4;
    s[1].intra4x4PredMode[10] = 4;
    EXPECT_EQ(predictedIntra4x4Mode(s, n, 3, 0, false), 4);
    s[3].intra4x4PredMode[1] = 8;
    s[3].intra4x4PredMode[2] = 6;
    EXPECT_EQ(predictedIntra4x4Mode(s, n, 3, 3, false), 6);  // left block 2, above block 1
    s[2].mbType = MbType::P16x16;
    EXPECT_EQ(predictedIntra4x4Mode(s, n, 3, 0, true), kIntra4x4Dc);

    EXPECT_EQ(coeffTokenNc(s, n, 3, ResidualBlockKind::Luma, 0), 5);  // (3 + 6 + 1) >> 1
    EXPECT_EQ(coeffTokenNc(s, n, 3, ResidualBlockKind::Intra16x16Dc, 0), 5);
    EXPECT_EQ(coeffTokenNc(s, n, 3, ResidualBlockKind::ChromaDc, 0), -1);
    s[2].totalCoeff[kCbBlocks + 1] = 4;
    s[1].totalCoeff[kCbBlocks + 2] = 9;
    s[3].totalCoeff[kCbBlocks + 0] = 2;
    EXPECT_EQ(coeffTokenNc(s, n, 3, ResidualBlockKind::CbAc, 0), 7);  // (4 + 9 + 1) >> 1
    EXPECT_EQ(coeffTokenNc(s, n, 3, ResidualBlockKind::CbAc, 1), 1);  // (2 + 0 + 1) >> 1: left inside, above 1's block 3
    EXPECT_EQ(coeffTokenNc(s, n, 3, ResidualBlockKind::CrAc, 0), 0);
    s[1].sliceNum = 1;
    n = macroblockNeighbours(s, 3);
    EXPECT_EQ(coeffTokenNc(s, n, 3, ResidualBlockKind::Luma, 0), 3);  // only A
}

} // namespace
} // namespace kestrune::codec
