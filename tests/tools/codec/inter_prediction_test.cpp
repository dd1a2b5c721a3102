// Fractional sample interpolation (clause 8.4.2.2) and motion vector
// prediction (clause 8.4.1): hand-worked values and edge clamping.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "tools/codec/inter_prediction.h"
#include "tools/codec/motion_vector_prediction.h"

namespace kestrune::codec {
namespace {

// A 32x32 plane of 50 with one sample of 100 at (16, 16): each half-sample
// value then shows which tap of the six-tap filter met the impulse.
struct ImpulsePlane {
    std::vector<std::uint8_t> s = std::vector<std::uint8_t>(32 * 32, 50);
    ImpulsePlane() { s[16 * 32 + 16] = 100; }
    ConstPlaneView view() const { return {s.data(), 32, 32, 32}; }
};

std::array<std::uint8_t, 16> luma4x4(const ConstPlaneView& ref, int x, int y, int mvx, int mvy)
{
    std::array<std::uint8_t, 16> out{};
    predictLuma(ref, x, y, {static_cast<std::int16_t>(mvx), static_cast<std::int16_t>(mvy)}, 4, 4, out.data(), 4);
    return out;
}

TEST(InterPredictionTest, LumaHalfAndQuarterSamplesFollowTheSixTapFilter)
{
    ImpulsePlane p;
    // b: tap 20 gives (1600 + 1000 + 16) >> 5 = 81, tap -5 gives 42.
    auto b = luma4x4(p.view(), 14, 14, 2, 0);
    EXPECT_EQ((std::array<int, 4>{b[8], b[9], b[10], b[11]}), (std::array<int, 4>{42, 81, 81, 42}));
    EXPECT_EQ(b[0], 50);
    // h: the same vertically.
    auto h = luma4x4(p.view(), 14, 14, 0, 2);
    EXPECT_EQ((std::array<int, 4>{h[2], h[6], h[10], h[14]}), (std::array<int, 4>{42, 81, 81, 42}));
    // j: (51200 + 50 tV tH + 512) >> 10 from the unrounded intermediates.
    auto j = luma4x4(p.view(), 14, 14, 2, 2);
    EXPECT_EQ(j[5], 70);   // 20 x 20
    EXPECT_EQ(j[4], 45);   // -5 x 20
    EXPECT_EQ(j[0], 51);   // -5 x -5
    EXPECT_EQ(j[15], 51);
    // a = (G + b + 1) >> 1.
    auto a = luma4x4(p.view(), 14, 14, 1, 0);
    EXPECT_EQ((std::array<int, 4>{a[8], a[9], a[10], a[11]}), (std::array<int, 4>{46, 66, 91, 46}));
    // r = (m + s + 1) >> 1: m the vertical half sample right, s the horizontal one below.
    auto r = luma4x4(p.view(), 14, 14, 3, 3);
    EXPECT_EQ(r[0], 50);
    EXPECT_EQ(r[5], 81);
    EXPECT_EQ(r[6], 66);
    // f = (b + j + 1) >> 1 at (1, 1): b = 81 (row 15 has no impulse: 50), j = 70.
    auto f = luma4x4(p.view(), 14, 14, 2, 1);
    EXPECT_EQ(f[5], (50 + 70 + 1) >> 1);
    EXPECT_EQ(f[9], (81 + 70 + 1) >> 1);
}

TEST(InterPredictionTest, ReferencesOutsideThePictureRepeatTheEdgeSamples)
{
    // The prediction near and beyond the edges must equal the prediction from
    // an explicitly padded copy, where no clamping happens, for every
    // fractional position and block size.
    const int w = 32, hgt = 24, pad = 40;
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> sample(0, 255);
    std::vector<std::uint8_t> ref(w * hgt);
    for (auto& s : ref) s = static_cast<std::uint8_t>(sample(rng));
    const int pw = w + 2 * pad, ph = hgt + 2 * pad;
    std::vector<std::uint8_t> padded(pw * ph);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x)
            padded[y * pw + x] = ref[std::clamp(y - pad, 0, hgt - 1) * w + std::clamp(x - pad, 0, w - 1)];
    ConstPlaneView plain{ref.data(), w, hgt, w};
    ConstPlaneView big{padded.data(), pw, ph, pw};
    std::uniform_int_distribution<int> vec(-4 * 30, 4 * 30);
    for (int trial = 0; trial < 400; ++trial) {
        const int size = trial % 3 == 0 ? 16 : trial % 3 == 1 ? 8 : 4;
        const int x = (trial * 4) % (w - size + 1) / 4 * 4, y = (trial * 8) % (hgt - size + 1) / 4 * 4;
        MotionVector mv{static_cast<std::int16_t>(vec(rng)), static_cast<std::int16_t>(vec(rng))};
        std::array<std::uint8_t, 256> got{}, want{};
        predictLuma(plain, x, y, mv, size, size, got.data(), 16);
        predictLuma(big, x + pad, y + pad, mv, size, size, want.data(), 16);
        ASSERT_EQ(got, want) << "trial " << trial << " mv " << mv.x << "," << mv.y;
        std::array<std::uint8_t, 64> cgot{}, cwant{};
        predictChroma(plain, x / 2, y / 2, mv, size / 2, size / 2, cgot.data(), 8);
        predictChroma(big, x / 2 + pad, y / 2 + pad, mv, size / 2, size / 2, cwant.data(), 8);
        ASSERT_EQ(cgot, cwant) << "chroma trial " << trial;
    }
    // Far outside, every sample is the corner's.
    auto far = luma4x4(plain, 0, 0, -4000, -4001);
    for (auto s : far) EXPECT_EQ(s, ref[0]);
}

// Clause 8.4.2.2.1 sample by sample, written as the standard states it
// (Figure 8-4 names, Table 8-12), for the optimised kernel to match.
int referenceLumaSample(const ConstPlaneView& ref, int xInt, int yInt, int xFrac, int yFrac)
{
    auto G = [&](int dx, int dy) {
        return static_cast<int>(ref.at(std::clamp(xInt + dx, 0, ref.width - 1), std::clamp(yInt + dy, 0, ref.height - 1)));
    };
    auto clip = [](int v) { return std::clamp(v, 0, 255); };
    auto tap = [](int e, int f, int g, int h, int i, int j) { return e - 5 * f + 20 * g + 20 * h - 5 * i + j; };
    auto b1At = [&](int dx, int dy) { return tap(G(dx - 2, dy), G(dx - 1, dy), G(dx, dy), G(dx + 1, dy), G(dx + 2, dy), G(dx + 3, dy)); };
    auto h1At = [&](int dx, int dy) { return tap(G(dx, dy - 2), G(dx, dy - 1), G(dx, dy), G(dx, dy + 1), G(dx, dy + 2), G(dx, dy + 3)); };
    const int b = clip((b1At(0, 0) + 16) >> 5), h = clip((h1At(0, 0) + 16) >> 5);
    const int s = clip((b1At(0, 1) + 16) >> 5), m = clip((h1At(1, 0) + 16) >> 5);
    const int j1 = tap(b1At(0, -2), b1At(0, -1), b1At(0, 0), b1At(0, 1), b1At(0, 2), b1At(0, 3));
    const int j = clip((j1 + 512) >> 10);
    const int table[4][4] = {
        // [yFrac][xFrac]
        {G(0, 0), (G(0, 0) + b + 1) >> 1, b, (G(1, 0) + b + 1) >> 1},
        {(G(0, 0) + h + 1) >> 1, (b + h + 1) >> 1, (b + j + 1) >> 1, (b + m + 1) >> 1},
        {h, (h + j + 1) >> 1, j, (j + m + 1) >> 1},
        {(G(0, 1) + h + 1) >> 1, (h + s + 1) >> 1, (j + s + 1) >> 1, (m + s + 1) >> 1},
    };
    return table[yFrac][xFrac];
}

TEST(InterPredictionTest, LumaMatchesTheStandardsEquationsEverywhere)
{
    const int w = 48, hgt = 32;
    std::mt19937 rng(21);
    std::uniform_int_distribution<int> sample(0, 255);
    std::vector<std::uint8_t> ref(w * hgt);
    for (auto& s : ref) s = static_cast<std::uint8_t>(sample(rng));
    ConstPlaneView plane{ref.data(), w, hgt, w};
    std::uniform_int_distribution<int> vec(-4 * 24, 4 * 24);
    const int sizes[][2] = {{16, 16}, {16, 8}, {8, 16}, {8, 8}, {8, 4}, {4, 8}, {4, 4}};
    for (int trial = 0; trial < 700; ++trial) {
        const int bw = sizes[trial % 7][0], bh = sizes[trial % 7][1];
        const int x = 4 * static_cast<int>(rng() % static_cast<unsigned>((w - bw) / 4 + 1));
        const int y = 4 * static_cast<int>(rng() % static_cast<unsigned>((hgt - bh) / 4 + 1));
        // Every fractional position in turn, integer parts at random.
        const MotionVector mv{static_cast<std::int16_t>(vec(rng) / 4 * 4 + trial % 4),
                              static_cast<std::int16_t>(vec(rng) / 4 * 4 + (trial / 4) % 4)};
        std::array<std::uint8_t, 256> got{};
        predictLuma(plane, x, y, mv, bw, bh, got.data(), 16);
        for (int j = 0; j < bh; ++j)
            for (int i = 0; i < bw; ++i)
                ASSERT_EQ(got[static_cast<std::size_t>(j * 16 + i)],
                          referenceLumaSample(plane, x + i + (mv.x >> 2), y + j + (mv.y >> 2), mv.x & 3, mv.y & 3))
                    << "trial " << trial << " mv " << mv.x << "," << mv.y << " at " << i << "," << j;
    }
}

// Clause 8.4.2.2.2 sample by sample, coordinates clamped to the plane.
int referenceChromaSample(const ConstPlaneView& ref, int xInt, int yInt, int xFrac, int yFrac)
{
    auto C = [&](int dx, int dy) {
        return static_cast<int>(ref.at(std::clamp(xInt + dx, 0, ref.width - 1), std::clamp(yInt + dy, 0, ref.height - 1)));
    };
    return ((8 - xFrac) * (8 - yFrac) * C(0, 0) + xFrac * (8 - yFrac) * C(1, 0) + (8 - xFrac) * yFrac * C(0, 1) +
            xFrac * yFrac * C(1, 1) + 32) >> 6;
}

TEST(InterPredictionTest, PartitionsMatchTheStandardsEquationsInAllPlanesAndTouchNothingElse)
{
    // Random pictures, pictures of only 0 and 255, and the two patterns that
    // drive the centre sample's intermediates to their extremes: rows whose
    // six taps meet 255 0 255 255 0 255 (b1 = 10710, "A") or 0 255 0 0 255 0
    // (b1 = -2550, "B"), in the row order A B A A B A and B A B B A B.
    // Every partition shape at every fractional position, vectors reaching
    // well beyond the edges.
    std::mt19937 rng(5);
    const int sizes[][2] = {{16, 16}, {16, 8}, {8, 16}, {8, 8}, {8, 4}, {4, 8}, {4, 4}};
    for (int kind = 0; kind < 4; ++kind) {
        Picture ref(3, 2);
        for (int p : {kLuma, kCb, kCr}) {
            const PlaneView v = ref.plane(p);
            for (int y = 0; y < v.height; ++y) {
                for (int x = 0; x < v.width; ++x) {
                    const bool rowA = (y % 3 == 1) == (kind == 3);
                    const bool high = (x % 6 == 1 || x % 6 == 4) != rowA;
                    const int pattern = high ? 255 : 0;
                    v.at(x, y) = static_cast<std::uint8_t>(kind == 0 ? rng() & 255 : kind == 1 ? (rng() & 1) * 255 : pattern);
                }
            }
        }
        std::uniform_int_distribution<int> vec(-4 * 40, 4 * 40);
        for (int trial = 0; trial < 1792; ++trial) {
            const int bw = sizes[trial % 7][0], bh = sizes[trial % 7][1];
            const int x = bw * static_cast<int>(rng() % static_cast<unsigned>(48 / bw));
            const int y = bh * static_cast<int>(rng() % static_cast<unsigned>(32 / bh));
            // Luma positions cycle through all 16, chroma eighths follow the vector.
            const MotionVector mv{static_cast<std::int16_t>(vec(rng) / 8 * 8 + trial % 8),
                                  static_cast<std::int16_t>(vec(rng) / 8 * 8 + (trial / 8) % 8)};
            Picture dst(3, 2);
            dst.fill(77);
            predictPartition(ref, x, y, bw, bh, mv, dst);
            for (int p : {kLuma, kCb, kCr}) {
                const int shift = p == kLuma ? 0 : 1;
                const ConstPlaneView r = ref.plane(p), d = std::as_const(dst).plane(p);
                for (int j = 0; j < d.height; ++j) {
                    for (int i = 0; i < d.width; ++i) {
                        const int bi = i - (x >> shift), bj = j - (y >> shift);
                        int want = 77;
                        if (bi >= 0 && bj >= 0 && bi < bw >> shift && bj < bh >> shift) {
                            want = p == kLuma ? referenceLumaSample(r, i + (mv.x >> 2), j + (mv.y >> 2), mv.x & 3, mv.y & 3)
                                              : referenceChromaSample(r, i + (mv.x >> 3), j + (mv.y >> 3), mv.x & 7, mv.y & 7);
                        }
                        ASSERT_EQ(d.at(i, j), want) << "plane " << p << " trial " << trial << " block " << bw << "x" << bh
                                                    << " at " << x << "," << y << " mv " << mv.x << "," << mv.y
                                                    << " sample " << i << "," << j;
                    }
                }
                // The encoder's one-plane entry points give the same block.
                std::array<std::uint8_t, 16 * 16> single{};
                const int pw = bw >> shift, ph = bh >> shift;
                if (p == kLuma) predictLuma(r, x, y, mv, bw, bh, single.data(), 16);
                else predictChroma(r, x >> 1, y >> 1, mv, pw, ph, single.data(), 16);
                for (int j = 0; j < ph; ++j)
                    ASSERT_EQ(0, std::memcmp(single.data() + j * 16, d.row((y >> shift) + j) + (x >> shift), static_cast<std::size_t>(pw)))
                        << "plane " << p << " trial " << trial << " row " << j;
            }
        }
    }
}

TEST(InterPredictionTest, ChromaIsBilinearInEighthSamples)
{
    std::array<std::uint8_t, 4> ref = {10, 50, 90, 130};
    ConstPlaneView v{ref.data(), 2, 2, 2};
    std::uint8_t out = 0;
    // ((5 * 10) * 3 + ...): weights (8-3)(8-5), 3(8-5), (8-3)5, 3 * 5.
    predictChroma(v, 0, 0, {3, 5}, 1, 1, &out, 1);
    EXPECT_EQ(out, (15 * 10 + 9 * 50 + 25 * 90 + 15 * 130 + 32) >> 6);
    EXPECT_EQ(out, 75);
}

// 3x2 macroblocks, all in slice 0; the current one is 4 (A 3, B 1, C 2, D 0).
struct Field {
    MacroblockStates s{3, 2};
    Field()
    {
        for (int i = 0; i < 6; ++i) s[i].sliceNum = 0;
        s[5].sliceNum = -1;
    }
    void inter(int mbAddr, int refIdx, int mvx, int mvy)
    {
        s[mbAddr].mbType = MbType::P16x16;
        s[mbAddr].refIdx.fill(static_cast<std::int8_t>(refIdx));
        s[mbAddr].mv.fill({static_cast<std::int16_t>(mvx), static_cast<std::int16_t>(mvy)});
    }
    MotionVector mvp(int x4, int y4, int w4, int h4, int refIdx)
    {
        return predictMotionVector(s, macroblockNeighbours(s, 4), 4, x4, y4, w4, h4, refIdx);
    }
};

TEST(MotionVectorPredictionTest, MedianAndItsExceptions)
{
    Field f;
    f.inter(0, 0, 100, 100);
    f.inter(3, 0, 4, 0);
    f.inter(1, 0, 8, -4);
    f.inter(2, 0, -2, 6);
    f.s[4].mbType = MbType::P16x16;
    EXPECT_EQ(f.mvp(0, 0, 4, 4, 0), (MotionVector{4, 0}));
    // Only one neighbour with the same reference: its vector.
    f.inter(1, 1, 8, -4);
    f.inter(2, 1, -2, 6);
    EXPECT_EQ(f.mvp(0, 0, 4, 4, 0), (MotionVector{4, 0}));
    EXPECT_EQ(f.mvp(0, 0, 4, 4, 1), (MotionVector{4, 0}));  // median again: A (4,0), B (8,-4), C (-2,6)
    // C intra: available with refIdx -1, so D does not stand in.
    f.inter(1, 0, 8, -4);
    f.s[2].mbType = MbType::I16x16;
    EXPECT_EQ(f.mvp(0, 0, 4, 4, 0), (MotionVector{4, 0}));  // median of (4,0), (8,-4), (0,0)
    // C not coded: D stands in.
    f.s[2].sliceNum = -1;
    EXPECT_EQ(f.mvp(0, 0, 4, 4, 0), (MotionVector{8, 0}));  // median of (4,0), (8,-4), (100,100)
    // B and C not available, A is: A's vector whatever its reference.
    f.s[0].sliceNum = f.s[1].sliceNum = 1;
    f.inter(3, 2, 4, 0);
    EXPECT_EQ(f.mvp(0, 0, 4, 4, 0), (MotionVector{4, 0}));
}

TEST(MotionVectorPredictionTest, DirectionalPartitionsAndPartitionsNotYetCoded)
{
    Field f;
    f.inter(0, 0, 100, 100);
    f.inter(3, 1, 4, 0);
    f.inter(1, 0, 8, -4);
    f.inter(2, 1, -2, 6);
    f.s[4].mbType = MbType::P16x8;
    EXPECT_EQ(f.mvp(0, 0, 4, 2, 0), (MotionVector{8, -4}));  // 16x8 top: B
    EXPECT_EQ(f.mvp(0, 2, 4, 2, 1), (MotionVector{4, 0}));   // 16x8 bottom: A
    EXPECT_EQ(f.mvp(0, 0, 2, 4, 1), (MotionVector{4, 0}));   // 8x16 left: A
    EXPECT_EQ(f.mvp(2, 0, 2, 4, 1), (MotionVector{-2, 6}));  // 8x16 right: C
    // 16x8 top whose B has another reference: the median of A, B, C.
    EXPECT_EQ(f.mvp(0, 0, 4, 2, 1), (MotionVector{4, 0}));   // refIdx 1 matches A and C: median (4,0),(8,-4),(-2,6)

    // Sub-macroblock 3 (8x8 at 8,8): C at (16,7) is not available, so D,
    // block 3 of the current macroblock, stands in; B is block 6 and A block 9.
    f.s[4].mbType = MbType::P8x8;
    f.s[4].refIdx = {0, 0, 0, 0};
    f.s[4].mv.fill({});
    f.s[4].mv[3] = {20, 20};
    f.s[4].mv[6] = {-6, 2};
    f.s[4].mv[9] = {10, -10};
    EXPECT_EQ(f.mvp(2, 2, 2, 2, 0), (MotionVector{10, 2}));  // median of (10,-10), (-6,2), (20,20)
    // 4x4 block 3 (at 4,4): its C, block 4, comes later, so D (block 0) is used.
    f.s[4].mv[0] = {7, 7};
    f.s[4].mv[1] = {1, 1};
    f.s[4].mv[2] = {3, 3};
    EXPECT_EQ(f.mvp(1, 1, 1, 1, 0), (MotionVector{3, 3}));  // median of (3,3), (1,1), (7,7)
}

TEST(MotionVectorPredictionTest, PSkipIsZeroAtEdgesAndNextToStillNeighbours)
{
    Field f;
    f.inter(0, 0, 0, 0);
    f.inter(1, 0, 8, -4);
    f.inter(2, 0, -2, 6);
    f.inter(3, 0, 4, 0);
    f.s[4].mbType = MbType::PSkip;
    MbNeighbours n = macroblockNeighbours(f.s, 4);
    EXPECT_EQ(pSkipMotionVector(f.s, n, 4), (MotionVector{4, 0}));
    f.inter(3, 0, 0, 0);
    EXPECT_EQ(pSkipMotionVector(f.s, n, 4), (MotionVector{}));
    f.inter(3, 1, 0, 0);  // a still neighbour with another reference does not count
    EXPECT_EQ(pSkipMotionVector(f.s, n, 4), (MotionVector{0, 0}));  // median (0,0),(8,-4),(-2,6)
    f.inter(3, 1, 12, 0);
    EXPECT_EQ(pSkipMotionVector(f.s, n, 4), (MotionVector{8, 0}));  // B and C match refIdx 0: median (12,0),(8,-4),(-2,6)
    f.s[3].sliceNum = 1;
    n = macroblockNeighbours(f.s, 4);
    EXPECT_EQ(pSkipMotionVector(f.s, n, 4), (MotionVector{}));  // A not available
    EXPECT_EQ(pSkipMotionVector(f.s, macroblockNeighbours(f.s, 1), 1), (MotionVector{}));  // top row
}

} // namespace
} // namespace kestrune::codec
