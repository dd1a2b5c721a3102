// Every vector kernel against its plain version on the same random and
// extreme inputs: outputs must agree bit for bit.
#include "tools/codec/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace kestrune::codec {
namespace {

constexpr int kRounds = 3000;

class KernelsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!vectorKernels()) GTEST_SKIP() << "no vector kernels in this build or on this processor";
        vector_ = vectorKernels();
    }

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    template <class T>
    T pick(std::initializer_list<T> values) { return values.begin()[uniform(0, static_cast<int>(values.size()) - 1)]; }

    // Samples that often pass the deblocking tests: per line a base value, a
    // step between the p and q sides and some noise; sometimes pure extremes.
    void fillEdgeArea(std::vector<std::uint8_t>& plane, int stride, int edgeAt, bool verticalEdge)
    {
        const int rows = static_cast<int>(plane.size()) / stride;
        const int noise = pick({0, 1, 2, 4, 10, 128});
        const int base = pick({0, 255, uniform(0, 255)});
        const int lines = verticalEdge ? rows : stride, length = verticalEdge ? stride : rows;
        for (int line = 0; line < lines; ++line) {
            const int step = pick({0, 2, -3, 8, -15, 40, -255, 255});
            for (int i = 0; i < length; ++i) {
                const int x = verticalEdge ? i : line, y = verticalEdge ? line : i;
                const int v = base + (i >= edgeAt ? step : 0) + uniform(-noise, noise);
                plane[static_cast<std::size_t>(y * stride + x)] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
        }
    }

    std::uint32_t randomStrengths(int maxBs)
    {
        std::uint32_t bS = 0;
        const int same = pick({-1, 0, maxBs});  // sometimes one strength for the whole edge
        for (int k = 0; k < 4; ++k) bS |= static_cast<std::uint32_t>(same >= 0 ? same : uniform(0, maxBs)) << (8 * k);
        return bS;
    }

    EdgeThresholds randomThresholds()
    {
        // Indices below 16 give alpha or beta 0, which the callers never pass on.
        return edgeThresholds(pick({16, 51, uniform(16, 51)}), pick({16, 51, uniform(16, 51)}));
    }

    std::string describe(std::uint32_t bS, const EdgeThresholds& t)
    {
        return "bS " + std::to_string(bS) + " alpha " + std::to_string(t.alpha) + " beta " + std::to_string(t.beta);
    }

    std::mt19937 rng_{20240531};
    const CodecKernels& plain_ = plainKernels();
    const CodecKernels* vector_ = nullptr;
};

TEST_F(KernelsTest, LumaEdgeFiltersMatchInBothDirections)
{
    constexpr int stride = 24;
    for (int round = 0; round < kRounds; ++round) {
        const bool verticalEdge = round % 2 == 0;
        std::vector<std::uint8_t> a(stride * stride);
        fillEdgeArea(a, stride, 8, verticalEdge);
        std::vector<std::uint8_t> b = a;
        const std::uint32_t bS = randomStrengths(4);
        const EdgeThresholds t = randomThresholds();
        // q0 of the first line at (8, 4) / (4, 8).
        const int sampleStep = verticalEdge ? 1 : stride, lineStep = verticalEdge ? stride : 1;
        const int q0 = verticalEdge ? 4 * stride + 8 : 8 * stride + 4;
        plain_.filterLumaEdge(a.data() + q0, sampleStep, lineStep, bS, t);
        vector_->filterLumaEdge(b.data() + q0, sampleStep, lineStep, bS, t);
        ASSERT_EQ(a, b) << (verticalEdge ? "vertical " : "horizontal ") << describe(bS, t);
    }
}

TEST_F(KernelsTest, InnerVerticalLumaEdgesMatch)
{
    constexpr int stride = 20;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::uint8_t> a(stride * 16);
        fillEdgeArea(a, stride, uniform(1, 3) * 4, true);
        std::vector<std::uint8_t> b = a;
        const std::uint32_t bS[4] = {0, randomStrengths(3), randomStrengths(3), randomStrengths(3)};
        const EdgeThresholds t = randomThresholds();
        plain_.filterLumaInnerVerticalEdges(a.data(), stride, bS, t);
        vector_->filterLumaInnerVerticalEdges(b.data(), stride, bS, t);
        ASSERT_EQ(a, b) << describe(bS[1], t) << " " << bS[2] << " " << bS[3];
    }
}

TEST_F(KernelsTest, ChromaEdgeFiltersMatchForBothPlanesAndOnePlane)
{
    constexpr int stride = 16;
    for (int round = 0; round < kRounds; ++round) {
        const bool verticalEdge = round % 2 == 0, samePlane = round % 3 == 0;
        std::vector<std::uint8_t> cbA(stride * stride), crA(stride * stride);
        fillEdgeArea(cbA, stride, 4, verticalEdge);
        fillEdgeArea(crA, stride, 4, verticalEdge);
        std::vector<std::uint8_t> cbB = cbA, crB = crA;
        const std::uint32_t bS = randomStrengths(4);
        const EdgeThresholds t = randomThresholds();
        const int sampleStep = verticalEdge ? 1 : stride, lineStep = verticalEdge ? stride : 1;
        const int q0 = 4 * stride + 4;  // edge at x = 4 or y = 4, lines from 4
        plain_.filterChromaEdges(cbA.data() + q0, (samePlane ? cbA : crA).data() + q0, sampleStep, lineStep, bS, t);
        vector_->filterChromaEdges(cbB.data() + q0, (samePlane ? cbB : crB).data() + q0, sampleStep, lineStep, bS, t);
        ASSERT_EQ(cbA, cbB) << describe(bS, t);
        ASSERT_EQ(crA, crB) << describe(bS, t);
    }
}

TEST_F(KernelsTest, InterEdgeStrengthsMatch)
{
    auto randomMacroblock = [&] {
        MacroblockState mb;
        mb.mbType = MbType::P8x8;
        const bool uniformMotion = uniform(0, 2) == 0;
        const int range = pick({4, 8, 32767});
        const MotionVector shared{static_cast<std::int16_t>(uniform(-range, range)), static_cast<std::int16_t>(uniform(-range, range))};
        for (auto& v : mb.mv)
            v = uniformMotion ? shared
                              : MotionVector{static_cast<std::int16_t>(pick({-32768, 32767, uniform(-range, range)})),
                                             static_cast<std::int16_t>(pick({-32768, 32767, uniform(-range, range)}))};
        const int picture = uniform(0, 1);
        for (auto& r : mb.refPicId) r = uniformMotion ? picture : pick({0, 1, -1});
        return mb;
    };
    for (int round = 0; round < kRounds; ++round) {
        const MacroblockState left = randomMacroblock(), top = randomMacroblock(), q = randomMacroblock();
        const unsigned codedV = static_cast<unsigned>(pick({0, 0xFFFF, uniform(0, 0xFFFF)}));
        const unsigned codedH = static_cast<unsigned>(uniform(0, 0xFFFF));
        MacroblockEdgeStrengths a, b;
        plain_.interEdgeStrengths(left, top, q, codedV, codedH, a);
        vector_->interEdgeStrengths(left, top, q, codedV, codedH, b);
        for (int e = 0; e < 4; ++e)
            for (int k = 0; k < 4; ++k) {
                ASSERT_EQ(a.vertical[e][k], b.vertical[e][k]) << "vertical edge " << e << " segment " << k;
                ASSERT_EQ(a.horizontal[e][k], b.horizontal[e][k]) << "horizontal edge " << e << " segment " << k;
            }
    }
}

TEST_F(KernelsTest, ResidualAdditionMatchesOnFullRangeCoefficients)
{
    constexpr int stride = 8;
    for (int round = 0; round < kRounds; ++round) {
        std::array<std::int32_t, 16> d{};
        const int range = pick({8, 300, 32767});
        for (auto& c : d) c = pick({-32768, 32767, 0, uniform(-range, range)});
        std::vector<std::uint8_t> pred(stride * 4);
        for (auto& p : pred) p = static_cast<std::uint8_t>(pick({0, 255, uniform(0, 255)}));
        std::vector<std::uint8_t> a = pred, b = pred;  // the columns right of the block stay as in pred
        plain_.inverseTransformAdd4x4(d.data(), a.data(), stride, pred.data(), stride);
        vector_->inverseTransformAdd4x4(d.data(), b.data(), stride, pred.data(), stride);
        ASSERT_EQ(a, b) << "round " << round;
        // In place: the prediction is the destination.
        std::vector<std::uint8_t> inPlaceA = pred, inPlaceB = pred;
        plain_.inverseTransformAdd4x4(d.data(), inPlaceA.data(), stride, inPlaceA.data(), stride);
        vector_->inverseTransformAdd4x4(d.data(), inPlaceB.data(), stride, inPlaceB.data(), stride);
        ASSERT_EQ(inPlaceA, a);
        ASSERT_EQ(inPlaceB, b);

        const std::int32_t dc = pick({-32768, 32767, -(1 << 24), 1 << 24, uniform(-range, range)});
        plain_.addDcResidual4x4(dc, a.data(), stride, pred.data(), stride);
        vector_->addDcResidual4x4(dc, b.data(), stride, pred.data(), stride);
        ASSERT_EQ(a, b) << "dc " << dc;
    }
}

TEST_F(KernelsTest, ScalingMatchesAndSaturatesAlike)
{
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max(), kMin = std::numeric_limits<std::int32_t>::min();
    for (int round = 0; round < kRounds; ++round) {
        std::array<std::int16_t, 16> normAdjust{};
        for (auto& v : normAdjust) v = static_cast<std::int16_t>(uniform(10, 29));
        std::array<std::int32_t, 16> a{};
        const int range = pick({2, 100, 4000, 40000});
        for (auto& c : a) c = pick({0, 0, kMax, kMin, 32767, -32768, uniform(-range, range)});
        std::array<std::int32_t, 16> b = a;
        const int shift = uniform(0, 8);
        plain_.scaleLevels4x4(a.data(), normAdjust.data(), shift);
        vector_->scaleLevels4x4(b.data(), normAdjust.data(), shift);
        ASSERT_EQ(a, b) << "shift " << shift;
    }
}

TEST_F(KernelsTest, LumaInterpolationMatchesAtEveryPositionAndSize)
{
    constexpr int stride = 40, origin = 4 * stride + 4;  // room for 2 before and 3 after a 16x16 block
    std::vector<std::uint8_t> g(stride * 32);
    for (int round = 0; round < 300; ++round) {
        const int kind = round % 3;  // random, extremes only, smooth
        for (std::size_t i = 0; i < g.size(); ++i)
            g[i] = static_cast<std::uint8_t>(kind == 0 ? uniform(0, 255) : kind == 1 ? pick({0, 255}) : (i % stride) * 6);
        for (const int w : {4, 8, 16})
            for (const int h : {4, 8, 16})
                for (int frac = 1; frac < 16; ++frac) {
                    const int xFrac = frac & 3, yFrac = frac >> 2;
                    std::vector<std::uint8_t> a(16 * 24, 1), b = a;
                    plain_.lumaFractional(g.data() + origin, stride, xFrac, yFrac, w, h, a.data(), 24);
                    vector_->lumaFractional(g.data() + origin, stride, xFrac, yFrac, w, h, b.data(), 24);
                    ASSERT_EQ(a, b) << w << "x" << h << " at (" << xFrac << ", " << yFrac << ")";
                }
    }
}

TEST_F(KernelsTest, ChromaInterpolationMatchesForOneAndTwoPlanes)
{
    constexpr int stride = 12;
    std::vector<std::uint8_t> cb(stride * 10), cr(stride * 10);
    for (int round = 0; round < 300; ++round) {
        for (auto* plane : {&cb, &cr})
            for (auto& s : *plane) s = static_cast<std::uint8_t>(round % 2 ? uniform(0, 255) : pick({0, 255}));
        for (const int w : {2, 4, 8})
            for (const int h : {2, 4, 8})
                for (int frac = 1; frac < 64; ++frac) {
                    const int xFrac = frac & 7, yFrac = frac >> 3;
                    std::vector<std::uint8_t> a(8 * 16, 1), b = a;
                    plain_.chromaFractional(cb.data(), stride, w, h, xFrac, yFrac, a.data(), 16);
                    vector_->chromaFractional(cb.data(), stride, w, h, xFrac, yFrac, b.data(), 16);
                    ASSERT_EQ(a, b) << w << "x" << h << " at (" << xFrac << ", " << yFrac << ")";
                    std::vector<std::uint8_t> cbA(8 * 16, 1), crA = cbA, cbB = cbA, crB = cbA;
                    plain_.chromaPairFractional(cb.data(), cr.data(), stride, w, h, xFrac, yFrac, cbA.data(), crA.data(), 16);
                    vector_->chromaPairFractional(cb.data(), cr.data(), stride, w, h, xFrac, yFrac, cbB.data(), crB.data(), 16);
                    ASSERT_EQ(cbA, cbB) << w << "x" << h << " at (" << xFrac << ", " << yFrac << ")";
                    ASSERT_EQ(crA, crB) << w << "x" << h << " at (" << xFrac << ", " << yFrac << ")";
                    ASSERT_EQ(cbA, a);  // both planes as the one-plane kernel
                }
    }
}

// The Plain. runs of the codec tests are worth something only if the
// environment really switches the codec to the plain table.
TEST(CodecKernelsChoice, FollowsTheEnvironment)
{
    const char* asked = std::getenv("KESTRUNE_CODEC_KERNELS");
    const bool plainAsked = asked && std::strcmp(asked, "plain") == 0;
    EXPECT_EQ(&codecKernels(), plainAsked || !vectorKernels() ? &plainKernels() : vectorKernels())
        << "chosen: " << codecKernels().name;
}

} // namespace
} // namespace kestrune::codec
