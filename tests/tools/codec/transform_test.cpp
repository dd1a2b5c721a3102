// Transform, scaling and residual construction: hand-worked values from the
// equations of clauses 8.5.10-8.5.12, and forward-then-inverse round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "tools/codec/macroblock_state.h"
#include "tools/codec/quantisation.h"
#include "tools/codec/residual.h"
#include "tools/codec/transform.h"

namespace kestrune::codec {
namespace {

TEST(TransformTest, InverseTransformHalvesTheOddBasisFunctionsAndRoundsDown)
{
    // Worked by hand through the row and column butterflies of 8.5.12.2.
    std::int32_t d[16] = {0, -99, 0, 37, 130, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    inverseTransform4x4(d);
    const std::int32_t expected[16] = {1, 1, 3, 3, 0, 0, 2, 2, -2, -2, 0, 0, -3, -3, -1, -1};
    for (int k = 0; k < 16; ++k) EXPECT_EQ(d[k], expected[k]) << k;
}

TEST(TransformTest, InverseTransformEqualsTheMatrixFormWhereHalvingIsExact)
{
    // With inputs divisible by 4 every halving is exact, so r = (T' d T + 32) >> 6
    // with T the basis of 8.5.12.2; catches any transposed or swapped term.
    const double t[4][4] = {{1, 1, 1, 1}, {1, 0.5, -0.5, -1}, {1, -1, -1, 1}, {0.5, -1, 1, -0.5}};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> value(-2000, 2000);
    for (int trial = 0; trial < 200; ++trial) {
        std::int32_t d[16];
        for (auto& v : d) v = 4 * value(rng);
        double h[4][4] = {};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                for (int a = 0; a < 4; ++a)
                    for (int b = 0; b < 4; ++b) h[i][j] += t[a][i] * d[4 * a + b] * t[b][j];
        std::int32_t r[16];
        std::copy(d, d + 16, r);
        inverseTransform4x4(r);
        for (int k = 0; k < 16; ++k)
            ASSERT_EQ(r[k], static_cast<int>(std::floor((h[k / 4][k % 4] + 32) / 64))) << trial << " " << k;
    }
}

TEST(TransformTest, ForwardTransformIsCfXCfTransposed)
{
    const int cf[4][4] = {{1, 1, 1, 1}, {2, 1, -1, -2}, {1, -1, -1, 1}, {1, -2, 2, -1}};
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> value(-255, 255);
    std::int32_t x[16];
    for (auto& v : x) v = value(rng);
    std::int32_t w[16];
    std::copy(x, x + 16, w);
    forwardTransform4x4(w);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            int sum = 0;
            for (int a = 0; a < 4; ++a)
                for (int b = 0; b < 4; ++b) sum += cf[i][a] * x[4 * a + b] * cf[j][b];
            EXPECT_EQ(w[4 * i + j], sum) << i << "," << j;
        }
}

TEST(TransformTest, ScalingFollowsTheStandardsEquations)
{
    // 8.5.12.1 at qP 14 (qP % 6 = 2, qP / 6 = 2): normAdjust 13 / 20 / 16.
    std::int32_t c[16] = {1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -2};
    dequantise4x4(c, 14, false);
    EXPECT_EQ(c[0], 52);
    EXPECT_EQ(c[1], 64);
    EXPECT_EQ(c[5], 80);
    EXPECT_EQ(c[15], -160);
    std::int32_t keep[16] = {77, 1};
    dequantise4x4(keep, 14, true);
    EXPECT_EQ(keep[0], 77);
    EXPECT_EQ(keep[1], 64);

    // 8.5.10: below qP 36 rounded right shift, from 36 on a left shift.
    std::int32_t dcY[16] = {10, -10};
    dequantiseLumaDc(dcY, 28);  // (10 * 256 + 2) >> 2
    EXPECT_EQ(dcY[0], 640);
    EXPECT_EQ(dcY[1], -640);
    std::int32_t dcY0[16] = {10};
    dequantiseLumaDc(dcY0, 0);  // (10 * 160 + 32) >> 6
    EXPECT_EQ(dcY0[0], 25);
    std::int32_t dcY40[16] = {10};
    dequantiseLumaDc(dcY40, 40);  // 10 * 256 << 0
    EXPECT_EQ(dcY40[0], 2560);

    // 8.5.11.2: ((f * LevelScale) << (qP / 6)) >> 5.
    std::int32_t dcC[4] = {10, 0, -3, 0};
    dequantiseChromaDc(dcC, 28);
    EXPECT_EQ(dcC[0], 1280);
    EXPECT_EQ(dcC[2], -384);
    std::int32_t dcC0[4] = {10};
    dequantiseChromaDc(dcC0, 0);
    EXPECT_EQ(dcC0[0], 50);
}

TEST(TransformTest, ScalingIsLinearPerPositionDoublesEverySixStepsAndClampsTo16Bits)
{
    // The scale of each position at qP 0..5 is what a level of 1 becomes;
    // any level at any qP must then be level * scale << (qP / 6), clamped.
    std::int32_t scale[6][16];
    for (int m = 0; m < 6; ++m) {
        std::fill(scale[m], scale[m] + 16, 1);
        dequantise4x4(scale[m], m, false);
    }
    std::mt19937 rng(17);
    const std::int32_t extremes[] = {32767, -32768, 32768, -32769, 3277, -3277, 1 << 20, -(1 << 20), 2000000000, -2000000000};
    for (int trial = 0; trial < 5000; ++trial) {
        const int qp = static_cast<int>(rng() % 52);
        std::int32_t c[16];
        for (auto& v : c) {
            const unsigned pick = rng() % 8;
            v = pick < 3 ? 0 : pick < 6 ? static_cast<std::int32_t>(rng() % 401) - 200 : extremes[rng() % 10];
        }
        std::int32_t d[16];
        std::copy(c, c + 16, d);
        const bool separateDc = trial % 2 == 1;
        dequantise4x4(d, qp, separateDc);
        for (int k = 0; k < 16; ++k) {
            const std::int64_t expected =
                separateDc && k == 0 ? c[0]
                                     : std::clamp<std::int64_t>((std::int64_t{c[k]} * scale[qp % 6][k]) << (qp / 6), -32768, 32767);
            ASSERT_EQ(d[k], expected) << "qp " << qp << " position " << k << " level " << c[k];
        }
    }
}

TEST(TransformTest, OnePassReconstructionEqualsTransformThenAdd)
{
    // Random scaled blocks (16-bit, sparse to full, extremes included) over
    // random predictions, into a separate destination and in place.
    std::mt19937 rng(23);
    for (int trial = 0; trial < 20000; ++trial) {
        std::int32_t d[16];
        const unsigned density = rng() % 17;
        for (auto& v : d) {
            v = rng() % 16 < density ? static_cast<std::int32_t>(rng() % 65536) - 32768 : 0;
            if (rng() % 64 == 0) v = rng() % 2 ? 32767 : -32768;
            if (trial % 3 == 0) v /= 64;  // the usual small residuals
        }
        const bool dcOnly = trial % 4 == 0;
        if (dcOnly) std::fill(d + 1, d + 16, 0);
        const int stride = 4 + static_cast<int>(rng() % 13);
        std::vector<std::uint8_t> pred(static_cast<std::size_t>(4 * stride));
        for (auto& p : pred) p = static_cast<std::uint8_t>(rng());
        std::int32_t r[16];
        std::copy(d, d + 16, r);
        inverseTransform4x4(r);
        std::vector<std::uint8_t> expected = pred;
        addResidual4x4(expected.data(), stride, pred.data(), stride, r);

        std::vector<std::uint8_t> apart(pred.size(), 7);
        inverseTransformAdd4x4(d, apart.data(), stride, pred.data(), stride);
        std::vector<std::uint8_t> inPlace = pred;
        if (dcOnly)
            addDcResidual4x4(d[0], inPlace.data(), stride, inPlace.data(), stride);
        else
            inverseTransformAdd4x4(d, inPlace.data(), stride, inPlace.data(), stride);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const std::size_t i = static_cast<std::size_t>(y * stride + x);
                ASSERT_EQ(apart[i], expected[i]) << trial << " " << y << " " << x;
                ASSERT_EQ(inPlace[i], expected[i]) << trial << " " << y << " " << x;
            }
        // Samples right of the block are untouched.
        for (int y = 0; y < 4; ++y)
            for (int x = 4; x < stride; ++x) ASSERT_EQ(apart[static_cast<std::size_t>(y * stride + x)], 7);
    }
}

TEST(TransformTest, LevelsFromDamagedStreamsStayDefined)
{
    std::int32_t levels[16];
    for (auto& v : levels) v = 2000000000;
    std::array<std::uint8_t, 16> out{};
    reconstructLuma4x4(levels, 51, out.data(), 4, out.data(), 4);  // UBSan would flag an overflow
    std::int32_t dc[16];
    std::int32_t ac[16][16];
    for (auto& v : dc) v = -2000000000;
    for (auto& b : ac)
        for (auto& v : b) v = 2000000000;
    std::array<std::uint8_t, 256> mb{};
    reconstructIntra16x16Luma(dc, ac, 51, mb.data(), 16, mb.data(), 16);
    SUCCEED();
}

// Encodes src against pred with the forward path and reconstructs it with the
// decoder's functions; returns the reconstruction.
std::array<std::uint8_t, 16> roundTrip4x4(const std::array<std::uint8_t, 16>& src, std::uint8_t pred, int qp)
{
    std::array<std::uint8_t, 16> p;
    p.fill(pred);
    std::int32_t block[16];
    subtractPrediction4x4(src.data(), 4, p.data(), 4, block);
    forwardTransform4x4(block);
    quantise4x4(block, qp, 128, false);
    std::array<std::uint8_t, 16> rec{};
    reconstructLuma4x4(block, qp, rec.data(), 4, p.data(), 4);
    return rec;
}

TEST(TransformTest, QuantisedRoundTripErrorMatchesTheStepSize)
{
    // Uniform quantisation with step Qstep = 0.625 * 2^(qP/6) leaves a mean
    // squared error near Qstep^2 / 12 (plus 1/12 for the final rounding);
    // wrong scales for any position class or qP % 6 miss it by far.
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> sample(0, 255);
    for (int qp = 0; qp <= 51; ++qp) {
        double sse = 0;
        int maxError = 0;
        const int blocks = 300;
        for (int b = 0; b < blocks; ++b) {
            std::array<std::uint8_t, 16> src;
            for (auto& s : src) s = static_cast<std::uint8_t>(64 + sample(rng) / 2);
            auto rec = roundTrip4x4(src, 128, qp);
            for (int k = 0; k < 16; ++k) {
                int e = rec[k] - src[k];
                sse += e * e;
                maxError = std::max(maxError, std::abs(e));
            }
        }
        double mse = sse / (blocks * 16);
        double step = 0.625 * std::pow(2.0, qp / 6.0);
        double expected = step * step / 12 + 1.0 / 12;
        // Below qP 6 the integer rounding of the reconstruction hides most of
        // the error; beyond 30 most coefficients quantise to zero.
        if (qp >= 6 && qp <= 30) {
            EXPECT_GT(mse, 0.5 * expected) << "qp " << qp;
        }
        if (qp <= 30) {
            EXPECT_LT(mse, 1.6 * expected) << "qp " << qp;
        }
        if (qp <= 3) {
            EXPECT_LE(maxError, 1) << "qp " << qp;
        }
    }
}

TEST(TransformTest, Intra16x16AndChromaDcPathsReconstructFlatBlocks)
{
    // Blocks that differ from the prediction by a constant per 4x4 block are
    // carried by the DC transforms alone; at low qP they come back within 1.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> offset(-100, 100);
    for (int qp : {0, 6, 12, 17}) {
        std::array<std::uint8_t, 256> src{};
        std::array<std::uint8_t, 256> pred;
        pred.fill(128);
        for (int blk = 0; blk < 16; ++blk) {
            int o = offset(rng);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    src[(4 * kBlockY[blk] + y) * 16 + 4 * kBlockX[blk] + x] = static_cast<std::uint8_t>(128 + o);
        }
        std::int32_t ac[16][16];
        std::int32_t dc[16];
        for (int blk = 0; blk < 16; ++blk) {
            int off = 4 * kBlockY[blk] * 16 + 4 * kBlockX[blk];
            subtractPrediction4x4(src.data() + off, 16, pred.data() + off, 16, ac[blk]);
            forwardTransform4x4(ac[blk]);
            dc[kBlockY[blk] * 4 + kBlockX[blk]] = ac[blk][0];
            EXPECT_EQ(quantise4x4(ac[blk], qp, 128, true), 0);
        }
        forwardLumaDcTransform(dc);
        quantiseLumaDc(dc, qp, 128);
        std::array<std::uint8_t, 256> rec{};
        reconstructIntra16x16Luma(dc, ac, qp, rec.data(), 16, pred.data(), 16);
        for (int k = 0; k < 256; ++k) ASSERT_LE(std::abs(rec[k] - src[k]), 1) << "qp " << qp << " sample " << k;

        std::array<std::uint8_t, 64> csrc{};
        std::array<std::uint8_t, 64> cpred;
        cpred.fill(100);
        for (int blk = 0; blk < 4; ++blk) {
            int o = offset(rng);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x)
                    csrc[(4 * (blk / 2) + y) * 8 + 4 * (blk % 2) + x] = static_cast<std::uint8_t>(100 + o);
        }
        std::int32_t cac[4][16];
        std::int32_t cdc[4];
        for (int blk = 0; blk < 4; ++blk) {
            int off = 4 * (blk / 2) * 8 + 4 * (blk % 2);
            subtractPrediction4x4(csrc.data() + off, 8, cpred.data() + off, 8, cac[blk]);
            forwardTransform4x4(cac[blk]);
            cdc[blk] = cac[blk][0];
            quantise4x4(cac[blk], qp, 128, true);
        }
        chromaDcTransform(cdc);
        quantiseChromaDc(cdc, qp, 128);
        std::array<std::uint8_t, 64> crec{};
        reconstructChroma8x8(cdc, cac, qp, crec.data(), 8, cpred.data(), 8);
        for (int k = 0; k < 64; ++k) ASSERT_LE(std::abs(crec[k] - csrc[k]), 1) << "qp " << qp << " chroma " << k;
    }
}

} // namespace
} // namespace kestrune::codec
