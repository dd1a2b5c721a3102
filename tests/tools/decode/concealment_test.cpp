#include "tools/decode/concealment.h"

#include "tests/tools/decode/synthetic_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace kestrune::decode;
using kestrune::decode::test::OwnedPicture;

namespace {

int smoothTexture(int x, int y)
{
    return int(std::lround(128 + 50 * std::sin(x / 6.0) * std::cos(y / 9.0) + 20 * std::sin((x + y) / 11.0)));
}

MbGrid gridWithLost(int w, int h, std::initializer_list<std::pair<int, int>> lost)
{
    MbGrid grid(w, h);
    for (auto [x, y] : lost) grid.at(x, y) = MbState::Lost;
    return grid;
}

} // namespace

TEST(SpatialConcealment, BilinearRestoresASmoothGradientAlmostExactly)
{
    OwnedPicture truth(4, 4), damaged(4, 4);
    auto gradient = [](int x, int y) { return 20 + 2 * x + y; };
    truth.paint(gradient);
    damaged.paint(gradient);
    damaged.fillMacroblock(1, 1, 0);
    damaged.fillMacroblock(2, 2, 255);
    MbGrid grid = gridWithLost(4, 4, {{1, 1}, {2, 2}});

    EXPECT_EQ(concealSpatially(damaged.view(), grid, IntraMethod::Bilinear), 2);
    EXPECT_LE(damaged.maxDifference(truth, 1, 1), 1);
    EXPECT_LE(damaged.maxDifference(truth, 2, 2), 1);
    EXPECT_EQ(grid.count(MbState::Concealed), 2);
    EXPECT_EQ(grid.count(MbState::Lost), 0);
}

TEST(SpatialConcealment, AverageDcAndAverageMacroblockUseTheNeighbours)
{
    // Left neighbour a horizontal ramp, right neighbour flat; top and bottom are outside the picture.
    auto paint = [](OwnedPicture& p) {
        p.paint([](int x, int) { return x < 16 ? 10 * (x % 16) : 200; });
    };
    OwnedPicture dc(3, 1), mb(3, 1);
    paint(dc);
    paint(mb);
    MbGrid dcGrid = gridWithLost(3, 1, {{1, 0}});
    MbGrid mbGrid = dcGrid;
    concealSpatially(dc.view(), dcGrid, IntraMethod::AverageDc);
    concealSpatially(mb.view(), mbGrid, IntraMethod::AverageMacroblock);

    // DC: mean of the left line (150) and the right line (200).
    EXPECT_EQ(dc.view().luma.at(16, 0), 175);
    EXPECT_EQ(dc.view().luma.at(31, 15), 175);
    // Macroblock: each pixel the mean of the co-located left (10c) and right (200) pixels.
    for (int c = 0; c < 16; ++c) EXPECT_EQ(mb.view().luma.at(16 + c, 7), (10 * c + 200 + 1) / 2) << c;
}

TEST(SpatialConcealment, NoneAndMissingNeighboursGiveMidGrey)
{
    OwnedPicture picture(2, 1);
    picture.paint([](int, int) { return 30; });
    MbGrid grid = gridWithLost(2, 1, {{0, 0}});
    concealSpatially(picture.view(), grid, IntraMethod::None);
    EXPECT_EQ(picture.view().luma.at(5, 5), 128);
    EXPECT_EQ(picture.view().cb.at(3, 3), 128);
    EXPECT_EQ(picture.view().luma.at(20, 5), 30);
    EXPECT_EQ(grid.count(MbState::Lost), 1) << "unconcealed blocks stay lost";

    OwnedPicture allLost(2, 2);
    allLost.paint([](int, int) { return 7; });
    MbGrid everything(2, 2, MbState::Lost);
    for (IntraMethod m : {IntraMethod::AverageDc, IntraMethod::AverageMacroblock, IntraMethod::Bilinear}) {
        MbGrid g = everything;
        concealSpatially(allLost.view(), g, m);
        EXPECT_EQ(allLost.view().luma.at(31, 31), 128) << methodName(m);
        EXPECT_EQ(g.count(MbState::Concealed), 4);
    }
}

TEST(SpatialConcealment, ConcealedNeighboursCountOnlyWhenFewerThanTwoAreCorrect)
{
    MbGrid grid(3, 3);
    grid.at(1, 1) = MbState::Lost;
    grid.at(1, 0) = MbState::Concealed;
    grid.at(0, 1) = MbState::Concealed;
    Sides s = usableNeighbours(grid, 1, 1); // right and bottom correct
    EXPECT_FALSE(s.top);
    EXPECT_FALSE(s.left);
    EXPECT_TRUE(s.right && s.bottom);

    grid.at(2, 1) = MbState::Lost;
    s = usableNeighbours(grid, 1, 1); // only bottom correct
    EXPECT_TRUE(s.top && s.left && s.bottom);
    EXPECT_FALSE(s.right);

    s = usableNeighbours(grid, 0, 0); // corner: right is concealed, bottom concealed
    EXPECT_EQ(s.count(), 2);
}

TEST(SpatialConcealment, OrderWorksInwardFromTheDecodedArea)
{
    // Rows 1..3 of five lost: rows 1 and 3 come before row 2.
    MbGrid grid(4, 5);
    for (int y = 1; y <= 3; ++y)
        for (int x = 0; x < 4; ++x) grid.at(x, y) = MbState::Lost;
    auto order = concealmentOrder(grid);
    ASSERT_EQ(order.size(), 12u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_NE(order[i].second, 2) << i;
    for (std::size_t i = 8; i < 12; ++i) EXPECT_EQ(order[i].second, 2) << i;

    // Every block but the first has a finished neighbour when its turn comes.
    MbGrid all(3, 3, MbState::Lost);
    auto whole = concealmentOrder(all);
    ASSERT_EQ(whole.size(), 9u);
    for (std::size_t i = 1; i < whole.size(); ++i) {
        bool touches = false;
        for (std::size_t j = 0; j < i; ++j)
            touches |= std::abs(whole[i].first - whole[j].first) + std::abs(whole[i].second - whole[j].second) == 1;
        EXPECT_TRUE(touches) << i;
    }
}

TEST(MotionPrediction, IntegerHalfAndEdgeSamples)
{
    OwnedPicture ref(1, 1);
    ref.paint([](int x, int y) { return x * 10 + y; });
    std::uint8_t block[4];
    predictBlock(ref.view().luma, 4, 4, 2, {8, -4}, 4, block); // (+2, -1) samples
    EXPECT_EQ(block[0], 6 * 10 + 3);
    EXPECT_EQ(block[3], 7 * 10 + 4);
    predictBlock(ref.view().luma, 4, 4, 2, {2, 0}, 4, block); // half a sample right
    EXPECT_EQ(block[0], (40 + 4 + 50 + 4 + 1) / 2);
    predictBlock(ref.view().luma, 0, 0, 2, {-40, -40}, 4, block); // far outside: edge repeated
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[3], 0);
    predictBlock(ref.view().cb, 0, 0, 2, {8, 0}, 8, block); // chroma: eighth samples
    EXPECT_EQ(block[0], ref.view().cb.at(1, 0));
}

TEST(MotionCandidates, NeighbourVectorsMeanMedianAndZeroWithoutStaleOnes)
{
    MotionField field(3, 3);
    field.setArea(16, 0, 16, 16, {4, 8});   // top neighbour
    field.setArea(0, 16, 16, 16, {-8, 0});  // left neighbour
    field.setArea(16, 16, 16, 16, {99, 99}); // the lost block's own, stale
    MbGrid grid(3, 3);
    grid.at(1, 1) = MbState::Lost;
    field.dropLost(grid);
    EXPECT_EQ(field.get(5, 5), nullptr);

    const Sides sides = usableNeighbours(grid, 1, 1);
    auto candidates = candidateVectors(field, 1, 1, sides);
    auto has = [&](MotionVector mv) { return std::find(candidates.begin(), candidates.end(), mv) != candidates.end(); };
    EXPECT_TRUE(has({0, 0}));
    EXPECT_TRUE(has({4, 8}));
    EXPECT_TRUE(has({-8, 0}));
    EXPECT_TRUE(has({-2, 4})); // mean
    EXPECT_FALSE(has({99, 99}));
    for (std::size_t i = 0; i < candidates.size(); ++i)
        for (std::size_t j = i + 1; j < candidates.size(); ++j) EXPECT_FALSE(candidates[i] == candidates[j]);
}

TEST(BoundaryMatching, RestoresATranslatedPicture)
{
    // The current picture is the reference moved 3 samples left and 2 up, i.e. vector (+3, +2).
    const MotionVector motion{12, 8};
    OwnedPicture reference(5, 4), truth(5, 4), damaged(5, 4);
    reference.paint(smoothTexture);
    truth.paint([](int x, int y) { return smoothTexture(x + 3, y + 2); });
    damaged = truth;
    damaged.fillMacroblock(2, 1, 0);
    damaged.fillMacroblock(2, 2, 0);
    MbGrid grid = gridWithLost(5, 4, {{2, 1}, {2, 2}});

    // Only the left neighbours carry the true vector; the others are intra, or wrong.
    MotionField field(5, 4);
    field.setArea(16, 16, 16, 32, motion);
    field.setArea(48, 16, 16, 16, {-20, 12});
    EXPECT_EQ(concealByBoundaryMatching(damaged.view(), reference.view(), grid, field), 2);
    EXPECT_LE(damaged.maxDifference(truth, 2, 1), 1);
    EXPECT_LE(damaged.maxDifference(truth, 2, 2), 1);
    ASSERT_NE(field.get(9, 9), nullptr);
    EXPECT_EQ(*field.get(9, 9), motion) << "the chosen vector is kept for later neighbours";
}

TEST(BoundaryMatching, CostComparesThePredictedRingWithTheNeighboursAndDividesBySides)
{
    OwnedPicture picture(3, 3);
    picture.paint([](int, int) { return 50; });
    std::uint8_t area[kMatchArea * kMatchArea];
    std::fill(std::begin(area), std::end(area), 50);
    const Sides all{true, true, true, true};
    EXPECT_EQ(boundaryCost(picture.view().luma, 16, 16, area, all), 0);
    std::fill(std::begin(area), std::end(area), 60);
    EXPECT_EQ(boundaryCost(picture.view().luma, 16, 16, area, all), 160);
    EXPECT_EQ(boundaryCost(picture.view().luma, 16, 16, area, Sides{true, false, false, false}), 160);
    // Only the ring counts, not the block inside it.
    for (int r = 1; r < kMatchArea - 1; ++r)
        for (int c = 1; c < kMatchArea - 1; ++c) area[r * kMatchArea + c] = 0;
    EXPECT_EQ(boundaryCost(picture.view().luma, 16, 16, area, all), 160);
}

TEST(BoundaryMatching, AGradientAcrossTheEdgeDoesNotPullTheVectorOff)
{
    // A steep horizontal ramp moved one sample: the true vector (+1, 0) must beat
    // a half-sample one, which would better match the block's own border with
    // the pixels next to it.
    auto ramp = [](int x, int) { return std::min(250, 8 * x); };
    OwnedPicture reference(3, 1), truth(3, 1), damaged(3, 1);
    reference.paint(ramp);
    truth.paint([&](int x, int y) { return ramp(x + 1, y); });
    damaged = truth;
    damaged.fillMacroblock(1, 0, 0);
    MbGrid grid = gridWithLost(3, 1, {{1, 0}});
    MotionField field(3, 1);
    field.setArea(0, 0, 16, 16, {2, 0});
    field.setArea(32, 0, 16, 16, {4, 0});
    concealByBoundaryMatching(damaged.view(), reference.view(), grid, field);
    EXPECT_EQ(*field.get(5, 1), (MotionVector{4, 0}));
    EXPECT_LE(damaged.maxDifference(truth, 1, 0), 2) << "chroma moves by half a sample and rounds";
}

TEST(BoundaryMatching, TheCoLocatedVectorOfThePreviousPictureIsACandidate)
{
    // Every neighbour is intra (no vector); the previous picture moved by (+3, +2)
    // at this position, so its co-located vector is the one that restores the block.
    const MotionVector motion{12, 8};
    OwnedPicture reference(3, 3), truth(3, 3), damaged(3, 3);
    reference.paint(smoothTexture);
    truth.paint([](int x, int y) { return smoothTexture(x + 3, y + 2); });
    damaged = truth;
    damaged.fillMacroblock(1, 1, 0);
    MbGrid grid = gridWithLost(3, 3, {{1, 1}});
    MotionField field(3, 3), previousField(3, 3);
    previousField.setArea(16, 16, 16, 16, motion);

    auto candidates = candidateVectors(field, 1, 1, usableNeighbours(grid, 1, 1), &previousField);
    EXPECT_NE(std::find(candidates.begin(), candidates.end(), motion), candidates.end());
    EXPECT_EQ(candidateVectors(field, 1, 1, usableNeighbours(grid, 1, 1)).size(), 1u) << "zero vector only";

    concealByBoundaryMatching(damaged.view(), reference.view(), grid, field, &previousField);
    EXPECT_LE(damaged.maxDifference(truth, 1, 1), 1);
}

TEST(BoundaryMatching, RefinesTheBestCandidateByAQuarterSample)
{
    // A horizontal ramp moved by 2.25 samples; both neighbours say 2 samples.
    OwnedPicture reference(3, 1), truth(3, 1), damaged(3, 1);
    reference.paint([](int x, int) { return 4 * x; });
    truth.paint([](int x, int) { return 4 * x + 9; });
    damaged = truth;
    damaged.fillMacroblock(1, 0, 0);
    MbGrid grid = gridWithLost(3, 1, {{1, 0}});
    MotionField field(3, 1);
    field.setArea(0, 0, 48, 16, {8, 0});
    field.dropLost(grid);
    concealByBoundaryMatching(damaged.view(), reference.view(), grid, field);
    EXPECT_EQ(field.get(5, 1)->x, 9); // any vertical component fits a horizontal ramp
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) ASSERT_EQ(damaged.view().luma.at(16 + c, r), 4 * (16 + c) + 9) << c << "," << r;
}
